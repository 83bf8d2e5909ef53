#include "renderer/ombrix_cef_render.h"

#include <QDebug>
#include <cstdio>
#include <cstring>

#include "api/download_file.h"
#include "app/extension_init.h"
#include "app/manifest_util.h"
#include "renderer/jsc_bridge.h"
#include "renderer/object_tree.h"
#include "renderer/page_messages.h"
#include "renderer/page_print.h"
#include "renderer/query_router.h"
#include "util/local_encoding.h"
#include "util/log_text.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

// What one bound function knows: its family's handler, its name, its context.
struct Binding {
  std::shared_ptr<FunHandler> handler;
  QString name;
  ContextToken token;
  std::uint64_t page_id;
};

JSValueRef Invoke(const Binding& binding, JSContextRef context, size_t argc,
                  const JSValueRef argv[], JSValueRef* exception) {
  JsArgs arguments;
  arguments.reserve(argc);
  for (size_t i = 0; i < argc; ++i) arguments.push_back(JsValue::Borrow(context, argv[i]));

  const std::shared_ptr<FunHandler> handler = binding.handler;  // alive for the call
  CallScope scope(CallContext{binding.token, binding.page_id, JSContextGetGlobalContext(context)});
  JsReturn retval;
  QString text;
  bool handled = false;
  try {
    handled = handler->Execute(binding.name, arguments, &retval, &text);
  } catch (const std::exception& error) {
    qDebug() << "call failed" << binding.name << error.what();
  } catch (...) {
    qDebug() << "call failed" << binding.name;
  }
  if (handled && !text.isEmpty()) {
    *exception = MakeError(context, text);
    return JSValueMakeUndefined(context);
  }
  if (handled && retval.is_set()) return ToJsValue(context, retval.value());
  return JSValueMakeUndefined(context);
}

// The frame's script context in the engine's C interface.
JSGlobalContextRef ContextOf(WebKitFrame* frame, WebKitScriptWorld* world) {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  return webkit_frame_get_javascript_context_for_script_world(frame, world);
  G_GNUC_END_IGNORE_DEPRECATIONS
}

// The origin the engine gave the document (read before any page script runs):
// "null" for a sandboxed one, whatever its address.
QString DocumentOrigin(JSGlobalContextRef context) {
  JSStringRef name = JSStringCreateWithUTF8CString("origin");  // self.origin
  const JSValueRef origin =
      JSObjectGetProperty(context, JSContextGetGlobalObject(context), name, nullptr);
  JSStringRelease(name);
  if (!origin) return QString();
  const JsValue text = JsValue::Borrow(context, origin);
  return text.IsString() ? text.GetStringValue() : QString();
}

// A trusted document cannot widen its origin to its parent domain, so a frame
// of a sibling origin cannot become its same-origin peer through
// `document.domain`: the setter does nothing, and stays so.
const char kLockDocumentDomain[] = R"((function() {
  const domain = Object.getOwnPropertyDescriptor(Document.prototype, 'domain');
  if (!domain || !domain.set || !domain.configurable) return;
  Object.defineProperty(Document.prototype, 'domain', {
    get: domain.get, set: function() {}, enumerable: domain.enumerable, configurable: false});
})();)";

}  // namespace

OmbrixCefRender& OmbrixCefRender::Get() {
  static OmbrixCefRender render;
  return render;
}

void OmbrixCefRender::Initialize(WebKitWebExtension* extension, TrustedOrigins trust,
                                 bool print_silent) {
  extension_ = extension;
  trust_ = std::move(trust);
  print_silent_ = print_silent;
  SetPageExtension(extension);
  g_signal_connect(extension, "page-created", G_CALLBACK(OnPageCreated), this);
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(OnWindowObjectCleared), this);
}

void OmbrixCefRender::OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer self) {
  g_signal_connect(page, "user-message-received", G_CALLBACK(OnPageMessage), self);
}

void OmbrixCefRender::OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page,
                                            WebKitFrame* frame, gpointer self) {
  JSGlobalContextRef context = ContextOf(frame, world);
  if (!context) return;
  static_cast<OmbrixCefRender*>(self)->OnContextCreated(page, frame, context);
}

void OmbrixCefRender::OnFrameGone(gpointer self, GObject* frame) {
  auto* render = static_cast<OmbrixCefRender*>(self);
  auto* gone = reinterpret_cast<WebKitFrame*>(frame);
  render->ForgetFrameContext(gone);
  for (auto main = render->main_frames_.begin(); main != render->main_frames_.end();) {
    main = main->second == gone ? render->main_frames_.erase(main) : std::next(main);
  }
}

