#include "kiosk/idle_reset.h"

#include <QDebug>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ombrix {
namespace {

// The script world the page's event is sent from: the page cannot reach it.
constexpr char kWorld[] = "ombrix-idle";
constexpr char kBlank[] = "about:blank";
// A page that takes longer than this to go is left behind: the data goes anyway.
constexpr guint kBlankLimitSeconds = 5;

qint64 NowMs() { return g_get_monotonic_time() / 1000; }

// The one reset whose handler sees the shell's events.
IdleReset* g_watching = nullptr;

// What GTK itself does with every event.
void PassOn(GdkEvent* event, gpointer) { gtk_main_do_event(event); }

// What a customer does: a key, a pointer motion, a click, a scroll, a touch.
// Crossings are not: a window that appears under a resting pointer makes one.
bool IsInput(GdkEventType type) {
  switch (type) {
    case GDK_MOTION_NOTIFY:
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
    case GDK_SCROLL:
    case GDK_TOUCH_BEGIN:
    case GDK_TOUCH_UPDATE:
    case GDK_TOUCH_END:
    case GDK_TOUCHPAD_SWIPE:
    case GDK_TOUCHPAD_PINCH:
      return true;
    default:
      return false;
  }
}

struct Asked {
  IdleReset* self;
  int ask;
};

void Style(GtkWidget* widget, GtkCssProvider* css) {
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(css),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace

std::unique_ptr<IdleReset> IdleReset::Create(const ManifestUtil& manifest, GtkWindow* window,
                                             WebKitWebView* view, const QString& first_page,
                                             std::function<void()> close_others) {
  if (manifest.idle_reset_seconds_ <= 0) return nullptr;
  return std::make_unique<IdleReset>(manifest, window, view, first_page, std::move(close_others));
}

IdleReset::IdleReset(const ManifestUtil& manifest, GtkWindow* window, WebKitWebView* view,
                     const QString& first_page, std::function<void()> close_others)
    : window_(window),
      view_(view),
      first_page_(first_page),
      clear_data_(manifest.idle_clear_data_),
      close_others_(std::move(close_others)),
      timer_(qint64(manifest.idle_reset_seconds_) * 1000,
             qint64(manifest.idle_warning_seconds_) * 1000, NowMs()),
      cancellable_(g_cancellable_new()) {
  g_object_add_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer*>(&window_));
  g_object_add_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
  // Every window of the shell, present and future: pop-ups, the developer
  // tools, the file choosers, the countdown itself.
  gdk_event_handler_set(OnEvent, this, nullptr);
  g_watching = this;
  g_signal_connect(window_, "notify::visible", G_CALLBACK(OnVisible), this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
  if (clear_data_) {
    // A password the engine would keep in the desktop's keyring outlives any wipe.
    webkit_website_data_manager_set_persistent_credential_storage_enabled(
        webkit_web_view_get_website_data_manager(view_), FALSE);
  }
  qDebug() << "idle reset after" << manifest.idle_reset_seconds_ << "s, warning"
           << manifest.idle_warning_seconds_ << "s before" << (clear_data_ ? "" : "(data kept)");
  Arm();
}

IdleReset::~IdleReset() {
  if (g_watching == this) {
    gdk_event_handler_set(PassOn, nullptr, nullptr);
    g_watching = nullptr;
  }
  if (tick_) g_source_remove(tick_);
  if (blank_overdue_) g_source_remove(blank_overdue_);
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
  if (countdown_) gtk_widget_destroy(countdown_);
  if (view_) {
    g_signal_handlers_disconnect_by_data(view_, this);
    g_object_remove_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
  }
  if (window_) {
    g_signal_handlers_disconnect_by_data(window_, this);
    g_object_remove_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer*>(&window_));
  }
}

void IdleReset::OnEvent(GdkEvent* event, gpointer self) {
  if (IsInput(event->type)) {
    auto* idle = static_cast<IdleReset*>(self);
    idle->Do(idle->timer_.Input(NowMs()));
    if (!idle->tick_) idle->Arm();
  }
  gtk_main_do_event(event);
}

bool IdleReset::Shown() const {
  if (!window_ || !gtk_widget_get_visible(GTK_WIDGET(window_))) return false;
  GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
  return gdk && !(gdk_window_get_state(gdk) & GDK_WINDOW_STATE_ICONIFIED);
}

void IdleReset::Arm() {
  if (tick_) g_source_remove(tick_);
  tick_ = 0;
  const qint64 in = timer_.NextTickIn(NowMs());
  if (in >= 0) tick_ = g_timeout_add(guint(std::min<qint64>(in, G_MAXINT)), OnTick, this);
}

gboolean IdleReset::OnTick(gpointer self) {
  auto* idle = static_cast<IdleReset*>(self);
  idle->tick_ = 0;
  const qint64 now = NowMs();
  if (idle->Shown()) {
    idle->Do(idle->timer_.Tick(now));
  } else {
    // Nobody stands before a hidden or minimised window: the time starts when
    // it shows. It is looked at again in a second (a warning as long as the
    // reset would be due at once, again and again).
    idle->Do(idle->timer_.Input(now));
    idle->tick_ = g_timeout_add(1000, OnTick, idle);
  }
  if (!idle->tick_) idle->Arm();
  return G_SOURCE_REMOVE;
}

void IdleReset::OnVisible(GObject*, GParamSpec*, gpointer self) {
  auto* idle = static_cast<IdleReset*>(self);
  idle->Do(idle->timer_.Input(NowMs()));
  if (!idle->Shown()) idle->HideCountdown();
  idle->Arm();
}

void IdleReset::Do(IdleAction action) {
  switch (action) {
    case IdleAction::kNone:
      break;
    case IdleAction::kAsk:
      Ask();
      break;
    case IdleAction::kShowCountdown:
      ShowCountdown();
      break;
    case IdleAction::kHideCountdown:
      HideCountdown();
      break;
    case IdleAction::kReset:
      StartReset();
      break;
  }
}

void IdleReset::Ask() {
  // A page that has not loaded yet gets no event (a script sent into a page
  // still starting holds up its web process); the countdown comes after the
  // answer's time as for a page that does not answer.
  if (!view_ || !page_loaded_) return;
  const int seconds = timer_.SecondsLeft(NowMs());
  qDebug() << "idle: the page is warned," << seconds << "s left";
  const QByteArray script = IdleEventScript(seconds);
  webkit_web_view_evaluate_javascript(view_, script.constData(), script.size(), kWorld, nullptr,
                                      cancellable_, OnAnswer, new Asked{this, timer_.ask()});
}

void IdleReset::OnAnswer(GObject* source, GAsyncResult* result, gpointer data) {
  const Asked asked = *static_cast<Asked*>(data);
  delete static_cast<Asked*>(data);
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
  const bool gone = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  // An exception or a page that went counts as not cancelled.
  const bool cancelled = value && jsc_value_is_boolean(value) && !jsc_value_to_boolean(value);
  if (value) g_object_unref(value);
  if (error && !gone) qDebug() << "idle: the page's event failed:" << error->message;
  g_clear_error(&error);
  if (gone) return;  // the reset is gone with its cancellable
  IdleReset* idle = asked.self;
  if (cancelled) qDebug() << "idle: the page keeps its session";
  idle->Do(idle->timer_.Answered(asked.ask, cancelled, NowMs()));
  idle->Arm();
}

void IdleReset::ShowCountdown() {
  if (!Shown()) return;
  if (!countdown_) {
    // Drawn by the shell above the page, so no page can hide it; a click on it
    // is input like any other and never reaches the page.
    countdown_ = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_set_transient_for(GTK_WINDOW(countdown_), window_);
    gtk_widget_add_events(countdown_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                          GDK_POINTER_MOTION_MASK | GDK_SCROLL_MASK |
                                          GDK_TOUCH_MASK | GDK_SMOOTH_SCROLL_MASK);
    countdown_label_ = gtk_label_new("");
    gtk_container_add(GTK_CONTAINER(countdown_), countdown_label_);
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    "window { background-color: #1d2b3a; }"
                                    "label { color: #ffffff; font-size: 28pt; font-weight: bold; }",
                                    -1, nullptr);
    Style(countdown_, css);
    Style(countdown_label_, css);
    g_object_unref(css);
  }
  // A band across the middle of the main window's page.
  GdkWindow* main = gtk_widget_get_window(GTK_WIDGET(window_));
  int x = 0, y = 0;
  gdk_window_get_origin(main, &x, &y);
  const int width = gdk_window_get_width(main);
  const int height = gdk_window_get_height(main);
  const int band = std::min(height, std::max(120, height / 4));
  const int seconds = timer_.SecondsLeft(NowMs());
  gtk_label_set_text(GTK_LABEL(countdown_label_), IdleCountdownText(seconds).toUtf8().constData());
  gtk_window_resize(GTK_WINDOW(countdown_), width, band);
  gtk_window_move(GTK_WINDOW(countdown_), x, y + (height - band) / 2);
  if (!gtk_widget_get_visible(countdown_)) qDebug() << "idle: countdown shown," << seconds << "s";
  gtk_widget_show_all(countdown_);
  gdk_window_raise(gtk_widget_get_window(countdown_));
}

