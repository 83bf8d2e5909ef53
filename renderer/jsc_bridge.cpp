#include "renderer/jsc_bridge.h"

#include <QDebug>

#include "util/log_text.h"

namespace ombrix {
namespace {

JSStringRef NewString(const QString& text) {
  return JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(text.utf16()),
                                      size_t(text.size()));
}

QString ToText(JSContextRef context, JSValueRef value) {
  JSStringRef text = JSValueToStringCopy(context, value, nullptr);
  if (!text) return QString();
  const QString result(reinterpret_cast<const QChar*>(JSStringGetCharactersPtr(text)),
                       int(JSStringGetLength(text)));
  JSStringRelease(text);
  return result;
}

JSValueRef CallNative(JSContextRef context, JSObjectRef function, JSObjectRef, size_t argc,
                      const JSValueRef argv[], JSValueRef* exception) {
  auto* call = static_cast<NativeCall*>(JSObjectGetPrivate(function));
  if (!call) return JSValueMakeUndefined(context);
  return (*call)(context, argc, argv, exception);
}

void FinalizeNative(JSObjectRef function) {
  delete static_cast<NativeCall*>(JSObjectGetPrivate(function));
}

JSClassRef NativeClass() {
  static JSClassRef native = [] {
    JSClassDefinition definition = kJSClassDefinitionEmpty;
    definition.className = "Function";
    definition.callAsFunction = CallNative;
    definition.finalize = FinalizeNative;
    return JSClassCreate(&definition);
  }();
  return native;
}

// Throws exception again from a timer of the page: the page's console,
// window.onerror and "error" listeners see it like any uncaught error of the
// page, while the caller goes on with later callbacks and events.
void ThrowLater(JSContextRef context, JSValueRef exception) {
  JSValueRef rethrow =
      Evaluate(context, "(function (e) { setTimeout(function () { throw e; }, 0); })");
  JSObjectRef function = rethrow ? JSValueToObject(context, rethrow, nullptr) : nullptr;
  if (!function || !JSObjectIsFunction(context, function)) return;
  JSObjectCallAsFunction(context, function, nullptr, 1, &exception, nullptr);
}

}  // namespace

JSValueRef ToJsValue(JSContextRef context, const JsPlain& value) {
  switch (value.kind) {
    case JsPlain::kNull:
      return JSValueMakeNull(context);
    case JsPlain::kBool:
      return JSValueMakeBoolean(context, value.bool_value);
    case JsPlain::kInt:
    case JsPlain::kUInt:
    case JsPlain::kDouble:
      return JSValueMakeNumber(context, value.number);
    case JsPlain::kString: {
      JSStringRef text = NewString(value.text);
      JSValueRef result = JSValueMakeString(context, text);
      JSStringRelease(text);
      return result;
    }
    case JsPlain::kUndefined:
    default:
      return JSValueMakeUndefined(context);
  }
}

JSValueRef CallFunction(JSContextRef context, JSValueRef function,
                        const std::vector<JSValueRef>& args) {
  JSObjectRef object = JSValueToObject(context, function, nullptr);
  if (!object || !JSObjectIsFunction(context, object)) return nullptr;
  JSValueRef exception = nullptr;
  JSValueRef result =
      JSObjectCallAsFunction(context, object, nullptr, args.size(), args.data(), &exception);
  if (exception) {
    qDebug() << "callback threw:" << LogText(ToText(context, exception));
    ThrowLater(context, exception);
  }
  return result;
}

JSObjectRef MakeNativeFunction(JSContextRef context, NativeCall call) {
  JSObjectRef function = JSObjectMake(context, NativeClass(), new NativeCall(std::move(call)));
  // Give it call, apply and bind like any function of the page.
  JSObjectRef global = JSContextGetGlobalObject(context);
  JSObjectRef constructor = GetObject(context, global, "Function");
  if (constructor) {
    JSObjectRef prototype = GetObject(context, constructor, "prototype");
    if (prototype) JSObjectSetPrototype(context, function, prototype);
  }
  return function;
}

