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

}  // namespace ombrix
