#include "browser/ombrix_cef_handler.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

#include "browser/ombrix_cef_handler_win.h"
#include "samples/dialog_test.h"
#include "samples/window_test.h"
#include "util/log_text.h"

namespace {

WebKitSettings* NewSettings(const ManifestUtil& manifest, const ombrix::TrustedOrigins& trust) {
  const bool universal = ombrix::FileUrlsReachEveryOrigin(trust);
  return webkit_settings_new_with_settings(
      "enable-developer-extras", !manifest.disable_debug_tool_ && !manifest.lockdown_,  //
      "javascript-can-access-clipboard", TRUE,                                          //
      // A file: or client: document reaching every origin could read a trusted
      // frame's `ombrix` (frame.contentWindow.ombrix) when it is not trusted itself.
      "allow-universal-access-from-file-urls", universal,  //
      "allow-file-access-from-file-urls", TRUE,            //
      // With a trusted-origins list, frames of other origins stay apart as in a
      // plain browser: a listed parent's `ombrix` is out of an iframe's reach.
      "disable-web-security", !manifest.has_trusted_origins_,                     //
      "javascript-can-open-windows-automatically", TRUE,                          //
      "enable-media-stream", TRUE,                                                //
      "hardware-acceleration-policy", WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER,  //
      "enable-write-console-messages-to-stdout", !manifest.disable_debug_log_,    //
      // No back/forward page cache: a page that is left is really gone, together
      // with its pending callbacks, channels and dispenser jobs.
      "enable-page-cache", FALSE,  //
      nullptr);
}

struct MenuTarget {
  OmbrixCefHandler* handler;
  WebKitWebView* view;
};

// Each menu action owns its target: the engine keeps the actions until a
// command is chosen, but not the menu object they were added to.
void AddAction(WebKitContextMenu* menu, const char* name, const char* label, GCallback callback,
               const MenuTarget& target) {
  GSimpleAction* action = g_simple_action_new(name, nullptr);
  g_signal_connect_data(
      action, "activate", callback, new MenuTarget(target),
      [](gpointer data, GClosure*) { delete static_cast<MenuTarget*>(data); }, GConnectFlags(0));
  webkit_context_menu_append(
      menu, webkit_context_menu_item_new_from_gaction(G_ACTION(action), label, nullptr));
  g_object_unref(action);
}

void OnReloadActivated(GSimpleAction*, GVariant*, gpointer data) {
  auto* target = static_cast<MenuTarget*>(data);
  webkit_web_view_reload(target->view);
}

void OnExitActivated(GSimpleAction*, GVariant*, gpointer data) {
  static_cast<MenuTarget*>(data)->handler->ExitApp();
}

void OnDevToolsActivated(GSimpleAction*, GVariant*, gpointer data) {
  auto* target = static_cast<MenuTarget*>(data);
  target->handler->ShowDevTools(target->view, false);
}

const char kToolsWindowKey[] = "ombrix-tools-window";

// The tools' window going: the tools close with it (their own detach then
// takes the window away).
gboolean OnToolsWindowDelete(GtkWidget*, GdkEvent*, gpointer inspector) {
  webkit_web_inspector_close(WEBKIT_WEB_INSPECTOR(inspector));
  return TRUE;
}

// The tools leave the window the shell gave them: the engine keeps the tools'
// view, the window goes.
gboolean OnInspectorDetach(WebKitWebInspector* inspector, gpointer) {
  auto* window = static_cast<GtkWidget*>(g_object_steal_data(G_OBJECT(inspector), kToolsWindowKey));
  if (!window) return FALSE;
  GtkWidget* tools = GTK_WIDGET(webkit_web_inspector_get_web_view(inspector));
  if (tools && gtk_widget_get_parent(tools) == window) {
    gtk_container_remove(GTK_CONTAINER(window), tools);
  }
  gtk_widget_destroy(window);
  return TRUE;
}

void OnInspectorClosed(WebKitWebInspector* inspector, gpointer) {
  OnInspectorDetach(inspector, nullptr);
}

}  // namespace

