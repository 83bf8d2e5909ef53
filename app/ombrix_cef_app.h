// The shell's application object: sets up the browser engine from the manifest
// and opens the main window on the first page.
#pragma once

#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <memory>

#include "app/manifest_util.h"
#include "browser/ombrix_cef_handler.h"
#include "control/kiosk_bus.h"
#include "control/metrics_server.h"
#include "kiosk/screen.h"
#include "kiosk/service_notify.h"

class OmbrixCefApp {
 public:
  // notifier, when given, follows the main page from the start; it outlives
  // the application object.
  explicit OmbrixCefApp(ManifestUtil& manifest, ombrix::ServiceNotifier* notifier = nullptr);
  ~OmbrixCefApp();
  OmbrixCefApp(const OmbrixCefApp&) = delete;
  OmbrixCefApp& operator=(const OmbrixCefApp&) = delete;

  // Creates the engine context, the schemes, the handler and the main window.
  void OnContextInitialized();

  OmbrixCefHandler* handler() const { return handler_.get(); }

 private:
  WebKitWebContext* CreateContext();
  void SetUpExtension(WebKitWebContext* context);
  static void OnChromeScheme(WebKitURISchemeRequest* request, gpointer self);
  // The session-bus interface and, when the manifest asks for it, the metrics endpoint.
  void StartControl();
  ombrix::MetricsFigures Figures() const;

  ManifestUtil& manifest_;
  ombrix::ServiceNotifier* notifier_ = nullptr;
  WebKitWebContext* context_ = nullptr;
  std::unique_ptr<OmbrixCefHandler> handler_;
  // "keep_screen_on" and "hide_cursor_seconds" (null without them); given back first.
  std::unique_ptr<ombrix::Screen> screen_;
  // Control from outside; they use the handler and go before it.
  qint64 start_time_ = 0;  // Unix seconds
  std::unique_ptr<ombrix::KioskBus> bus_;
  std::unique_ptr<ombrix::MetricsServer> metrics_;
};