bool OmbrixCefRender::ForgetFrameContext(WebKitFrame* frame) {
  auto it = frame_contexts_.find(frame);
  if (it == frame_contexts_.end()) return false;
  const ContextToken token = it->second;
  frame_contexts_.erase(it);
  QueryRouter::Get().OnContextReleased(token);
  CallbackRegistry::Get().ReleaseContext(token);
  PagePrint::Get().OnContextReleased(token);
  return true;
}

void OmbrixCefRender::ReleaseFrameContext(WebKitFrame* frame) {
  // A frame seen for the first time is watched, so its end releases it too.
  if (!ForgetFrameContext(frame)) g_object_weak_ref(G_OBJECT(frame), OnFrameGone, this);
}

namespace {

// Tells the shell when the sub-frame's document has loaded. The listener is
// added before any of the frame's own scripts run and is out of their reach.
void WatchSubFrameLoad(WebKitWebPage* page, JSGlobalContextRef context) {
  const std::uint64_t page_id = webkit_web_page_get_id(page);
  JSObjectRef listener = MakeNativeFunction(
      context, [page_id](JSContextRef call_context, size_t, const JSValueRef[], JSValueRef*) {
        SendToBrowser(page_id, ProcessMessage{QString::fromLatin1(kFrameLoadedMessage), {}});
        return JSValueMakeUndefined(call_context);
      });
  CallFunction(context,
               Evaluate(context, "(function (f) { addEventListener('load', f, {once: true}); })"),
               {listener});
}

}  // namespace

void OmbrixCefRender::OnContextCreated(WebKitWebPage* page, WebKitFrame* frame,
                                       JSGlobalContextRef context) {
  // The frame's previous document (if any) is gone: so are its pending calls.
  ReleaseFrameContext(frame);
  if (!webkit_frame_is_main_frame(frame)) WatchSubFrameLoad(page, context);
  const ContextToken token = ++next_token_;
  frame_contexts_[frame] = token;
  const bool trusted = TrustsFrame(frame, context);
  if (webkit_frame_is_main_frame(frame)) {
    if (trusted) {
      main_frames_[page] = frame;
    } else {
      main_frames_.erase(page);
    }
  }
  if (print_silent_ && PrintsSilently(frame, context, trusted)) {
    PagePrint::Get().Install(webkit_web_page_get_id(page), webkit_frame_is_main_frame(frame),
                             context, token);
  }
  if (!trusted) return;  // as in a plain browser: neither `ombrix` nor `cefQuery`
  if (!trust_.everyone()) Evaluate(context, kLockDocumentDomain);

  QueryRouter::Get().OnContextCreated(page, context, token);
  JSStringRef name = JSStringCreateWithUTF8CString("ombrix");
  const bool taken = JSObjectHasProperty(context, JSContextGetGlobalObject(context), name);
  JSStringRelease(name);
  if (taken) return;  // the page's own `ombrix` stays untouched
  BindObjectTree(page, context, token);
}

bool OmbrixCefRender::TrustsFrame(WebKitFrame* frame, JSGlobalContextRef context) const {
  if (trust_.everyone()) return true;
  const char* uri = webkit_frame_get_uri(frame);
  const QString url = QString::fromUtf8(uri ? uri : "");
  const QString origin = OriginOfUrl(url);
  if (!trust_.Trusts(origin)) {
    qDebug() << "no ombrix for a frame of an untrusted origin:" << LoggedOrigin(url);
    return false;
  }
  // A sandboxed frame (the sandbox attribute, a CSP sandbox) has a trusted
  // address but an opaque origin of its own.
  const QString document = DocumentOrigin(context);
  if (SameOrigin(origin, document)) return true;
  // A file: page opened with window.open reads as "null" when its context is
  // made (cause not yet known); only iframes are held to their own origin there.
  if (origin == QLatin1String("file://") && webkit_frame_is_main_frame(frame)) return true;
  qDebug() << "no ombrix for a frame of" << origin << "whose document's origin is" << document;
  return false;
}

bool OmbrixCefRender::PrintsSilently(WebKitFrame* frame, JSGlobalContextRef context,
                                     bool trusted) const {
  if (trusted) return true;
  if (webkit_frame_is_main_frame(frame)) return false;
  const char* uri = webkit_frame_get_uri(frame);
  const QString url = QString::fromUtf8(uri ? uri : "");
  if (url != QLatin1String("about:blank") && url != QLatin1String("about:srcdoc") && !url.isEmpty())
    return false;
  return trust_.Trusts(DocumentOrigin(context));
}

