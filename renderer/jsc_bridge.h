// JavaScriptCore helpers of the page side (this folder only).
#pragma once

#include <jsc/jsc.h>

#include "renderer/js_value.h"

namespace ombrix {

// A new JavaScript value in context for a plain value (a full reference).
JSCValue* ToJsc(JSCContext* context, const JsPlain& value);

// Calls function with no receiver; an exception it throws is cleared.
// Returns the result (a full reference, or nullptr).
JSCValue* CallFunction(JSCValue* function, const std::vector<JSCValue*>& args);

}  // namespace ombrix