OmbrixCefHandler::OmbrixCefHandler(WebKitWebContext* context, ManifestUtil& manifest)
    : trust_(manifest.TrustPolicy(nullptr)),
      print_(ombrix::MakeSilentPrint(manifest)),
      context_(context),
      manifest_(manifest) {}

bool OmbrixCefHandler::HasView(WebKitWebView* view) const {
  return std::any_of(browsers_.begin(), browsers_.end(),
                     [view](const Browser& browser) { return browser.view == view; });
}

bool OmbrixCefHandler::ToolsAllowed() const {
  return !manifest_.disable_debug_tool_ && !(lockdown_ && lockdown_->on());
}

OmbrixCefHandler::~OmbrixCefHandler() {
  if (restart_timer_) g_source_remove(restart_timer_);
  hang_watches_.clear();
  load_retry_.reset();
  idle_reset_.reset();
  ombrix::HideTray();
  for (const Browser& browser : browsers_) {
    g_signal_handlers_disconnect_by_data(browser.view, this);
    g_signal_handlers_disconnect_by_data(browser.window, this);
    gtk_widget_destroy(GTK_WIDGET(browser.window));
  }
  print_.reset();  // its jobs are no longer followed
}

WebKitWebView* OmbrixCefHandler::NewView(WebKitWebView* related) {
  WebKitWebView* view;
  if (related) {
    view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related, nullptr));
  } else {
    WebKitSettings* settings = NewSettings(manifest_, trust_);
    view = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_, "settings", settings, nullptr));
    g_object_unref(settings);
  }
  // Nothing may be dropped onto a page.
  gtk_drag_dest_unset(GTK_WIDGET(view));
  ConnectViewSignals(view);
  if (lockdown_) lockdown_->AttachView(view, related != nullptr);
  WatchView(view);
  return view;
}

GtkWindow* OmbrixCefHandler::NewWindow(WebKitWebView* view, bool main) {
  GtkWindow* window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  gtk_widget_show(GTK_WIDGET(view));
  g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), this);
  if (lockdown_) lockdown_->AttachWindow(window);
  browsers_.push_back(Browser{window, view});
  if (main) {
    main_window_ = window;
    main_browser_ = view;
    WatchMainView(view);
    ombrix::HookMainWindow(*this, window, view);
  }
  return window;
}

void OmbrixCefHandler::ConnectViewSignals(WebKitWebView* view) {
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view, "load-failed", G_CALLBACK(OnLoadFailed), this);
  g_signal_connect(view, "context-menu", G_CALLBACK(OnContextMenu), this);
  g_signal_connect(view, "create", G_CALLBACK(OnCreate), this);
  g_signal_connect(view, "ready-to-show", G_CALLBACK(OnReadyToShow), this);
  g_signal_connect(view, "close", G_CALLBACK(OnViewClose), this);
  g_signal_connect(view, "user-message-received", G_CALLBACK(OnUserMessage), this);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
  g_signal_connect(webkit_web_view_get_inspector(view), "attach", G_CALLBACK(OnInspectorAttach),
                   this);
  g_signal_connect(webkit_web_view_get_inspector(view), "detach", G_CALLBACK(OnInspectorDetach),
                   nullptr);
  g_signal_connect(webkit_web_view_get_inspector(view), "closed", G_CALLBACK(OnInspectorClosed),
                   nullptr);
  g_signal_connect(view, "key-press-event", G_CALLBACK(OnKeyPress), this);
  if (print_) print_->WatchView(view);
}

gboolean OmbrixCefHandler::OnKeyPress(GtkWidget* view, GdkEventKey* event, gpointer self) {
  // Ctrl+Shift+I opens the developer tools, as in the common browsers.
  const auto mods = GdkModifierType(event->state & gtk_accelerator_get_default_mod_mask());
  if (mods != (GDK_CONTROL_MASK | GDK_SHIFT_MASK) ||
      gdk_keyval_to_lower(event->keyval) != GDK_KEY_i) {
    return FALSE;
  }
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  if (!handler->ToolsAllowed()) return FALSE;
  handler->ShowDevTools(WEBKIT_WEB_VIEW(view), false);
  return TRUE;
}

