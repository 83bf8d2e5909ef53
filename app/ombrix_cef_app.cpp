#include "app/ombrix_cef_app.h"

#include <unistd.h>

#include <QDebug>
#include <QFileInfo>
#include <QUrl>
#include <QtGlobal>
#include <cstdio>

#include "app/extension_init.h"
#include "app/version_page.h"
#include "control/process_memory.h"
#include "kiosk/recovery.h"
#include "scheme/ombrix_cef_scheme_handler.h"
#include "util/url_text.h"
#include "util/util_win.h"

namespace {

QString LibraryVersions() {
  return QStringLiteral("WebKitGTK %1.%2.%3, GTK %4.%5.%6, Qt %7")
      .arg(webkit_get_major_version())
      .arg(webkit_get_minor_version())
      .arg(webkit_get_micro_version())
      .arg(gtk_get_major_version())
      .arg(gtk_get_minor_version())
      .arg(gtk_get_micro_version())
      .arg(QString::fromLatin1(qVersion()));
}

void Respond(WebKitURISchemeRequest* request, const QByteArray& body, const char* type) {
  GBytes* bytes = g_bytes_new(body.constData(), body.size());
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  webkit_uri_scheme_request_finish(request, stream, body.size(), type);
  g_object_unref(stream);
  g_bytes_unref(bytes);
}

// The path the shell was started by, and the real file when that is a link.
QString ExecutableText() {
  const QString started = ombrix::ExecutablePath();
  const QString real = ombrix::RealExecutablePath();
  return started == real ? started : started + QStringLiteral(" \u2192 ") + real;
}

}  // namespace

OmbrixCefApp::OmbrixCefApp(ManifestUtil& manifest, ombrix::ServiceNotifier* notifier)
    : manifest_(manifest), notifier_(notifier), start_time_(g_get_real_time() / G_USEC_PER_SEC) {}

OmbrixCefApp::~OmbrixCefApp() {
  metrics_.reset();
  bus_.reset();
  screen_.reset();
  handler_.reset();
  if (context_) g_object_unref(context_);
}

WebKitWebContext* OmbrixCefApp::CreateContext() {
  const QString cache = ombrix::ExpandAppDir(manifest_.cache_path_);
  qDebug() << "cache" << QUrl::toPercentEncoding(cache);
  const QByteArray path = cache.toUtf8();
  WebKitWebsiteDataManager* data =
      cache.isEmpty()
          ? nullptr
          : webkit_website_data_manager_new("base-data-directory", path.constData(),
                                            "base-cache-directory", path.constData(), nullptr);
  WebKitMemoryPressureSettings* memory = ombrix::NewMemoryLimit(manifest_.memory_limit_mb_);
  if (memory) qDebug() << "web process memory limit" << manifest_.memory_limit_mb_ << "MB";
  WebKitWebContext* context =
      WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data,
                                      "memory-pressure-settings", memory, nullptr));
  if (data) g_object_unref(data);
  if (memory) webkit_memory_pressure_settings_free(memory);
  return context;
}

void OmbrixCefApp::SetUpExtension(WebKitWebContext* context) {
  // Beside the real executable: an app's folder holds only a link to the shell.
  const QString directory =
      QFileInfo(ombrix::RealExecutablePath()).path() + QStringLiteral("/renderer");
  webkit_web_context_set_web_extensions_directory(context, directory.toUtf8().constData());
  // Every view keeps the engine's default User-Agent.
  WebKitSettings* settings = webkit_settings_new();
  const QString user_agent = QString::fromUtf8(webkit_settings_get_user_agent(settings));
  g_object_unref(settings);
  webkit_web_context_set_web_extensions_initialization_user_data(
      context, ombrix::BuildExtensionInitData(manifest_, user_agent));
}

