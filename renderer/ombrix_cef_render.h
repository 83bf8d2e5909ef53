// The page side of the shell, loaded into every web process: gives the script
// context of every frame whose origin is trusted the `ombrix` object tree and
// the query functions,
// turns window-state messages into the page's "windowstate" event, and drops a
// context's pending callbacks when that context goes.
#pragma once

#include <webkit2/webkit-web-extension.h>

#include <QString>
#include <map>
#include <memory>
#include <utility>

#include "renderer/callback_registry.h"
#include "renderer/js_value.h"
#include "util/trusted_origins.h"

namespace ombrix {

class OmbrixCefRender {
 public:
  static OmbrixCefRender& Get();
  // print_silent: window.print() of a trusted frame asks the shell to print.
  void Initialize(WebKitWebExtension* extension, TrustedOrigins trust, bool print_silent);
  WebKitWebExtension* extension() const { return extension_; }

 private:
  static void OnPageCreated(WebKitWebExtension* extension, WebKitWebPage* page, gpointer self);
  static void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page,
                                    WebKitFrame* frame, gpointer self);
  static gboolean OnPageMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer self);
  static void OnFrameGone(gpointer self, GObject* frame);

  void OnContextCreated(WebKitWebPage* page, WebKitFrame* frame, JSGlobalContextRef context);
  void ReleaseFrameContext(WebKitFrame* frame);
  // Releases the frame's current context; false when it had none.
  bool ForgetFrameContext(WebKitFrame* frame);
  void RaiseWindowState(WebKitWebPage* page, const char* state);
  void BindObjectTree(WebKitWebPage* page, JSGlobalContextRef context, ContextToken token);

  // Whether a frame's document gets the object tree and the query functions:
  // its address and its document's own origin are both of a trusted origin.
  bool TrustsFrame(WebKitFrame* frame, JSGlobalContextRef context) const;
  // Whether a frame's window.print prints without a dialog: a trusted frame,
  // or an about:blank or srcdoc one whose document has a trusted origin (a
  // receipt laid out by its parent's script).
  bool PrintsSilently(WebKitFrame* frame, JSGlobalContextRef context, bool trusted) const;
  // The script context of the frame whose current document has token.
  JSGlobalContextRef ContextOfToken(ContextToken token) const;

  WebKitWebExtension* extension_ = nullptr;
  TrustedOrigins trust_ = TrustedOrigins::Everyone();
  bool print_silent_ = false;
  std::map<WebKitFrame*, ContextToken> frame_contexts_;
  std::map<WebKitWebPage*, WebKitFrame*> main_frames_;  // trusted ones only
  ContextToken next_token_ = 0;
};

}  // namespace ombrix
