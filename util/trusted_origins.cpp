#include "util/trusted_origins.h"

#include <QUrl>

namespace ombrix {
namespace {

int DefaultPort(const QString& scheme) {
  if (scheme == QLatin1String("https") || scheme == QLatin1String("wss")) return 443;
  if (scheme == QLatin1String("http") || scheme == QLatin1String("ws")) return 80;
  return 0;
}

bool ValidHost(const QString& host) {
  const int star = host.lastIndexOf(QLatin1Char('*'));
  if (star < 0) return true;
  // Only "*." at the very start, with at least one label after it.
  return star == 0 && host.startsWith(QLatin1String("*.")) && host.size() > 2 &&
         !host.mid(2).contains(QLatin1Char('*'));
}

bool HostMatches(const QString& pattern, const QString& host) {
  if (!pattern.startsWith(QLatin1String("*."))) return pattern == host;
  const QString suffix = pattern.mid(1);  // ".shop.example"
  return host.size() > suffix.size() && host.endsWith(suffix) &&
         !host.left(host.size() - suffix.size()).contains(QLatin1Char('.'));
}

}  // namespace

std::optional<Origin> ParseOrigin(const QString& text) {
  const int separator = text.indexOf(QLatin1String("://"));
  if (separator <= 0) return std::nullopt;
  Origin origin;
  origin.scheme = text.left(separator).toLower();
  QString rest = text.mid(separator + 3);
  if (rest.endsWith(QLatin1Char('/'))) rest.chop(1);
  if (rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('?')) ||
      rest.contains(QLatin1Char('#')) || rest.contains(QLatin1Char('@'))) {
    return std::nullopt;
  }
  const int colon = rest.lastIndexOf(QLatin1Char(':'));
  origin.port = DefaultPort(origin.scheme);
  if (colon >= 0) {
    bool number = false;
    const int port = rest.mid(colon + 1).toInt(&number, 10);
    if (!number || port <= 0 || port > 65535) return std::nullopt;
    origin.port = port;
    rest.truncate(colon);
  }
  origin.host = rest.toLower();
  if (!ValidHost(origin.host)) return std::nullopt;
  return origin;
}

QString OriginOfUrl(const QString& url) {
  const QUrl parsed(url);
  if (!parsed.isValid()) return QString();
  const QString scheme = parsed.scheme().toLower();
  if (scheme == QLatin1String("file") || scheme == QLatin1String("client")) {
    return scheme + QStringLiteral("://");
  }
  if (scheme == QLatin1String("blob")) return OriginOfUrl(parsed.path());
  if (DefaultPort(scheme) == 0 || parsed.host().isEmpty()) return QString();
  QString origin = scheme + QStringLiteral("://") + parsed.host(QUrl::FullyEncoded);
  if (parsed.port() > 0) origin += QLatin1Char(':') + QString::number(parsed.port());
  return origin;
}

TrustedOrigins TrustedOrigins::Everyone() {
  TrustedOrigins list;
  list.everyone_ = true;
  return list;
}

TrustedOrigins TrustedOrigins::FromList(const QStringList& entries, QStringList* rejected) {
  TrustedOrigins list;
  for (const QString& entry : entries) {
    if (const std::optional<Origin> origin = ParseOrigin(entry.trimmed())) {
      list.entries_.push_back(*origin);
      list.texts_.append(entry.trimmed());
    } else if (rejected) {
      rejected->append(entry);
    }
  }
  return list;
}

bool TrustedOrigins::Trusts(const QString& text) const {
  if (everyone_) return true;
  const std::optional<Origin> origin = ParseOrigin(text);
  if (!origin || origin->host.contains(QLatin1Char('*'))) return false;
  for (const Origin& entry : entries_) {
    if (entry.scheme == origin->scheme && entry.port == origin->port &&
        HostMatches(entry.host, origin->host)) {
      return true;
    }
  }
  return false;
}

bool TrustedOrigins::TrustsUrl(const QString& url) const {
  return everyone_ || Trusts(OriginOfUrl(url));
}

}  // namespace ombrix
