#include "app/startup.h"

#include <QDir>
#include <QStringList>

namespace ombrix {

QString CommandLineText(int argc, char** argv) {
  QStringList parts;
  for (int i = 1; i < argc; ++i) parts << QString::fromLocal8Bit(argv[i]);
  return parts.join(QLatin1Char(' '));
}

namespace {

// name inside folder, with "." and ".." segments taken out.
QString JoinPath(const QString& folder, const QString& name) {
  return QDir::cleanPath(folder + QLatin1Char('/') + name);
}

// The first candidate for a bare command name on PATH that leads to real_exe.
QString FindOnPath(const QString& name, const QString& cwd, const QString& path_env,
                   const QString& real_exe, const RealFileLookup& real_file_of) {
  for (const QString& entry : path_env.split(QLatin1Char(':'))) {
    const QString folder = entry.isEmpty() ? cwd : entry;
    const QString candidate =
        JoinPath(folder.startsWith(QLatin1Char('/')) ? folder : JoinPath(cwd, folder), name);
    if (real_file_of(candidate) == real_exe) return candidate;
  }
  return QString();
}

}  // namespace

QString StartedPath(const QString& argv0, const QString& cwd, const QString& path_env,
                    const QString& real_exe, const RealFileLookup& real_file_of) {
  if (argv0.isEmpty() || real_exe.isEmpty()) return real_exe;
  QString started;
  if (!argv0.contains(QLatin1Char('/'))) {
    started = FindOnPath(argv0, cwd, path_env, real_exe, real_file_of);
  } else {
    started = argv0.startsWith(QLatin1Char('/')) ? QDir::cleanPath(argv0) : JoinPath(cwd, argv0);
    if (real_file_of(started) != real_exe) started.clear();
  }
  return started.isEmpty() ? real_exe : started;
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
