// Lock-down on the engine's side: the views' navigations held to the allowed
// addresses, their zoom fixed, pinch and drag-out gestures stopped; the
// technician's exit chord (with its PIN prompt) on every window of the shell.
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <functional>

#include "app/manifest_util.h"
#include "kiosk/lockdown_rules.h"

namespace ombrix {

class Lockdown {
 public:
  // exit ends the shell with status 0.
  Lockdown(const ManifestUtil& manifest, const QString& first_page, std::function<void()> exit);
  ~Lockdown();
  Lockdown(const Lockdown&) = delete;
  Lockdown& operator=(const Lockdown&) = delete;

  // Whether "lockdown" is on: no close from outside, no menu, no tools.
  bool on() const { return on_; }
  // A pop-up shares its opener's scripts.
  void AttachView(WebKitWebView* view, bool popup);
  void AttachWindow(GtkWindow* window);
  // Whether a pop-up may open for action (its address is allowed, or it has none).
  bool AllowsPopup(WebKitNavigationAction* action) const;

 private:
  static gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
  static void OnZoomChanged(WebKitWebView* view, GParamSpec*, gpointer self);
  static gboolean OnViewEvent(GtkWidget* view, GdkEvent* event, gpointer self);
  static gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer self);
  static gboolean OnPinKey(GtkWidget* entry, GdkEventKey* event, gpointer self);
  static void OnPinEntered(GtkEntry* entry, gpointer self);
  bool IsExitChord(const GdkEventKey* event) const;
  void AskForPin(GtkWindow* over);
  void ClosePinPrompt();

  bool on_;
  double zoom_;
  UrlAllowList allowed_;
  KeyChord exit_chord_;
  QString pin_;
  std::function<void()> exit_;
  GtkWidget* pin_window_ = nullptr;
  int wrong_pins_ = 0;
};

}  // namespace ombrix
