// Process entry of the shell: find the app's folder (the one the shell was
// started from), choose and read the manifest, move to that folder, open the
// main window and run the main loop.
#include <gtk/gtk.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <cstdio>

#include "app/manifest_util.h"
#include "app/ombrix_cef_app.h"
#include "app/startup.h"
#include "util/log_text.h"
#include "util/url_text.h"
#include "util/util_win.h"

int main(int argc, char** argv) {
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
  OmbrixCefApp app(manifest);
  app.OnContextInitialized();
  gtk_main();
  return 0;
}
