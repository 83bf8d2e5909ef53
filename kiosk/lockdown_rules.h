// The decisions of lock-down, kept apart from the engine: which addresses a
// locked page may go to, and the technician's exit chord.
#pragma once

#include <QString>
#include <QStringList>

namespace ombrix {

// Address prefixes a locked-down page may load ("client:///",
// "https://shop.example/"). An entry naming only an origin stands for the
// whole origin ("https://shop.example" is "https://shop.example/"), so it never
// matches another host that merely starts the same way.
class UrlAllowList {
 public:
  // Entries that are no address prefix ("*", "shop", "") go to rejected.
  static UrlAllowList FromEntries(const QStringList& entries, QStringList* rejected);
  // The first page's origin alone ("file:///" for a file).
  static UrlAllowList ForFirstPage(const QString& first_page);

  bool Allows(const QString& url) const;
  // One more prefix, taken as it is written (an address the shell itself shows).
  void Add(const QString& prefix) { prefixes_.append(prefix); }
  bool empty() const { return prefixes_.isEmpty(); }
  const QStringList& prefixes() const { return prefixes_; }

 private:
  QStringList prefixes_;
};

// A key chord such as "ctrl+alt+shift+e": modifiers and one key, matched
// without regard to case.
struct KeyChord {
  bool ctrl = false;
  bool alt = false;
  bool shift = false;
  bool super = false;
  QString key;  // the key's name in lower case: "e", "f12", "escape"
  bool valid() const { return !key.isEmpty(); }
  bool operator==(const KeyChord& other) const;
};

// The chord text means; empty (not valid) with *error set when it names no
// key, repeats a part, or is a chord the window manager takes (Alt+F4).
// is_key(name) tells whether a lower-case name is a key of the keyboard.
KeyChord ParseKeyChord(const QString& text, bool (*is_key)(const QString& name), QString* error);

// Whether a lower-case name is a key of the keyboard: "e", "f12", "escape"
// (the display's key names, known without a display).
bool IsKeyName(const QString& name);

// Whether a PIN is digits only (1 to 12 of them).
bool IsPin(const QString& text);

}  // namespace ombrix
