// Which document origins are trusted with the native object: the manifest's
// "trusted_origins" list ("client://", "file://", "https://shop.example:8443",
// "https://*.shop.example") matched against a frame's origin.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace ombrix {

// An origin as scheme, host and port; the port is the scheme's default when
// none is given (0 for schemes without one, such as file: and client:).
struct Origin {
  QString scheme;
  QString host;  // may start with "*." in a list entry
  int port = 0;
};

// Reads "scheme://host[:port]" (a trailing "/" allowed; "[v6]" hosts; an
// international host is kept in its ASCII form); nothing for text that is no
// origin a document can have: a scheme other than http(s), ws(s), file and
// client, a missing host (or a host for file: and client:), a "*" that is not a
// whole leftmost label followed by two labels, a bad port.
std::optional<Origin> ParseOrigin(const QString& text);

// The origin of a document at url, in the list's form: "scheme://host[:port]"
// for http(s) and ws(s), "file://" and "client://" for those schemes (their
// documents have no host), the inner origin of a "blob:" address; empty for
// everything else (about:, data:, unknown schemes), which no list trusts.
QString OriginOfUrl(const QString& url);

// True when a document's own origin (what `self.origin` gives; "null" for a
// sandboxed document) is the origin its address has (url_origin, from
// OriginOfUrl).
bool SameOrigin(const QString& url_origin, const QString& document_origin);

// What a log line shows of a page's address: its origin, or its scheme when
// it has none; never the path or query, which may hold tokens.
QString LoggedOrigin(const QString& url);

class TrustedOrigins {
 public:
  // What ombrix does without a list in the manifest: every origin is trusted.
  static TrustedOrigins Everyone();
  // Entries that are no origin are left out and listed in rejected.
  static TrustedOrigins FromList(const QStringList& entries, QStringList* rejected);

  // True when origin (a frame's serialized origin) is on the list.
  bool Trusts(const QString& origin) const;
  // True when the document at url has a trusted origin.
  bool TrustsUrl(const QString& url) const;
  bool everyone() const { return everyone_; }
  bool empty() const { return entries_.empty(); }
  // The entries in force, as written in the manifest.
  const QStringList& texts() const { return texts_; }

 private:
  bool everyone_ = false;
  std::vector<Origin> entries_;
  QStringList texts_;
};

// Whether file: documents may reach every origin (the engine's universal
// access from file URLs): only when no file: or client: document can be
// untrusted, since such a document could otherwise read a trusted frame's
// `ombrix`.
bool FileUrlsReachEveryOrigin(const TrustedOrigins& trust);

}  // namespace ombrix
