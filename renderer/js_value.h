// The page-facing value types that the function families work with. Only the
// files of this folder talk to JavaScriptCore; families see plain C++ and Qt.
#pragma once

#include <QString>
#include <memory>
#include <vector>

typedef const struct OpaqueJSContext* JSContextRef;
typedef struct OpaqueJSContext* JSGlobalContextRef;
typedef const struct OpaqueJSValue* JSValueRef;

namespace ombrix {

// A JavaScript value received from a page. A held value keeps itself and its
// context alive, so held values must be dropped when their context goes.
class JsValue {
 public:
  JsValue() = default;
  // A value the engine keeps alive for the length of a call (an argument).
  static JsValue Borrow(JSContextRef context, JSValueRef value);
  // A value kept alive, with its context, until this object goes.
  static JsValue Hold(JSContextRef context, JSValueRef value);
  JsValue(const JsValue& other);  // a copy always holds
  JsValue(JsValue&& other) noexcept;
  JsValue& operator=(const JsValue& other);
  JsValue& operator=(JsValue&& other) noexcept;
  ~JsValue();

  bool IsValid() const { return value_ != nullptr; }
  bool IsUndefined() const;
  bool IsNull() const;
  bool IsString() const;
  bool IsNumber() const;
  bool IsBool() const;
  bool IsFunction() const;
  bool IsArray() const;
  bool IsObject() const;

  // Conversions in the manner of the engine's typed getters: a value of another
  // type gives "", 0 or false, and never runs page code.
  QString GetStringValue() const;
  int GetIntValue() const;  // ECMAScript ToInt32 of a number
  bool GetBoolValue() const;
  double GetDoubleValue() const;  // NaN for a value that is not a number

  // Object and array access; a missing property reads as undefined. Getters of
  // the page may run; an exception they throw is dropped.
  JsValue GetValue(const char* property) const;
  int GetArrayLength() const;
  JsValue GetArrayValue(int index) const;

  JSGlobalContextRef context() const { return context_; }
  JSValueRef ref() const { return value_; }

 private:
  void Release();

  JSGlobalContextRef context_ = nullptr;
  JSValueRef value_ = nullptr;
  bool held_ = false;
};

using JsArgs = std::vector<JsValue>;

// A plain value made on any thread and turned into a JavaScript value on the
// page's thread (return values and callback arguments).
struct JsPlain {
  enum Kind { kUndefined, kNull, kBool, kInt, kUInt, kDouble, kString };
  Kind kind = kUndefined;
  bool bool_value = false;
  double number = 0;
  QString text;

  static JsPlain Undefined() { return JsPlain(); }
  static JsPlain Bool(bool value);
  static JsPlain Int(int value);
  static JsPlain UInt(unsigned value);
  static JsPlain Double(double value);
  static JsPlain String(const QString& value);
};

// The return-value slot of a call.
class JsReturn {
 public:
  void Set(const JsPlain& value) {
    value_ = value;
    set_ = true;
  }
  bool is_set() const { return set_; }
  const JsPlain& value() const { return value_; }

 private:
  JsPlain value_;
  bool set_ = false;
};

// One function family: one instance per script context, shared by the family's
// functions and alive while any of them is.
class FunHandler {
 public:
  virtual ~FunHandler() = default;
  // True with an exception text: the call throws an Error with that text. True
  // with a return value: the call yields it. Otherwise: undefined.
  virtual bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
                       QString* exception) = 0;
};

}  // namespace ombrix
