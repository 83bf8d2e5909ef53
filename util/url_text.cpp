#include "util/url_text.h"

#include <QDir>
#include <QUrl>

#include "util/util_win.h"

namespace ombrix {
namespace {

bool IsAsciiLetter(QChar c) {
  return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
         (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// Whether text begins with a URL scheme and its colon: a letter, then letters,
// digits, "+", "." or "-". Checked by hand: a regular expression here would
// load and compile PCRE at every start.
bool StartsWithScheme(const QString& text) {
  if (text.isEmpty() || !IsAsciiLetter(text.at(0))) return false;
  for (int i = 1; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c == QLatin1Char(':')) return true;
    const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (!IsAsciiLetter(c) && !digit && c != QLatin1Char('+') && c != QLatin1Char('.') &&
        c != QLatin1Char('-')) {
      return false;
    }
  }
  return false;
}

}  // namespace

QByteArray EncodedUrl(const QString& text) {
  const QUrl url(text, QUrl::TolerantMode);
  if (!url.isValid() || url.scheme().isEmpty()) return QByteArray();
  return url.toEncoded(QUrl::FullyEncoded);
}

QString PercentEncodedPath(const QString& path) {
  return QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
}

QString ExpandAppDirInUrl(const QString& text) {
  if (!StartsWithScheme(text)) {
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