void OmbrixCefHandler::InstallQueryHandlers() {
  if (query_router_.HasHandlers()) return;
  query_router_.AddHandler(std::make_unique<window_test::Handler>(
      [this](GtkWindow* window, int width, int height) {
        if (window == main_window_) {
          ombrix::ResizeMainWindow(*this, width, height);
        } else {
          gtk_window_resize(window, width, height);
        }
      },
      [this](GtkWindow* window) {
        if (window == main_window_) {
          ombrix::MaximizeMainWindow(*this);  // the page's own: obeyed under the lock
        } else {
          gtk_window_maximize(window);
        }
      }));
  query_router_.AddHandler(std::make_unique<dialog_test::Handler>());
}

void OmbrixCefHandler::CreateMainBrowser(const QString& url, const QString& title) {
  InstallQueryHandlers();
  WebKitWebView* view = NewView(nullptr);
  GtkWindow* window = NewWindow(view, true);
  gtk_window_set_decorated(window, FALSE);
  gtk_window_set_title(window, title.toUtf8().constData());
  if (!manifest_.app_icon_.isEmpty()) {
    GError* error = nullptr;
    GdkPixbuf* icon = gdk_pixbuf_new_from_file_at_size(manifest_.app_icon_.toUtf8().constData(),
                                                       100, 100, &error);
    if (icon) {
      gtk_window_set_icon(window, icon);
      g_object_unref(icon);
    } else {
      qDebug() << "icon" << manifest_.app_icon_ << (error ? error->message : "");
      g_clear_error(&error);
    }
  }
  // Realised but not mapped: the window appears once the first load ends.
  gtk_widget_realize(GTK_WIDGET(window));
  first_page_url_ = url;
  if (!lockdown_) {
    // The technician's exit: often for a hung page, whose process goes with the shell.
    lockdown_ = std::make_unique<ombrix::Lockdown>(manifest_, url, [this, view] {
      ExitApp();
      webkit_web_view_terminate_web_process(view);
    });
    lockdown_->AttachView(view, false);
    lockdown_->AttachWindow(window);
  }
  // After a spell without input the app starts again at its first page: what
  // the shell opened beside it goes first.
  idle_reset_ = ombrix::IdleReset::Create(manifest_, window, view, url, [this] {
    page_status_.CountIdleReset();
    std::vector<WebKitWebView*> others;
    for (const Browser& browser : browsers_) {
      webkit_web_inspector_close(webkit_web_view_get_inspector(browser.view));
      if (browser.view != main_browser_) others.push_back(browser.view);
    }
    for (WebKitWebView* other : others) CloseBrowser(other);
    query_router_.OnViewGone(main_browser_);  // an open file chooser, as when the page goes
  });
  page_status_.SetState(ombrix::PageState::kLoading, url);
  webkit_web_view_load_uri(view, url.toUtf8().constData());
}

void OmbrixCefHandler::ApplyLaunchState(bool load_failed) {
  if (!main_window_ || exiting_ || gtk_widget_get_visible(GTK_WIDGET(main_window_))) return;
  const ombrix::Rect screen = ombrix::PrimaryScreenRect();
  const ombrix::LaunchPlacement placement =
      load_failed ? ombrix::PlacementAfterError(manifest_.launch_state_, screen)
                  : ombrix::PlacementAfterLoad(manifest_.launch_state_, manifest_.launch_x_,
                                               manifest_.launch_y_, manifest_.launch_width_,
                                               manifest_.launch_height_, screen);
  GtkWindow* window = main_window_;
  if (placement.move) {
    qDebug() << "launch placement" << placement.x << placement.y << placement.width
             << placement.height;
    ombrix::MoveTopLevel(window, placement.x, placement.y, "launch_x and launch_y");
    ombrix::ResizeMainWindow(*this, placement.width, placement.height);
  }
  switch (placement.kind) {
    case ombrix::LaunchPlacement::kMaximized:
      ombrix::MaximizeMainWindow(*this);  // allowed even while resizing is locked
      break;
    case ombrix::LaunchPlacement::kMinimized:
      gtk_window_iconify(window);
      break;
    case ombrix::LaunchPlacement::kFullscreen:
      ombrix::KeepTopLevelAbove(window, "a fullscreen window above others");
      gtk_window_fullscreen(window);
      break;
    case ombrix::LaunchPlacement::kNormal:
      break;
  }
  qDebug() << "launch state applied," << (placement.show ? "shown" : "left hidden");
  if (!placement.show) return;
  gtk_widget_show(GTK_WIDGET(window));
  if (!shown_once_) {
    shown_once_ = true;
    std::printf("window shown\r\n");
    std::fflush(stdout);
  }
}

