#include "kiosk/lockdown_rules.h"

#include <QUrl>

namespace ombrix {
namespace {

// An entry as a prefix: a URL with a scheme; one with a host and no path gets
// its "/"; schemes and hosts in lower case.
QString PrefixOf(const QString& entry) {
  const QUrl url(entry, QUrl::StrictMode);
  if (!url.isValid() || url.scheme().isEmpty()) return QString();
  const bool network = url.scheme() == QLatin1String("http") ||
                       url.scheme() == QLatin1String("https") ||
                       url.scheme() == QLatin1String("ws") || url.scheme() == QLatin1String("wss");
  if (network && url.host().isEmpty()) return QString();
  if (entry.contains(QLatin1Char('*'))) return QString();
  QUrl prefix = url.adjusted(QUrl::RemoveFragment);
  if (prefix.path().isEmpty() && !prefix.host().isEmpty()) prefix.setPath(QStringLiteral("/"));
  QString text = prefix.toString(QUrl::FullyEncoded);
  // "client:/" and "file:/" are written by many as "client:///", "file:///".
  if (prefix.host().isEmpty() && entry.contains(QLatin1String(":///")) &&
      !text.contains(QLatin1String(":///"))) {
    text.replace(prefix.scheme() + QLatin1String(":/"), prefix.scheme() + QLatin1String(":///"));
  }
  return text;
}

// url as the prefixes are written, for comparing.
QString Normalized(const QString& url) {
  const QUrl parsed(url);
  if (!parsed.isValid()) return QString();
  QString text = parsed.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
  if (parsed.host().isEmpty() && url.contains(QLatin1String(":///")) &&
      !text.contains(QLatin1String(":///"))) {
    text.replace(parsed.scheme() + QLatin1String(":/"), parsed.scheme() + QLatin1String(":///"));
  }
  if (!parsed.host().isEmpty() && parsed.path().isEmpty()) text += QLatin1Char('/');
  return text;
}

}  // namespace

UrlAllowList UrlAllowList::FromEntries(const QStringList& entries, QStringList* rejected) {
  UrlAllowList list;
  for (const QString& entry : entries) {
    const QString prefix = PrefixOf(entry.trimmed());
    if (prefix.isEmpty()) {
      if (rejected) rejected->append(entry);
    } else {
      list.prefixes_.append(prefix);
    }
  }
  return list;
}

UrlAllowList UrlAllowList::ForFirstPage(const QString& first_page) {
  UrlAllowList list;
  const QUrl url(first_page);
  if (!url.isValid() || url.scheme().isEmpty()) return list;
  if (url.host().isEmpty()) {
    list.prefixes_.append(url.scheme() + QStringLiteral(":///"));
    list.prefixes_.append(url.scheme() + QStringLiteral("://"));  // chrome://version
  } else {
    list.prefixes_.append(url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
                              .toString(QUrl::FullyEncoded) +
                          QLatin1Char('/'));
  }
  return list;
}

bool UrlAllowList::Allows(const QString& url) const {
  // The shell's own blank and notice pages.
  if (url == QLatin1String("about:blank") || url.startsWith(QLatin1String("about:srcdoc"))) {
    return true;
  }
  const QString text = Normalized(url);
  if (text.isEmpty()) return false;
  for (const QString& prefix : prefixes_) {
    if (text.startsWith(prefix, Qt::CaseInsensitive)) return true;
  }
  return false;
}

bool KeyChord::operator==(const KeyChord& other) const {
  return ctrl == other.ctrl && alt == other.alt && shift == other.shift && super == other.super &&
         key == other.key;
}

KeyChord ParseKeyChord(const QString& text, bool (*is_key)(const QString& name), QString* error) {
  KeyChord chord;
  const QStringList parts = text.toLower().split(QLatin1Char('+'));
  for (int i = 0; i < parts.size(); ++i) {
    const QString part = parts[i].trimmed();
    bool* modifier = nullptr;
    if (part == QLatin1String("ctrl") || part == QLatin1String("control")) modifier = &chord.ctrl;
    if (part == QLatin1String("alt")) modifier = &chord.alt;
    if (part == QLatin1String("shift")) modifier = &chord.shift;
    if (part == QLatin1String("super") || part == QLatin1String("win")) modifier = &chord.super;
    if (modifier && i + 1 < parts.size()) {
      if (*modifier) {
        *error = QStringLiteral("names \"%1\" twice").arg(part);
        return KeyChord();
      }
      *modifier = true;
      continue;
    }
    if (i + 1 < parts.size() || part.isEmpty() || !is_key(part)) {
      *error = part.isEmpty() ? QStringLiteral("names no key")
                              : QStringLiteral("\"%1\" is no key").arg(part);
      return KeyChord();
    }
    chord.key = part;
  }
  if (!chord.ctrl && !chord.alt && !chord.super) {
    *error = QStringLiteral("needs Ctrl, Alt or Super, or a customer could type it");
    return KeyChord();
  }
  if (chord.alt && !chord.ctrl && !chord.shift && !chord.super &&
      chord.key == QLatin1String("f4")) {
    *error = QStringLiteral("is the window manager's close, which lock-down refuses");
    return KeyChord();
  }
  return chord;
}

bool IsPin(const QString& text) {
  if (text.isEmpty() || text.size() > 12) return false;
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  }
  return true;
}

}  // namespace ombrix
