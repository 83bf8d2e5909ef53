#include "renderer/js_value.h"

#include <jsc/jsc.h>

#include <cmath>

namespace ombrix {
namespace {

// Drops an exception that a conversion or getter left in the value's context,
// so that it does not surface in the page's next statement.
void ClearException(JSCValue* value) {
  JSCContext* context = jsc_value_get_context(value);
  if (jsc_context_get_exception(context)) jsc_context_clear_exception(context);
}

}  // namespace

JsValue::JsValue(JSCValue* value) : value_(value ? JSC_VALUE(g_object_ref(value)) : nullptr) {}

JsValue JsValue::Borrow(JSCValue* value) {
  JsValue borrowed;
  borrowed.value_ = value;
  borrowed.owned_ = false;
  return borrowed;
}

JsValue::JsValue(const JsValue& other)
    : value_(other.value_ ? JSC_VALUE(g_object_ref(other.value_)) : nullptr) {}

JsValue::JsValue(JsValue&& other) noexcept : value_(other.value_), owned_(other.owned_) {
  other.value_ = nullptr;
}

JsValue& JsValue::operator=(const JsValue& other) {
  if (this == &other) return *this;
  JSCValue* old = owned_ ? value_ : nullptr;
  value_ = other.value_ ? JSC_VALUE(g_object_ref(other.value_)) : nullptr;
  owned_ = true;
  if (old) g_object_unref(old);
  return *this;
}

JsValue::~JsValue() {
  if (value_ && owned_) g_object_unref(value_);
}

bool JsValue::IsUndefined() const { return !value_ || jsc_value_is_undefined(value_); }
bool JsValue::IsNull() const { return value_ && jsc_value_is_null(value_); }
bool JsValue::IsString() const { return value_ && jsc_value_is_string(value_); }
bool JsValue::IsNumber() const { return value_ && jsc_value_is_number(value_); }
bool JsValue::IsBool() const { return value_ && jsc_value_is_boolean(value_); }
bool JsValue::IsFunction() const { return value_ && jsc_value_is_function(value_); }
bool JsValue::IsArray() const { return value_ && jsc_value_is_array(value_); }
bool JsValue::IsObject() const { return value_ && jsc_value_is_object(value_); }

QString JsValue::GetStringValue() const {
  if (!IsString()) return QString();
  // As bytes, so that a NUL inside the text does not cut it.
  GBytes* bytes = jsc_value_to_string_as_bytes(value_);
  if (!bytes) return QString();
  gsize size = 0;
  const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  const QString text = QString::fromUtf8(data, int(size));
  g_bytes_unref(bytes);
  return text;
}

int JsValue::GetIntValue() const {
  if (!IsNumber()) return 0;
  const double number = jsc_value_to_double(value_);
  if (!std::isfinite(number)) return 0;
  return jsc_value_to_int32(value_);  // ECMAScript ToInt32: truncates and wraps
}

double JsValue::GetDoubleValue() const {
  return IsNumber() ? jsc_value_to_double(value_) : std::nan("");
}

bool JsValue::GetBoolValue() const { return IsBool() && jsc_value_to_boolean(value_); }

JsValue JsValue::GetValue(const char* property) const {
  if (!IsObject()) return JsValue();
  JSCValue* result = jsc_value_object_get_property(value_, property);
  ClearException(value_);
  JsValue wrapped(result);
  if (result) g_object_unref(result);
  return wrapped;
}

int JsValue::GetArrayLength() const {
  if (!IsArray()) return 0;
  const JsValue length = GetValue("length");
  return length.IsNumber() ? length.GetIntValue() : 0;
}

JsValue JsValue::GetArrayValue(int index) const {
  if (!IsArray() || index < 0) return JsValue();
  JSCValue* result = jsc_value_object_get_property_at_index(value_, guint(index));
  ClearException(value_);
  JsValue wrapped(result);
  if (result) g_object_unref(result);
  return wrapped;
}

JsPlain JsPlain::Bool(bool value) {
  JsPlain plain;
  plain.kind = kBool;
  plain.bool_value = value;
  return plain;
}

JsPlain JsPlain::Int(int value) {
  JsPlain plain;
  plain.kind = kInt;
  plain.number = value;
  return plain;
}

JsPlain JsPlain::UInt(unsigned value) {
  JsPlain plain;
  plain.kind = kUInt;
  plain.number = value;
  return plain;
}

JsPlain JsPlain::Double(double value) {
  JsPlain plain;
  plain.kind = kDouble;
  plain.number = value;
  return plain;
}

JsPlain JsPlain::String(const QString& value) {
  JsPlain plain;
  plain.kind = kString;
  plain.text = value;
  return plain;
}

}  // namespace ombrix