JSGlobalContextRef OmbrixCefRender::ContextOfToken(ContextToken token) const {
  for (const auto& frame : frame_contexts_) {
    if (frame.second == token) return ContextOf(frame.first, webkit_script_world_get_default());
  }
  return nullptr;
}

void OmbrixCefRender::BindObjectTree(WebKitWebPage* page, JSGlobalContextRef context,
                                     ContextToken token) {
  // ombrix = {}; ombrix.app = {}; ... as plain objects of the page's own.
  JSObjectRef ombrix = JSObjectMake(context, nullptr, nullptr);
  SetProperty(context, JSContextGetGlobalObject(context), "ombrix", ombrix);
  for (const char* name : TreeObjects()) {
    SetProperty(context, ombrix, name, JSObjectMake(context, nullptr, nullptr));
  }
  const std::uint64_t page_id = webkit_web_page_get_id(page);
  const FunctionNamer namer(context);
  for (const FamilyBinding& family : BindingTable()) {
    if (!std::strcmp(family.object, "requestfile")) {
      qDebug() << "AppTitle"
               << ManifestUtil::Instance(QStringLiteral("manifest.json")).application_title_;
    }
    JSObjectRef object = GetObject(context, ombrix, family.object);
    if (!object) continue;
    const std::shared_ptr<FunHandler> handler = CreateFamilyHandler(family.object, page_id);
    for (const char* name : family.functions) {
      const Binding binding{handler, QString::fromLatin1(name), token, page_id};
      JSObjectRef function =
          MakeNativeFunction(context, [binding](JSContextRef call_context, size_t argc,
                                                const JSValueRef argv[], JSValueRef* exception) {
            return Invoke(binding, call_context, argc, argv, exception);
          });
      // Named like the page's own functions (ombrix.app.runapp.name is "runapp").
      namer.Name(function, binding.name);
      // Read-only and not deletable, but enumerable like the page's own properties.
      DefineReadOnly(context, object, name, function, true);
    }
  }
}

void OmbrixCefRender::RaiseWindowState(WebKitWebPage* page, const char* state) {
  auto it = main_frames_.find(page);
  if (it == main_frames_.end()) return;
  JSGlobalContextRef context = ContextOf(it->second, webkit_script_world_get_default());
  if (context) DispatchWindowState(context, QString::fromUtf8(state));
}

gboolean OmbrixCefRender::OnPageMessage(WebKitWebPage* page, WebKitUserMessage* message,
                                        gpointer self) {
  const char* name = webkit_user_message_get_name(message);
  auto* render = static_cast<OmbrixCefRender*>(self);
  if (!std::strcmp(name, kPingMessage)) {
    webkit_user_message_send_reply(message, webkit_user_message_new(kPingMessage, nullptr));
    return TRUE;
  }
  if (IsWindowStateMessage(name)) {
    render->RaiseWindowState(page, name);
    return TRUE;
  }
  if (!std::strcmp(name, kPrintResultMessage)) {
    PagePrint::Get().OnResult(
        DecodeMessage(name, webkit_user_message_get_parameters(message)),
        [render](ContextToken token) { return render->ContextOfToken(token); });
    return TRUE;
  }
  return QueryRouter::Get().OnProcessMessageReceived(page, message);
}

}  // namespace ombrix

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* user_data) {
  ombrix::UseUtf8LocalEncoding();
  const ombrix::ExtensionInitData data =
      ombrix::ReadExtensionInitData(const_cast<GVariant*>(user_data));
  if (data.debug_log_off) ombrix::DropDebugLines();
  if (!data.executable.isEmpty()) ombrix::SetExecutablePath(data.executable);
  ombrix::SetDownloadUserAgent(data.user_agent);
  ManifestUtil& manifest = ManifestUtil::Instance(QStringLiteral("manifest.json"));
  if (data.has_manifest) {
    manifest.SetContent(data.manifest_content);
    manifest.Parse();
    manifest.command_line_ = data.command_line;
  }
  const ombrix::TrustedOrigins trust =
      data.has_trusted_origins ? ombrix::TrustedOrigins::FromList(data.trusted_origins, nullptr)
                               : ombrix::TrustedOrigins::Everyone();
  ombrix::OmbrixCefRender::Get().Initialize(extension, trust, data.print_silent);
}
