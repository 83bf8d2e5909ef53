#include "app/manifest_values.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace ombrix {
namespace {

// A key's name without case, "_" and "-": "firstPage" and "first-page" both
// come close to "first_page".
QString Loose(const QString& name) {
  QString loose = name.toLower();
  loose.remove(QLatin1Char('_'));
  loose.remove(QLatin1Char('-'));
  return loose;
}

// How many characters must be inserted, deleted, replaced or swapped with their
// neighbour to turn a into b: "verison" is 1 from "version".
int EditDistance(const QString& a, const QString& b) {
  const int n = a.size();
  const int m = b.size();
  std::vector<int> before(m + 1), last(m + 1), row(m + 1);
  for (int j = 0; j <= m; ++j) last[j] = j;
  for (int i = 1; i <= n; ++i) {
    row[0] = i;
    for (int j = 1; j <= m; ++j) {
      const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        row[j] = std::min(row[j], before[j - 2] + 1);
    }
    std::swap(before, last);
    std::swap(last, row);
  }
  return last[m];
}

}  // namespace

bool IsCount(const QJsonValue& value) {
  const double number = value.toDouble(-1);
  return number == std::floor(number) && number >= 0 && number <= INT_MAX;
}

bool IsSecondsOrNever(const QJsonValue& value) {
  const double number = value.toDouble(-2);
  return number == std::floor(number) && number >= -1 && number <= INT_MAX;
}

bool IsZoom(const QJsonValue& value) {
  const double zoom = value.toDouble(0);
  return zoom >= 0.25 && zoom <= 5;
}

bool IsUrlList(const QJsonValue& value) {
  if (!value.isArray()) return false;
  for (const QJsonValue& entry : value.toArray()) {
    if (!entry.isString()) return false;
  }
  return true;
}

// A JSON value as the vendor wrote it, for a start-up line.
QString JsonText(const QJsonValue& value) {
  const QJsonArray wrapped{value};
  const QByteArray text = QJsonDocument(wrapped).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(text.mid(1, text.size() - 2));
}

// Whether a name the shell does not know is close enough to known to be a slip
// of the pen: the same without case, "_" and "-", or one or two characters off
// (one for the shortest names).
int Closeness(const QString& name, const QString& known) {
  const QString a = Loose(name);
  const QString b = Loose(known);
  const int allowed = b.size() <= 4 ? 1 : 2;
  if (std::abs(a.size() - b.size()) > allowed) return -1;
  const int distance = EditDistance(a, b);
  return distance <= allowed ? distance : -1;
}

// Whether text starts with a URL's scheme ("file:", "https:", "client:"). A
// single letter is a drive ("C:/kiosk"), not a scheme.
bool HasScheme(const QString& text) {
  const int colon = text.indexOf(QLatin1Char(':'));
  if (colon < 2) return false;
  for (int i = 0; i < colon; ++i) {
    const QChar c = text[i];
    const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
    const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const bool mark = c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('.');
    if (!letter && (i == 0 || (!digit && !mark))) return false;
  }
  return true;
}

// A page that shows without any server: a file: or client: address.
bool IsLocalAddress(const QString& text) {
  return text.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) ||
         text.startsWith(QLatin1String("client:"), Qt::CaseInsensitive);
}

}  // namespace ombrix
