#include "util/trusted_origins.h"

#include <QUrl>

namespace ombrix {
namespace {

int DefaultPort(const QString& scheme) {
  if (scheme == QLatin1String("https") || scheme == QLatin1String("wss")) return 443;
  if (scheme == QLatin1String("http") || scheme == QLatin1String("ws")) return 80;
  return 0;
}

bool Local(const QString& scheme) {
  return scheme == QLatin1String("file") || scheme == QLatin1String("client");
}

// A host as frames' origins carry it: lower case, an international name in
// its ASCII (ACE) form, an IPv6 address in brackets; empty when it is no host.
QString CanonicalHost(const QString& host) {
  if (host.isEmpty()) return QString();
  const QUrl url(QStringLiteral("http://") + host + QLatin1Char('/'));
  const QString canonical = url.host(QUrl::FullyEncoded);
  if (!url.isValid() || canonical.isEmpty()) return QString();
  if (canonical.contains(QLatin1Char(':'))) return QLatin1Char('[') + canonical + QLatin1Char(']');
  return canonical;
}

// A host of a list entry or a frame's origin; "*." only as a whole leftmost
// label followed by at least two labels ("*.com" would trust a whole domain).
QString EntryHost(const QString& host) {
  if (!host.startsWith(QLatin1String("*."))) {
    return host.contains(QLatin1Char('*')) ? QString() : CanonicalHost(host);
  }
  const QString rest = CanonicalHost(host.mid(2));
  if (rest.isEmpty() || rest.startsWith(QLatin1Char('[')) || !rest.contains(QLatin1Char('.')))
    return QString();
  return QStringLiteral("*.") + rest;
}

bool HostMatches(const QString& pattern, const QString& host) {
  if (!pattern.startsWith(QLatin1String("*."))) return pattern == host;
  const QString suffix = pattern.mid(1);  // ".shop.example"
  return host.size() > suffix.size() && host.endsWith(suffix) &&
         !host.left(host.size() - suffix.size()).contains(QLatin1Char('.'));
}

// Splits "host[:port]" (the host maybe "[v6]"); false for a bad port.
bool SplitPort(const QString& authority, QString* host, int* port) {
  const int bracket = authority.lastIndexOf(QLatin1Char(']'));
  const int colon = authority.lastIndexOf(QLatin1Char(':'));
  *host = authority;
  if (colon < 0 || colon < bracket) return true;
  bool number = false;
  const int value = authority.mid(colon + 1).toInt(&number, 10);
  if (!number || value <= 0 || value > 65535) return false;
  *port = value;
  host->truncate(colon);
  return true;
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
  // file: and client: documents have no host; the others need one.
  if (Local(origin.scheme)) return rest.isEmpty() ? std::optional<Origin>(origin) : std::nullopt;
  origin.port = DefaultPort(origin.scheme);
  if (origin.port == 0) return std::nullopt;  // no frame has such an origin
  QString host;
  if (!SplitPort(rest, &host, &origin.port)) return std::nullopt;
  origin.host = EntryHost(host);
  if (origin.host.isEmpty()) return std::nullopt;
  return origin;
}

QString OriginOfUrl(const QString& url) {
  const QUrl parsed(url);
  if (!parsed.isValid()) return QString();
  const QString scheme = parsed.scheme().toLower();
  if (Local(scheme)) return scheme + QStringLiteral("://");
  if (scheme == QLatin1String("blob")) return OriginOfUrl(parsed.path());
  if (DefaultPort(scheme) == 0 || parsed.host().isEmpty()) return QString();
  const QString host = parsed.host(QUrl::FullyEncoded);
  QString origin =
      scheme + QStringLiteral("://") +
      (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host);
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

bool SameOrigin(const QString& url_origin, const QString& document_origin) {
  const std::optional<Origin> url = ParseOrigin(url_origin);
  if (!url) return false;
  // Engines differ on how a file: or client: document's origin is written
  // ("file://", "client://index.html"); its scheme is what counts.
  if (Local(url->scheme)) {
    return document_origin.startsWith(url->scheme + QStringLiteral("://"), Qt::CaseInsensitive);
  }
  const std::optional<Origin> document = ParseOrigin(document_origin);
  return document && document->scheme == url->scheme && document->host == url->host &&
         document->port == url->port;
}

QString LoggedOrigin(const QString& url) {
  const QString origin = OriginOfUrl(url);
  if (!origin.isEmpty()) return origin;
  const QString scheme = QUrl(url).scheme();
  return scheme.isEmpty() ? QStringLiteral("(no address)") : scheme + QLatin1Char(':');
}

bool TrustedOrigins::TrustsUrl(const QString& url) const {
  return everyone_ || Trusts(OriginOfUrl(url));
}

bool FileUrlsReachEveryOrigin(const TrustedOrigins& trust) {
  return trust.Trusts(QStringLiteral("file://")) && trust.Trusts(QStringLiteral("client://"));
}

}  // namespace ombrix