void OmbrixCefHandler::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  if (event == WEBKIT_LOAD_COMMITTED) handler->OnLoadCommitted(view);
  if (event == WEBKIT_LOAD_STARTED && view == handler->main_browser_) handler->OnMainLoadStarted();
  if (event != WEBKIT_LOAD_FINISHED) return;
  if (view == handler->main_browser_ && handler->restart_timer_) qDebug() << "notice page shown";
  const char* uri = webkit_web_view_get_uri(view);
  const QString current = QString::fromUtf8(uri ? uri : "");
  if (view == handler->main_browser_) handler->OnMainLoadFinished(current);
  // A failed load has placed the window already. It ends with "finished" of its
  // own, and the engine's error page for it (shown under the failed address)
  // ends with another: neither places the window again.
  FailedLoad& failed = handler->failed_load_;
  bool keep = false;
  if (view == failed.view) {
    keep = failed.ending || current == failed.uri;
    if (failed.ending) {
      failed.ending = false;
    } else {
      failed = FailedLoad();
    }
  }
  if (!keep) handler->ApplyLaunchState(false);
  qDebug() << "load finished" << current << (keep ? "(placed by its failure)" : "");
}

void OmbrixCefHandler::OnLoadCommitted(WebKitWebView* view) {
  if (trust_.everyone()) return;
  const char* uri = webkit_web_view_get_uri(view);
  const QString url = QString::fromUtf8(uri ? uri : "");
  // The page that asked is gone, and the one now shown may not answer a dialog
  // left open for it: its queries end here (its own cancels may come too late,
  // or from a page the shell no longer trusts).
  if (!trust_.TrustsUrl(url)) query_router_.OnViewGone(view);
}

gboolean OmbrixCefHandler::OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri,
                                        GError* error, gpointer self) {
  (void)event;
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  qDebug() << "load failed" << ombrix::LogText(QString::fromUtf8(uri ? uri : ""))
           << (error ? error->message : "");
  const QString failed = QString::fromUtf8(uri ? uri : "");
  // The retry's own notice and its failures place nothing: the first failure did.
  if (!handler->load_retry_ || !handler->load_retry_->waiting()) {
    handler->failed_load_ = FailedLoad{view, failed, true};
    handler->ApplyLaunchState(true);
  }
  // Tried again with a notice meanwhile, or the engine's error page.
  return view == handler->main_browser_ && handler->OnMainLoadFailed(failed, error);
}

gboolean OmbrixCefHandler::OnContextMenu(WebKitWebView* view, WebKitContextMenu* menu,
                                         GdkEvent* event, WebKitHitTestResult* hit, gpointer self) {
  (void)event;
  (void)hit;
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  webkit_context_menu_remove_all(menu);
  if (!handler->ToolsAllowed()) return TRUE;  // no menu at all

  const MenuTarget target{handler, view};
  AddAction(menu, "reload", "重载页面", G_CALLBACK(OnReloadActivated), target);
  webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
  AddAction(menu, "exit", "退出应用", G_CALLBACK(OnExitActivated), target);
  webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
  AddAction(menu, "devtools", "显示开发工具", G_CALLBACK(OnDevToolsActivated), target);
  webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
  webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action_with_label(
                                       WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT, "审核元素"));
  return FALSE;
}