void NameFunction(JSContextRef context, JSObjectRef function, const QString& name) {
  FunctionNamer(context).Name(function, name);
}

FunctionNamer::FunctionNamer(JSContextRef context) : context_(context) {
  object_ = GetObject(context, JSContextGetGlobalObject(context), "Object");
  define_ = object_ ? GetObject(context, object_, "defineProperty") : nullptr;
  if (define_ && !JSObjectIsFunction(context, define_)) define_ = nullptr;
  key_ = ToJsValue(context, JsPlain::String(QStringLiteral("name")));
}

void FunctionNamer::Name(JSObjectRef function, const QString& name) const {
  // A function's "name" is read-only on Function.prototype: only a definition
  // sets it (Object.defineProperty(function, "name", {value: name})).
  if (!define_) return;
  JSObjectRef descriptor = JSObjectMake(context_, nullptr, nullptr);
  SetProperty(context_, descriptor, "value", ToJsValue(context_, JsPlain::String(name)));
  const JSValueRef args[] = {function, key_, descriptor};
  JSObjectCallAsFunction(context_, define_, object_, 3, args, nullptr);
}

namespace {

void SetWithAttributes(JSContextRef context, JSObjectRef object, const char* name, JSValueRef value,
                       JSPropertyAttributes attributes) {
  JSStringRef property = JSStringCreateWithUTF8CString(name);
  JSObjectSetProperty(context, object, property, value, attributes, nullptr);
  JSStringRelease(property);
}

}  // namespace

void SetProperty(JSContextRef context, JSObjectRef object, const char* name, JSValueRef value) {
  SetWithAttributes(context, object, name, value, kJSPropertyAttributeNone);
}

JSValueRef CallMethod(JSContextRef context, JSObjectRef object, const char* method,
                      const std::vector<JSValueRef>& args) {
  JSObjectRef function = GetObject(context, object, method);
  if (!function || !JSObjectIsFunction(context, function)) return nullptr;
  JSValueRef exception = nullptr;
  JSValueRef result =
      JSObjectCallAsFunction(context, function, object, args.size(), args.data(), &exception);
  return exception ? nullptr : result;
}

JSValueRef MakeError(JSContextRef context, const QString& message) {
  JSValueRef text = ToJsValue(context, JsPlain::String(message));
  return JSObjectMakeError(context, 1, &text, nullptr);
}

void DefineReadOnly(JSContextRef context, JSObjectRef object, const char* name, JSValueRef value,
                    bool enumerable) {
  JSPropertyAttributes attributes = kJSPropertyAttributeReadOnly | kJSPropertyAttributeDontDelete;
  if (!enumerable) attributes |= kJSPropertyAttributeDontEnum;
  SetWithAttributes(context, object, name, value, attributes);
}

JSValueRef Evaluate(JSContextRef context, const QByteArray& script) {
  JSStringRef text = JSStringCreateWithUTF8CString(script.constData());
  JSValueRef exception = nullptr;
  JSValueRef result = JSEvaluateScript(context, text, nullptr, nullptr, 0, &exception);
  JSStringRelease(text);
  return exception ? nullptr : result;
}

QString EvaluateString(JSContextRef context, const QByteArray& script) {
  const JSValueRef value = Evaluate(context, script);
  if (!value) return QString();
  const JsValue text = JsValue::Borrow(context, value);
  return text.IsString() ? text.GetStringValue() : QString();
}

JSObjectRef GetObject(JSContextRef context, JSObjectRef object, const char* name) {
  JSStringRef property = JSStringCreateWithUTF8CString(name);
  JSValueRef value = JSObjectGetProperty(context, object, property, nullptr);
  JSStringRelease(property);
  if (!value || !JSValueIsObject(context, value)) return nullptr;
  return JSValueToObject(context, value, nullptr);
}

}  // namespace ombrix