void IdleReset::HideCountdown() {
  if (!countdown_ || !gtk_widget_get_visible(countdown_)) return;
  qDebug() << "idle: countdown ended by input";
  gtk_widget_hide(countdown_);
}

void IdleReset::StartReset() {
  if (countdown_) gtk_widget_hide(countdown_);
  std::printf("idle reset\r\n");
  std::fflush(stdout);
  if (close_others_) close_others_();
  if (!view_) return;
  if (!clear_data_) {
    LoadFirstPage();
    return;
  }
  // The page goes first (its downloads and unload handlers with it), so that
  // nothing it still does lands after the wipe.
  leaving_ = true;
  blank_overdue_ = g_timeout_add_seconds(kBlankLimitSeconds, OnBlankOverdue, this);
  webkit_web_view_load_uri(view_, kBlank);
}

void IdleReset::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  auto* idle = static_cast<IdleReset*>(self);
  if (event == WEBKIT_LOAD_STARTED) idle->page_loaded_ = false;
  if (event != WEBKIT_LOAD_FINISHED) return;
  const char* uri = webkit_web_view_get_uri(view);
  const bool blank = uri && !std::strcmp(uri, kBlank);
  idle->page_loaded_ = !blank;
  if (idle->leaving_ && blank) idle->PageGone();
}

