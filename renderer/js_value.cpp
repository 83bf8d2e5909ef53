#include "renderer/js_value.h"

#include <JavaScriptCore/JavaScript.h>

#include <cmath>

namespace ombrix {
namespace {

JSStringRef NewString(const char* text) { return JSStringCreateWithUTF8CString(text); }

int ToInt32(double number) {
  if (!std::isfinite(number)) return 0;
  double wrapped = std::fmod(std::trunc(number), 4294967296.0);
  if (wrapped < 0) wrapped += 4294967296.0;
  if (wrapped >= 2147483648.0) wrapped -= 4294967296.0;
  return int(wrapped);
}

}  // namespace

JsValue JsValue::Borrow(JSContextRef context, JSValueRef value) {
  JsValue borrowed;
  borrowed.context_ = JSContextGetGlobalContext(context);
  borrowed.value_ = value;
  return borrowed;
}

JsValue JsValue::Hold(JSContextRef context, JSValueRef value) {
  JsValue held;
  if (!context || !value) return held;
  held.context_ = JSGlobalContextRetain(JSContextGetGlobalContext(context));
  held.value_ = value;
  held.held_ = true;
  JSValueProtect(held.context_, value);
  return held;
}

JsValue::JsValue(const JsValue& other) { *this = Hold(other.context_, other.value_); }

JsValue::JsValue(JsValue&& other) noexcept
    : context_(other.context_), value_(other.value_), held_(other.held_) {
  other.context_ = nullptr;
  other.value_ = nullptr;
  other.held_ = false;
}

JsValue& JsValue::operator=(const JsValue& other) {
  if (this != &other) *this = Hold(other.context_, other.value_);
  return *this;
}

JsValue& JsValue::operator=(JsValue&& other) noexcept {
  if (this == &other) return *this;
  Release();
  context_ = other.context_;
  value_ = other.value_;
  held_ = other.held_;
  other.context_ = nullptr;
  other.value_ = nullptr;
  other.held_ = false;
  return *this;
}

JsValue::~JsValue() { Release(); }

void JsValue::Release() {
  if (held_) {
    JSValueUnprotect(context_, value_);
    JSGlobalContextRelease(context_);
  }
  context_ = nullptr;
  value_ = nullptr;
  held_ = false;
}

bool JsValue::IsUndefined() const { return !value_ || JSValueIsUndefined(context_, value_); }
bool JsValue::IsNull() const { return value_ && JSValueIsNull(context_, value_); }
bool JsValue::IsString() const { return value_ && JSValueIsString(context_, value_); }
bool JsValue::IsNumber() const { return value_ && JSValueIsNumber(context_, value_); }
bool JsValue::IsBool() const { return value_ && JSValueIsBoolean(context_, value_); }
bool JsValue::IsArray() const { return value_ && JSValueIsArray(context_, value_); }
bool JsValue::IsObject() const { return value_ && JSValueIsObject(context_, value_); }

bool JsValue::IsFunction() const {
  return IsObject() && JSObjectIsFunction(context_, JSValueToObject(context_, value_, nullptr));
}

QString JsValue::GetStringValue() const {
  if (!IsString()) return QString();
  JSStringRef text = JSValueToStringCopy(context_, value_, nullptr);
  if (!text) return QString();
  // UTF-16 straight across: a NUL inside the text does not cut it.
  const QString result(reinterpret_cast<const QChar*>(JSStringGetCharactersPtr(text)),
                       int(JSStringGetLength(text)));
  JSStringRelease(text);
  return result;
}

int JsValue::GetIntValue() const { return IsNumber() ? ToInt32(GetDoubleValue()) : 0; }

bool JsValue::GetBoolValue() const { return IsBool() && JSValueToBoolean(context_, value_); }

double JsValue::GetDoubleValue() const {
  return IsNumber() ? JSValueToNumber(context_, value_, nullptr) : std::nan("");
}

JsValue JsValue::GetValue(const char* property) const {
  if (!IsObject()) return JsValue();
  JSObjectRef object = JSValueToObject(context_, value_, nullptr);
  JSStringRef name = NewString(property);
  JSValueRef exception = nullptr;
  JSValueRef result = JSObjectGetProperty(context_, object, name, &exception);
  JSStringRelease(name);
  return exception || !result ? JsValue() : Hold(context_, result);
}

int JsValue::GetArrayLength() const {
  if (!IsArray()) return 0;
  const JsValue length = GetValue("length");
  return length.IsNumber() ? length.GetIntValue() : 0;
}

JsValue JsValue::GetArrayValue(int index) const {
  if (!IsArray() || index < 0) return JsValue();
  JSObjectRef object = JSValueToObject(context_, value_, nullptr);
  JSValueRef exception = nullptr;
  JSValueRef result = JSObjectGetPropertyAtIndex(context_, object, unsigned(index), &exception);
  return exception || !result ? JsValue() : Hold(context_, result);
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