void OmbrixCefApp::OnChromeScheme(WebKitURISchemeRequest* request, gpointer self) {
  auto* app = static_cast<OmbrixCefApp*>(self);
  const QUrl url(QString::fromUtf8(webkit_uri_scheme_request_get_uri(request)));
  if (url.host() != QLatin1String("version")) {
    GError* error = g_error_new(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "no such page: %s",
                                webkit_uri_scheme_request_get_uri(request));
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  const ManifestUtil& manifest = app->manifest_;
  ombrix::VersionRows rows = {
      {QStringLiteral("Program"), QStringLiteral("ombrix " OMBRIX_VERSION)},
      {QStringLiteral("Engine"), LibraryVersions()},
      {QStringLiteral("User agent"),
       QString::fromUtf8(webkit_settings_get_user_agent(
           webkit_web_view_get_settings(webkit_uri_scheme_request_get_web_view(request))))},
      {QStringLiteral("Executable"), ExecutableText()},
  };
  const ombrix::VersionRows from_manifest = ombrix::ManifestRows(manifest);
  rows.insert(rows.end(), from_manifest.begin(), from_manifest.end());
  const QString page = ombrix::BuildVersionPage(rows);
  Respond(request, page.toUtf8(), "text/html");
}

void OmbrixCefApp::OnContextInitialized() {
  qDebug() << manifest_.application_title_;
  context_ = CreateContext();
  // A moderate memory cache and the HTTP disk cache in the cache folder: pages
  // from the app's own server load from it when the server is slow or down.
  // The views keep no back/forward page cache (their settings).
  webkit_web_context_set_cache_model(context_, WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
  SetUpExtension(context_);
  webkit_web_context_register_uri_scheme(context_, "chrome", OnChromeScheme, this, nullptr);
  ombrix::RegisterClientScheme(context_);
  if (!handler_) handler_ = std::make_unique<OmbrixCefHandler>(context_, manifest_);
  handler_->disable_resize_ = manifest_.disable_resize_;
  // Before the first load starts, so the service manager hears of it.
  if (notifier_) notifier_->Follow(&handler_->page_status_);
  handler_->CreateMainBrowser(ombrix::ExpandAppDirInUrl(manifest_.first_page_),
                              manifest_.application_title_);
  screen_ = ombrix::Screen::ForManifest(manifest_);
  if (screen_) screen_->AttachWindow(handler_->main_window());
  StartControl();
}

void OmbrixCefApp::StartControl() {
  OmbrixCefHandler* handler = handler_.get();
  const QString first_page = ombrix::ExpandAppDirInUrl(manifest_.first_page_);
  ombrix::KioskBusSetup setup;
  setup.app_name = ombrix::GetAppName();
  setup.version = QStringLiteral(OMBRIX_VERSION);
  setup.start_time = start_time_;
  setup.board = &handler->page_status_;
  setup.main_view = [handler] { return handler->exiting() ? nullptr : handler->main_browser(); };
  setup.home = [handler, first_page] {
    webkit_web_view_load_uri(handler->main_browser(), first_page.toUtf8().constData());
  };
  setup.quit = [handler] { handler->ExitApp(); };
  bus_ = std::make_unique<ombrix::KioskBus>(std::move(setup));
  if (manifest_.metrics_listen_.isEmpty()) return;
  std::string refusal;
  metrics_ = ombrix::MetricsServer::Start(
      manifest_.metrics_listen_.toStdString(), manifest_.metrics_token_.toStdString(),
      [this] { return Figures(); }, &refusal);
  if (!metrics_) {
    std::printf("%s\r\n", refusal.c_str());
    std::fflush(stdout);
  }
}

ombrix::MetricsFigures OmbrixCefApp::Figures() const {
  const ombrix::PageStatus& status = handler_->page_status_.status();
  const ombrix::PageCounters& counters = handler_->page_status_.counters();
  ombrix::MetricsFigures figures;
  figures.version = OMBRIX_VERSION;
  figures.start_time_seconds = start_time_;
  figures.page_state = ombrix::PageStateName(status.state);
  figures.page_responsive = status.responsive;
  figures.loads_ok = counters.loads_ok;
  figures.loads_failed = counters.loads_failed;
  figures.restarts_crash = counters.restarts_crash;
  figures.restarts_hang = counters.restarts_hang;
  figures.restarts_memory = counters.restarts_memory;
  figures.resident_shell_bytes = ombrix::ResidentBytesOf(getpid());
  figures.resident_web_bytes = ombrix::WebResidentBytes();
  figures.idle_resets = counters.idle_resets;
  figures.dispenser_tickets = counters.dispenser_tickets;
  figures.dispenser_last_code = counters.dispenser_last_code;
  figures.print_completed = counters.print_completed;
  figures.print_stopped = counters.print_stopped;
  figures.print_canceled = counters.print_canceled;
  figures.print_aborted = counters.print_aborted;
  figures.print_failed = counters.print_failed;
  return figures;
}
