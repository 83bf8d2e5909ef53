// The one client of the browser engine in the shell: it owns the main window and
// every pop-up and developer-tools window, shows the main window in the
// manifest's launch state once the first page has loaded, builds the context
// menu, carries out the page's window requests and ends the program.
#pragma once

#include <webkit2/webkit2.h>

#include <memory>
#include <string>
#include <vector>

#include "app/manifest_util.h"
#include "browser/crash_restart.h"
#include "browser/message_dispatch.h"
#include "browser/ombrix_win.h"
#include "browser/query_router.h"
#include "kiosk/idle_reset.h"
#include "kiosk/lockdown.h"
#include "kiosk/page_status.h"
#include "kiosk/recovery.h"
#include "util/trusted_origins.h"
#include "util/util_win.h"

class OmbrixCefHandler {
 public:
  OmbrixCefHandler(WebKitWebContext* context, ManifestUtil& manifest);
  ~OmbrixCefHandler();
  OmbrixCefHandler(const OmbrixCefHandler&) = delete;
  OmbrixCefHandler& operator=(const OmbrixCefHandler&) = delete;

  // Creates the hidden main window on url with the given title.
  void CreateMainBrowser(const QString& url, const QString& title);

  // Sends one of the five "windowstate.*" messages to the main page; false for
  // any other name.
  bool NotifyWindowState(const std::string& state_name);

  // Ends the program: tray removed, windows closed, main loop left.
  void ExitApp();

  // Closes the main window as its close request does: "w,m_Close" on standard
  // output, then the window is hidden while the tray icon is shown, else the
  // program ends.
  void CloseMainWindow();

  // Opens the developer tools of view; with inspect set, at the pointer.
  void ShowDevTools(WebKitWebView* view, bool inspect);

  GtkWindow* main_window() const { return main_window_; }
  WebKitWebView* main_browser() const { return main_browser_; }
  bool exiting() const { return exiting_; }

  bool disable_resize_ = false;
  std::vector<ombrix::Rect> caption_regions_;
  ombrix::MainWindowFrame frame_;  // the window layer's state of the main window
  ombrix::QueryRouterBrowser query_router_;
  // Whose messages and queries the shell acts on (the page in the sending view).
  const ombrix::TrustedOrigins trust_;
  // What the main page is doing (loading, shown, restarting, hung, ...).
  ombrix::PageStatusBoard page_status_;
  // Printing without a dialog ("print.silent"), else nullptr.
  std::unique_ptr<ombrix::SilentPrint> print_;
  // Whether view is one of the shell's windows' views.
  bool HasView(WebKitWebView* view) const;

 private:
  struct Browser {
    GtkWindow* window;
    WebKitWebView* view;
  };

  // The page query handlers: window commands first, then file dialogs.
  void InstallQueryHandlers();
  WebKitWebView* NewView(WebKitWebView* related);
  GtkWindow* NewWindow(WebKitWebView* view, bool main);
  void ConnectViewSignals(WebKitWebView* view);
  void ApplyLaunchState(bool load_failed);
  // Drops the browser of view from the list; its window, or nullptr.
  GtkWindow* ForgetBrowser(WebKitWebView* view);
  void CloseBrowser(WebKitWebView* view);
  void OnMainWindowClosing();

  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  // Ends the view's open queries when its new page is not of a trusted origin.
  void OnLoadCommitted(WebKitWebView* view);
  static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri,
                               GError* error, gpointer self);
  static gboolean OnContextMenu(WebKitWebView* view, WebKitContextMenu* menu, GdkEvent* event,
                                WebKitHitTestResult* hit, gpointer self);
  static GtkWidget* OnCreate(WebKitWebView* view, WebKitNavigationAction* action, gpointer self);
  static void OnPopupTitle(WebKitWebView* view, GParamSpec* pspec, gpointer window);
  static void OnReadyToShow(WebKitWebView* view, gpointer self);
  static void OnViewClose(WebKitWebView* view, gpointer self);
  static gboolean OnDeleteEvent(GtkWidget* window, GdkEvent* event, gpointer self);
  static gboolean OnUserMessage(WebKitWebView* view, WebKitUserMessage* message, gpointer self);
  // False (with a debug line) when view's page is not of a trusted origin.
  bool TrustsSender(WebKitWebView* view, WebKitUserMessage* message) const;
  static void OnWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                                     gpointer self);
  static gboolean OnInspectorAttach(WebKitWebInspector* inspector, gpointer self);
  static gboolean OnKeyPress(GtkWidget* view, GdkEventKey* event, gpointer self);

  WebKitWebContext* context_;
  ManifestUtil& manifest_;
  WebKitWebView* main_browser_ = nullptr;
  GtkWindow* main_window_ = nullptr;
  std::vector<Browser> browsers_;
  bool shown_once_ = false;
  // The last failed load: the "finished" events that belong to it (its own and
  // its error page's) must not place the window again.
  struct FailedLoad {
    WebKitWebView* view = nullptr;
    QString uri;
    bool ending = false;  // its own "finished" is still to come
  };
  FailedLoad failed_load_;
  bool exiting_ = false;
  // A crashed or hung page is loaded again at once a few times a minute;
  // beyond that after a growing delay, with a notice page meanwhile. A hung
  // one starts again at the first page (uri), a crashed one where it was ("").
  void RestartCrashedPage(WebKitWebView* view, ombrix::RestartReason reason,
                          const QString& uri = QString());
  static gboolean OnRestartDue(gpointer self);

  // Recovery (ombrix_cef_handler_recovery.cpp): every view's web process is
  // pinged; the main page's loads are followed on page_status_.
  void WatchView(WebKitWebView* view);
  void WatchMainView(WebKitWebView* view);
  void ForgetWatch(WebKitWebView* view);
  void OnPageHung(WebKitWebView* view);
  void OnMainLoadStarted();
  void OnMainLoadFinished(const QString& uri);
  // True when the load is tried again (the engine shows no error page).
  bool OnMainLoadFailed(const QString& uri, const GError* error);
  // The "finished" and error-page events that follow a failed main load.
  bool PartOfFailedLoad(const QString& uri) const;

  std::vector<std::unique_ptr<ombrix::HangWatch>> hang_watches_;
  std::unique_ptr<ombrix::LoadRetry> load_retry_;
  // Lock-down and the technician's exit chord (made with the main window).
  std::unique_ptr<ombrix::Lockdown> lockdown_;
  // The idle reset (made with the main window when the manifest asks for it).
  std::unique_ptr<ombrix::IdleReset> idle_reset_;
  // The context menu and the developer tools: not with "disable_debug_tool" or lock-down.
  bool ToolsAllowed() const;
  QString first_page_url_;  // what a hung main page starts again at

  ombrix::CrashRestarts main_restarts_;
  ombrix::CrashRestarts popup_restarts_;  // pop-ups only ever restart at once
  QString crashed_uri_;                   // the main page to start again
  guint restart_timer_ = 0;
};
