// Process entry of the shell: find the app's folder (the one the shell was
// started from), choose and read the manifest, move to that folder, open the
// main window and run the main loop.
//
// Under a service manager (systemd's Type=notify) the shell reports its page's
// state and feeds the watchdog (kiosk/service_notify.h); when the display goes
// away it ends at once with status 1 (kiosk/display_watch.h).
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <csignal>
#include <cstdio>

#include "app/manifest_util.h"
#include "app/ombrix_cef_app.h"
#include "app/startup.h"
#include "kiosk/display_watch.h"
#include "kiosk/service_notify.h"
#include "util/local_encoding.h"
#include "util/log_text.h"
#include "util/url_text.h"
#include "util/util_win.h"

namespace {

ombrix::ServiceNotifier* service = nullptr;
int ending_signal = 0;

// SIGTERM (a service manager's stop), SIGINT and SIGHUP end the main loop, so
// the shell gives back what it holds (the screen saver, the tray) as at a
// normal exit, and then ends by that signal as before. A main loop that does
// not come round within 3 s is ended by the alarm.
gboolean OnEndingSignal(gpointer number) {
  if (!ending_signal) {
    ending_signal = GPOINTER_TO_INT(number);
    alarm(3);
    gtk_main_quit();
  }
  return G_SOURCE_CONTINUE;
}

void EndOnSignals() {
  for (int number : {SIGTERM, SIGINT, SIGHUP})
    g_unix_signal_add(number, OnEndingSignal, GINT_TO_POINTER(number));
}

}  // namespace

int main(int argc, char** argv) {
  ombrix::UseUtf8LocalEncoding();  // before the first file name
  // Then: the service manager's variables leave the environment before any
  // thread or child process (a web process, a bus, a page's program) exists.
  ombrix::ServiceNotifier notifier;
  service = &notifier;
  // Whether the debug lines are wanted is known once the manifest is read.
  ombrix::HoldDebugLines();
  ombrix::SetExecutablePath(ombrix::StartedPath(argc > 0 ? QFile::decodeName(argv[0]) : QString(),
                                                QDir::currentPath(), qEnvironmentVariable("PATH"),
                                                ombrix::RealExecutablePath(), ombrix::RealFileOf));
  const QString command_line = ombrix::CommandLineText(argc, argv);
  const QString manifest_name = ombrix::ManifestName(command_line, ombrix::GetAppName());
  qDebug() << manifest_name;

  ManifestUtil& manifest = ManifestUtil::Instance(manifest_name);
  const bool read = manifest.ReadFile() && manifest.Parse();
  ombrix::ReleaseDebugLines(read && manifest.disable_debug_log_);
  if (!read) {
    if (!manifest.ParseError().isEmpty())
      std::printf("%s\r\n", manifest.ParseError().toUtf8().constData());
    std::fflush(stdout);
    return -1;
  }

  QDir::setCurrent(ombrix::GetFullPathInExecutionDirectory(QString()));
  manifest.command_line_ = command_line;
  qDebug() << command_line;

  QStringList rejected;
  const ombrix::TrustedOrigins trust = manifest.TrustPolicy(&rejected);
  const QString first_page = ombrix::ExpandAppDirInUrl(manifest.first_page_);
  const QStringList lines =
      manifest.Mistakes() + ombrix::TrustStartupLines(trust, rejected, first_page);
  for (const QString& line : lines) std::printf("%s\r\n", line.toUtf8().constData());
  std::fflush(stdout);

  gtk_init(&argc, &argv);
  ombrix::WatchDisplay([] { service->Stopping(); });
  {
    OmbrixCefApp app(manifest, &notifier);
    app.OnContextInitialized();
    EndOnSignals();
    gtk_main();
    notifier.Stopping();
  }
  if (ending_signal) {
    std::signal(ending_signal, SIG_DFL);
    raise(ending_signal);
  }
  return 0;
}