GtkWidget* OmbrixCefHandler::OnCreate(WebKitWebView* view, WebKitNavigationAction* action,
                                      gpointer self) {
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  if (handler->exiting_) return nullptr;
  if (handler->lockdown_ && !handler->lockdown_->AllowsPopup(action)) return nullptr;
  WebKitWebView* popup = handler->NewView(view);
  GtkWindow* window = handler->NewWindow(popup, false);
  // A pop-up is an ordinary window: it shows its page's title.
  g_signal_connect(popup, "notify::title", G_CALLBACK(OnPopupTitle), window);
  return GTK_WIDGET(popup);
}

void OmbrixCefHandler::OnPopupTitle(WebKitWebView* view, GParamSpec*, gpointer window) {
  const char* title = webkit_web_view_get_title(view);
  gtk_window_set_title(GTK_WINDOW(window), title ? title : "");
}

void OmbrixCefHandler::OnReadyToShow(WebKitWebView* view, gpointer self) {
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  for (const Browser& browser : handler->browsers_) {
    if (browser.view != view) continue;
    WebKitWindowProperties* properties = webkit_web_view_get_window_properties(view);
    GdkRectangle geometry;
    webkit_window_properties_get_geometry(properties, &geometry);
    if (geometry.width > 0 && geometry.height > 0) {
      gtk_window_set_default_size(browser.window, geometry.width, geometry.height);
    } else {
      gtk_window_set_default_size(browser.window, 800, 600);
    }
    gtk_widget_show(GTK_WIDGET(browser.window));
  }
}

void OmbrixCefHandler::OnViewClose(WebKitWebView* view, gpointer self) {
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  // A script's window.close() may come from any frame of the page (an iframe's
  // top.close()), which the shell cannot tell apart: with a trusted-origins
  // list it never ends the kiosk; a trusted page uses ombrix.app.exitapp().
  if (view == handler->main_browser_ && !handler->trust_.everyone()) {
    qDebug() << "ignored a script's close of the main window (trusted_origins is set)";
    return;
  }
  handler->CloseBrowser(view);
}

gboolean OmbrixCefHandler::OnDeleteEvent(GtkWidget* window, GdkEvent* event, gpointer self) {
  (void)event;
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  if (window == GTK_WIDGET(handler->main_window_) && handler->lockdown_ &&
      handler->lockdown_->on()) {
    qDebug() << "refused to close the main window from outside (lockdown)";
    return TRUE;
  }
  for (const Browser& browser : handler->browsers_) {
    if (GTK_WIDGET(browser.window) == window) {
      handler->CloseBrowser(browser.view);
      break;
    }
  }
  return TRUE;  // CloseBrowser destroys or hides the window itself
}

void OmbrixCefHandler::CloseBrowser(WebKitWebView* view) {
  if (view == main_browser_) {
    OnMainWindowClosing();
    return;
  }
  if (GtkWindow* window = ForgetBrowser(view)) gtk_widget_destroy(GTK_WIDGET(window));
}

void OmbrixCefHandler::CloseMainWindow() {
  if (main_browser_ && !exiting_) OnMainWindowClosing();
}

void OmbrixCefHandler::OnMainWindowClosing() {
  std::printf("w,m_Close\r\n");
  std::fflush(stdout);
  // With the tray icon shown, closing only hides the window, so long as a
  // panel shows the icon to bring it back.
  if (ombrix::IsTrayHosted()) {
    ombrix::HideMainWindowToTray();
    return;
  }
  if (ombrix::IsTrayShown()) {
    qDebug() << "the tray icon has no panel to show it (no StatusNotifierWatcher, no system "
                "tray): closing the window ends the app";
  }
  ExitApp();
}

GtkWindow* OmbrixCefHandler::ForgetBrowser(WebKitWebView* view) {
  auto it = std::find_if(browsers_.begin(), browsers_.end(),
                         [view](const Browser& browser) { return browser.view == view; });
  if (it == browsers_.end()) return nullptr;
  GtkWindow* window = it->window;
  query_router_.OnViewGone(view);
  ForgetWatch(view);
  g_signal_handlers_disconnect_by_data(it->view, this);
  g_signal_handlers_disconnect_by_data(window, this);
  browsers_.erase(it);
  return window;
}

