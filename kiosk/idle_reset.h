// The idle reset on the engine's side: input on any of the shell's windows is
// watched; before the reset the main page is sent its cancelable "idlereset"
// event and, when it does not cancel, the shell draws its own countdown above
// the main window; the reset then wipes what a customer left in the engine
// and loads the first page.
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <functional>
#include <memory>

#include "app/manifest_util.h"
#include "kiosk/idle_rules.h"

namespace ombrix {

class IdleReset {
 public:
  // nullptr unless the manifest's "kiosk.idle_reset_seconds" is above 0.
  // close_others closes what the shell has open beside the main page (the
  // pop-ups, the developer tools, the file choosers with their queries); it
  // runs first in every reset.
  static std::unique_ptr<IdleReset> Create(const ManifestUtil& manifest, GtkWindow* window,
                                           WebKitWebView* view, const QString& first_page,
                                           std::function<void()> close_others);

  IdleReset(const ManifestUtil& manifest, GtkWindow* window, WebKitWebView* view,
            const QString& first_page, std::function<void()> close_others);
  ~IdleReset();
  IdleReset(const IdleReset&) = delete;
  IdleReset& operator=(const IdleReset&) = delete;

 private:
  // Every event of the shell passes here on its way to its widget.
  static void OnEvent(GdkEvent* event, gpointer self);
  static gboolean OnTick(gpointer self);
  static void OnVisible(GObject* window, GParamSpec*, gpointer self);
  static void OnAnswer(GObject* source, GAsyncResult* result, gpointer data);
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri,
                               GError* error, gpointer self);
  static void OnCleared(GObject* source, GAsyncResult* result, gpointer self);
  static gboolean OnBlankOverdue(gpointer self);

  void Do(IdleAction action);
  void Arm();
  void Ask();
  void ShowCountdown();
  void HideCountdown();
  void StartReset();
  // The page has gone (or is overdue): the data goes, then the first page loads.
  void PageGone();
  void LoadFirstPage();
  bool Shown() const;

  GtkWindow* window_;
  WebKitWebView* view_;
  QString first_page_;
  bool clear_data_;
  std::function<void()> close_others_;
  IdleTimer timer_;
  guint tick_ = 0;
  GCancellable* cancellable_;
  GtkWidget* countdown_ = nullptr;  // the shell's own window above the main one
  GtkWidget* countdown_label_ = nullptr;
  bool leaving_ = false;      // the reset waits for the old page to go
  bool page_loaded_ = false;  // the main page has finished its load
  guint blank_overdue_ = 0;
};

}  // namespace ombrix
