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

// Reads "scheme://host[:port]" (a trailing "/" allowed); nothing for text that
// is no origin, a "*" that is not a whole leftmost label, or a bad port.
std::optional<Origin> ParseOrigin(const QString& text);

class TrustedOrigins {
 public:
  // Entries that are no origin are left out and listed in rejected.
  static TrustedOrigins FromList(const QStringList& entries, QStringList* rejected);

  // True when origin (a frame's serialized origin) is on the list.
  bool Trusts(const QString& origin) const;
  bool empty() const { return entries_.empty(); }

 private:
  std::vector<Origin> entries_;
};

}  // namespace ombrix
