#include "app/startup.h"

#include <QStringList>

namespace ombrix {

QString CommandLineText(int argc, char** argv) {
  QStringList parts;
  for (int i = 1; i < argc; ++i) parts << QString::fromLocal8Bit(argv[i]);
  return parts.join(QLatin1Char(' '));
}

QString ManifestName(const QString& command_line, const QString& app_name) {
  const QString first = command_line.section(QLatin1Char(' '), 0, 0);
  return first.isEmpty() ? app_name + QStringLiteral(".json") : first;
}

namespace {

QString SchemeOf(const QString& url) { return url.section(QLatin1Char(':'), 0, 0).toLower(); }

// The shell's own version page needs no object.
bool IsOwnPage(const QString& url) { return SchemeOf(url) == QLatin1String("chrome"); }

bool IsLocalPage(const QString& url) {
  const QString scheme = SchemeOf(url);
  return scheme == QLatin1String("file") || scheme == QLatin1String("client") || IsOwnPage(url);
}

}  // namespace

QStringList TrustStartupLines(const TrustedOrigins& policy, const QStringList& rejected,
                              const QString& first_page) {
  QStringList lines;
  if (policy.everyone()) {
    if (!IsLocalPage(first_page)) {
      lines << QStringLiteral(
                   "warning: no \"trusted_origins\" in the manifest: every frame of every origin "
                   "gets ombrix, and the first page %1 is not local")
                   .arg(first_page);
    }
    return lines;
  }
  if (!rejected.isEmpty()) {
    lines << QStringLiteral("trusted_origins: left out, not origins: %1")
                 .arg(rejected.join(QStringLiteral(", ")));
  }
  lines << QStringLiteral("trusted_origins: %1")
               .arg(policy.empty() ? QStringLiteral("none, no page gets ombrix")
                                   : policy.texts().join(QStringLiteral(", ")));
  if (!policy.empty() && !IsOwnPage(first_page) && !policy.TrustsUrl(first_page)) {
    lines << QStringLiteral(
                 "warning: the first page %1 is not of a trusted origin: it gets no ombrix")
                 .arg(first_page);
  }
  return lines;
}

}  // namespace ombrix
