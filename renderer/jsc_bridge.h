// JavaScriptCore helpers of the page side (this folder only). The C interface
// is used because it hands a native function its arguments as they are; the
// GLib interface wraps each one in an object of its own, which costs more
// than the whole call.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <QString>
#include <functional>
#include <vector>

#include "renderer/js_value.h"

namespace ombrix {

// A new JavaScript value for a plain value.
JSValueRef ToJsValue(JSContextRef context, const JsPlain& value);

// Calls function with no receiver. An exception it throws is logged and thrown
// again from a timer of the page, so that window.onerror sees it.
JSValueRef CallFunction(JSContextRef context, JSValueRef function,
                        const std::vector<JSValueRef>& args);

// A native function: it sets *exception to throw.
using NativeCall = std::function<JSValueRef(JSContextRef context, size_t argc,
                                            const JSValueRef argv[], JSValueRef* exception)>;
// A callable object (typeof "function", with Function.prototype) that runs call.
JSObjectRef MakeNativeFunction(JSContextRef context, NativeCall call);

// Gives function the name a page reads from its "name" ("runapp").
void NameFunction(JSContextRef context, JSObjectRef function, const QString& name);

// Names many functions of one context, with the page's Object.defineProperty
// looked up once. A local of the binding that uses it: the engine finds the
// values it holds on the stack.
class FunctionNamer {
 public:
  explicit FunctionNamer(JSContextRef context);
  void Name(JSObjectRef function, const QString& name) const;

 private:
  JSContextRef context_;
  JSObjectRef object_ = nullptr;  // Object, the definer's "this"
  JSObjectRef define_ = nullptr;  // Object.defineProperty
  JSValueRef key_ = nullptr;      // "name"
};

// Sets object[name] = value as a page's assignment does.
void SetProperty(JSContextRef context, JSObjectRef object, const char* name, JSValueRef value);

// Calls object[method](args...) with object as "this"; nullptr when there is
// no such function or it threw. No script is parsed: the page side binds and
// raises its events through the engine's builtins alone.
JSValueRef CallMethod(JSContextRef context, JSObjectRef object, const char* method,
                      const std::vector<JSValueRef>& args);

// An Error object with message as its message.
JSValueRef MakeError(JSContextRef context, const QString& message);

// Sets object[name] = value, read-only and not deletable.
void DefineReadOnly(JSContextRef context, JSObjectRef object, const char* name, JSValueRef value,
                    bool enumerable);

// Runs script in context; the result, or nullptr when it threw.
JSValueRef Evaluate(JSContextRef context, const QByteArray& script);
// The string script gives; "" when it threw or gave anything else.
QString EvaluateString(JSContextRef context, const QByteArray& script);

JSObjectRef GetObject(JSContextRef context, JSObjectRef object, const char* name);

}  // namespace ombrix