gboolean OmbrixCefHandler::OnInspectorAttach(WebKitWebInspector* inspector, gpointer self) {
  (void)self;
  // The engine attaches the tools to the page's window whenever that window is
  // large enough; the kiosk window holds the page alone, so the tools are put
  // into a window of their own instead.
  GtkWidget* tools = GTK_WIDGET(webkit_web_inspector_get_web_view(inspector));
  if (!tools || g_object_get_data(G_OBJECT(inspector), kToolsWindowKey)) return TRUE;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "DevTools");
  gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
  gtk_container_add(GTK_CONTAINER(window), tools);
  g_object_set_data(G_OBJECT(inspector), kToolsWindowKey, window);
  g_signal_connect(window, "delete-event", G_CALLBACK(OnToolsWindowDelete), inspector);
  gtk_widget_show_all(window);
  return TRUE;
}

void OmbrixCefHandler::ShowDevTools(WebKitWebView* view, bool inspect) {
  (void)inspect;  // inspecting at the pointer is the engine's own menu action
  if (!ToolsAllowed()) return;
  webkit_web_inspector_show(webkit_web_view_get_inspector(view));
}

bool OmbrixCefHandler::NotifyWindowState(const std::string& state_name) {
  if (!ombrix::IsWindowStateMessage(state_name.c_str())) return false;
  if (main_browser_ && !exiting_) {
    webkit_web_view_send_message_to_page(main_browser_,
                                         webkit_user_message_new(state_name.c_str(), nullptr),
                                         nullptr, nullptr, nullptr);
  }
  return true;
}

gboolean OmbrixCefHandler::OnUserMessage(WebKitWebView* view, WebKitUserMessage* message,
                                         gpointer self) {
  auto* handler = static_cast<OmbrixCefHandler*>(self);
  if (!handler->TrustsSender(view, message)) {
    ombrix::QueryRouterBrowser::Refuse(message);
    return TRUE;  // handled: dropped, never acted on
  }
  if (handler->query_router_.OnMessage(view, message)) return TRUE;
  if (!std::strcmp(webkit_user_message_get_name(message), ombrix::kFrameLoadedMessage)) {
    if (view == handler->main_browser_) handler->ApplyLaunchState(false);
    return TRUE;
  }
  const ombrix::ProcessMessage decoded = ombrix::DecodeUserMessage(message);
  if (decoded.name == QLatin1String(ombrix::kPrintMessage)) {
    ombrix::CarryOutPrint(*handler, view, decoded);
    return TRUE;
  }
  return ombrix::DispatchProcessMessage(*handler, decoded) ? TRUE : FALSE;
}

bool OmbrixCefHandler::TrustsSender(WebKitWebView* view, WebKitUserMessage* message) const {
  if (trust_.everyone()) return true;
  // A cancel only ends one of the view's own queries: it gets through even
  // when the view has just left for a page of an untrusted origin.
  const char* name = webkit_user_message_get_name(message);
  if (!std::strcmp(name, "cefQueryCancel")) return true;
  const char* uri = webkit_web_view_get_uri(view);
  const QString url = QString::fromUtf8(uri ? uri : "");
  if (trust_.TrustsUrl(url)) return true;
  qDebug() << "dropped message" << name
           << "from a page of an untrusted origin:" << ombrix::LoggedOrigin(url);
  return false;
}

void OmbrixCefHandler::ExitApp() {
  if (exiting_) return;
  exiting_ = true;
  ombrix::HideTray();
  hang_watches_.clear();
  load_retry_.reset();
  idle_reset_.reset();
  query_router_.RemoveAllHandlers();
  for (const Browser& browser : browsers_) {
    g_signal_handlers_disconnect_by_data(browser.view, this);
    g_signal_handlers_disconnect_by_data(browser.window, this);
  }
  // The windows disappear now and are destroyed once the main loop has ended:
  // ExitApp often runs inside a signal of the very view it would destroy.
  for (const Browser& browser : browsers_) gtk_widget_hide(GTK_WIDGET(browser.window));
  main_browser_ = nullptr;
  main_window_ = nullptr;
  gtk_main_quit();
}
