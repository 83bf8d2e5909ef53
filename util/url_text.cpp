#include "util/url_text.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>

#include "util/util_win.h"

namespace ombrix {

QByteArray EncodedUrl(const QString& text) {
  const QUrl url(text, QUrl::TolerantMode);
  if (!url.isValid() || url.scheme().isEmpty()) return QByteArray();
  return url.toEncoded(QUrl::FullyEncoded);
}

QString PercentEncodedPath(const QString& path) {
  return QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
}

QString ExpandAppDirInUrl(const QString& text) {
  static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
  if (!scheme.match(text).hasMatch()) {
    const QString path = ExpandAppDir(text);
    // An absolute path names a file on this machine: its file: URL.
    if (!path.startsWith(QLatin1Char('/'))) return path;
    return QStringLiteral("file://") + PercentEncodedPath(QDir::cleanPath(path));
  }
  QString expanded = text;
  expanded.replace(QStringLiteral("${AppDir}"),
                   PercentEncodedPath(GetFullPathInExecutionDirectory(QString())),
                   Qt::CaseSensitive);
  return expanded;
}

}  // namespace ombrix