gboolean IdleReset::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError*,
                                 gpointer self) {
  auto* idle = static_cast<IdleReset*>(self);
  if (idle->leaving_ && uri && !std::strcmp(uri, kBlank)) idle->PageGone();
  return FALSE;
}

gboolean IdleReset::OnBlankOverdue(gpointer self) {
  auto* idle = static_cast<IdleReset*>(self);
  idle->blank_overdue_ = 0;
  qDebug() << "idle: the page did not go in time";
  if (idle->leaving_) idle->PageGone();
  return G_SOURCE_REMOVE;
}

void IdleReset::PageGone() {
  leaving_ = false;
  if (blank_overdue_) g_source_remove(blank_overdue_);
  blank_overdue_ = 0;
  if (!view_) return;
  webkit_website_data_manager_clear(webkit_web_view_get_website_data_manager(view_),
                                    WEBKIT_WEBSITE_DATA_ALL, 0, cancellable_, OnCleared, this);
}

void IdleReset::OnCleared(GObject* source, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result, &error);
  const bool gone = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  if (error && !gone) qDebug() << "idle: the data could not all be wiped:" << error->message;
  g_clear_error(&error);
  if (gone) return;
  static_cast<IdleReset*>(self)->LoadFirstPage();
}

void IdleReset::LoadFirstPage() {
  if (view_) webkit_web_view_load_uri(view_, first_page_.toUtf8().constData());
  qDebug() << "idle: the first page loads again";
  timer_.ResetDone(NowMs());
  Arm();
}

}  // namespace ombrix
