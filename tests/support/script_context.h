// Helpers for tests that stand a JavaScriptCore context in for a page.
#pragma once

#include <JavaScriptCore/JavaScript.h>
#include <glib.h>

#include <chrono>
#include <functional>
#include <thread>

#include "renderer/js_value.h"

namespace ombrix::test_support {

// The value of script in context (undefined when it threw).
inline JsValue Evaluate(JSGlobalContextRef context, const char* script) {
  JSStringRef text = JSStringCreateWithUTF8CString(script);
  JSValueRef result = JSEvaluateScript(context, text, nullptr, nullptr, 0, nullptr);
  JSStringRelease(text);
  return JsValue::Hold(context, result);
}

// The elements of an array value, as a call's arguments.
inline JsArgs ArrayElements(const JsValue& array) {
  JsArgs args;
  for (int i = 0; i < array.GetArrayLength(); ++i) args.push_back(array.GetArrayValue(i));
  return args;
}

// Runs the default main loop (where completions land) until condition holds.
inline bool PumpUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return true;
}

}  // namespace ombrix::test_support
