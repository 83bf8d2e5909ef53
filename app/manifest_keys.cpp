#include "app/manifest_keys.h"

#include <QJsonArray>
#include <QJsonValue>
#include <climits>
#include <cmath>
#include <cstring>

#include "app/manifest_values.h"
#include "kiosk/lockdown_rules.h"
#include "util/log_text.h"
#include "util/url_text.h"

namespace ombrix {
namespace {

// The JSON type each known key takes.
enum class KeyType {
  kString,
  kUrl,
  kBool,
  kSwitch,  // true or false; any other value keeps the default
  kWholeNumber,
  kNumber,
  kCount,           // a whole number of 0 or more; any other value keeps the default
  kSecondsOrNever,  // a whole number of -1 (never) or more; any other value keeps the default
  kZoom,            // a number from 0.25 to 5; any other value counts as 1
  kUrlList,         // a list of address prefixes
  kKeyChord,        // "ctrl+alt+shift+e"
  kPin,             // digits
  kObject,
  kOrigins,
  kLaunchState
};

struct KnownKey {
  const char* name;
  KeyType type;
  bool app_dir = false;  // "${AppDir}" in its value is replaced by the app's folder
};

// Every key the shell reads. Plain values (strings, booleans, numbers) also go
// to the page side; "window", "kiosk" and "metrics" have tables of their own, and
// "trusted_origins" is handed over on its own and checked by the start-up lines about it.
const KnownKey kTopLevelKeys[] = {{"first_page", KeyType::kUrl, true},
                                  {"application_title", KeyType::kString},
                                  {"version", KeyType::kString},
                                  {"locale", KeyType::kString},
                                  {"multiple_process", KeyType::kBool},
                                  {"user_agent", KeyType::kString},
                                  {"app_icon", KeyType::kString},
                                  {"cache_path", KeyType::kString, true},
                                  {"disable_debug_tool", KeyType::kBool},
                                  {"disable_debug_log", KeyType::kBool},
                                  {"quit_after_main_window_closed", KeyType::kBool},
                                  {"npapi_plugin_directory", KeyType::kString},
                                  {"disable_ime_composition", KeyType::kBool},
                                  {"window", KeyType::kObject},
                                  {"kiosk", KeyType::kObject},
                                  {"metrics", KeyType::kObject},
                                  {"print", KeyType::kObject},
                                  {"trusted_origins", KeyType::kOrigins}};
const KnownKey kWindowKeys[] = {
    {"launch_state", KeyType::kLaunchState},  {"launch_x", KeyType::kWholeNumber},
    {"launch_y", KeyType::kWholeNumber},      {"launch_width", KeyType::kWholeNumber},
    {"launch_height", KeyType::kWholeNumber}, {"disable_resize", KeyType::kBool}};

// What a counter machine needs beyond the window: recovery from hangs and
// failed loads.
const KnownKey kKioskKeys[] = {{"hang_seconds", KeyType::kCount},
                               {"memory_limit_mb", KeyType::kCount},
                               {"retry_failed_load", KeyType::kSwitch},
                               {"offline_page", KeyType::kUrl, true},
                               {"lockdown", KeyType::kSwitch},
                               {"zoom", KeyType::kZoom},
                               {"allowed_urls", KeyType::kUrlList},
                               {"keep_screen_on", KeyType::kSwitch},
                               {"hide_cursor_seconds", KeyType::kSecondsOrNever},
                               {"exit_keys", KeyType::kKeyChord},
                               {"exit_pin", KeyType::kPin},
                               {"idle_reset_seconds", KeyType::kCount},
                               {"idle_warning_seconds", KeyType::kCount},
                               {"idle_clear_data", KeyType::kSwitch}};

// The metrics endpoint for Prometheus. Its values stay in the shell: the page
// side never sees the token.
const KnownKey kMetricsKeys[] = {{"listen", KeyType::kString}, {"token", KeyType::kString}};

// Silent printing; the shell checks the paper, margins and copies further.
const KnownKey kPrintKeys[] = {{"silent", KeyType::kSwitch},
                               {"printer", KeyType::kString},
                               {"paper", KeyType::kString},
                               {"margins_mm", KeyType::kNumber},
                               {"copies", KeyType::kNumber}};

struct LaunchStateName {
  const char* name;
  LaunchState state;
};
const LaunchStateName kLaunchStates[] = {{"normal", kLaunchNormal},
                                         {"maximized", kLaunchMaximized},
                                         {"minimized", kLaunchMinimized},
                                         {"fullscreen", kLaunchFullscreen},
                                         {"hidden", kLaunchHidden}};

// A string, boolean or number (the page side gets these).
bool IsPlain(KeyType type) { return type != KeyType::kObject && type != KeyType::kOrigins; }

template <size_t N>
QJsonObject Pick(const QJsonObject& from, const KnownKey (&keys)[N]) {
  QJsonObject picked;
  for (const KnownKey& key : keys) {
    const QString name = QLatin1String(key.name);
    if (IsPlain(key.type) && from.contains(name)) picked.insert(name, from.value(name));
  }
  return picked;
}

bool HasType(const QJsonValue& value, KeyType type) {
  switch (type) {
    case KeyType::kString:
    case KeyType::kUrl:
      return value.isString();
    case KeyType::kBool:
    case KeyType::kSwitch:
      return value.isBool();
    case KeyType::kWholeNumber: {
      const double number = value.toDouble(0.5);
      return number == std::floor(number) && std::fabs(number) <= INT_MAX;
    }
    case KeyType::kNumber:
      return value.isDouble();
    case KeyType::kCount:
      return IsCount(value);
    case KeyType::kSecondsOrNever:
      return IsSecondsOrNever(value);
    case KeyType::kZoom:
      return IsZoom(value);
    case KeyType::kUrlList:
      return IsUrlList(value);
    case KeyType::kKeyChord: {
      QString error;
      return value.isString() &&
             ombrix::ParseKeyChord(value.toString(), ombrix::IsKeyName, &error).valid();
    }
    case KeyType::kPin:
      return value.isString() && ombrix::IsPin(value.toString());
    case KeyType::kObject:
      return value.isObject();
    case KeyType::kLaunchState: {
      LaunchState state;
      return FindLaunchState(value.toString(), &state);
    }
    case KeyType::kOrigins:
      return value.isArray();  // the start-up lines about trusted origins name its entries
  }
  return true;
}

// What a key of type takes, and what a wrongly typed value counts as.
QString Expectation(KeyType type, const QJsonValue& value) {
  switch (type) {
    case KeyType::kString:
    case KeyType::kUrl:
      return QStringLiteral("a string; it counts as \"\"");
    case KeyType::kBool:
      return QStringLiteral("true or false; it counts as false");
    case KeyType::kSwitch:
      return QStringLiteral("true or false; the default stays");
    case KeyType::kWholeNumber:
      return QStringLiteral("a whole number; it counts as 0");
    case KeyType::kNumber:
      return QStringLiteral("a number");
    case KeyType::kCount:
      return QStringLiteral("a whole number of 0 or more; the default stays");
    case KeyType::kSecondsOrNever:
      return QStringLiteral("a whole number of seconds, or -1 for never; the default stays");
    case KeyType::kZoom:
      return QStringLiteral("a number from 0.25 to 5; it counts as 1");
    case KeyType::kUrlList:
      return QStringLiteral(
          "a list of address prefixes, such as [\"client:///\", \"https://shop.example/\"]; only "
          "the first page's origin is allowed");
    case KeyType::kKeyChord: {
      QString error;
      ombrix::ParseKeyChord(value.toString(), ombrix::IsKeyName, &error);
      return QStringLiteral(
                 "a key chord such as \"ctrl+alt+shift+e\" (this one %1); there is no "
                 "exit chord")
          .arg(value.isString() ? error : QStringLiteral("is no text"));
    }
    case KeyType::kPin:
      return QStringLiteral(
          "1 to 12 digits as a string, such as \"4711\"; the exit chord asks "
          "for no PIN");
    case KeyType::kLaunchState: {
      QStringList names;
      for (const LaunchStateName& state : kLaunchStates) names << QLatin1String(state.name);
      return QStringLiteral("one of %1; it counts as \"normal\"")
          .arg(names.join(QStringLiteral(", ")));
    }
    case KeyType::kOrigins: {
      // One origin written without the brackets is shown in them.
      const QString example =
          value.isString() ? ombrix::LogText(JsonText(value)) : QStringLiteral("\"file://\"");
      return QStringLiteral("a list of origins, such as [%1]; it counts as [], no page gets ombrix")
          .arg(example);
    }
    case KeyType::kObject:
      break;
  }
  return QStringLiteral("an object; it counts as {}");
}

template <size_t N>
const KnownKey* FindKey(const KnownKey (&keys)[N], const QString& name) {
  for (const KnownKey& key : keys) {
    if (name == QLatin1String(key.name)) return &key;
  }
  return nullptr;
}

// The known key closest to an unknown name, or nullptr when none is close.
template <size_t N>
const KnownKey* ClosestKey(const KnownKey (&keys)[N], const QString& name) {
  const KnownKey* closest = nullptr;
  int best = INT_MAX;
  for (const KnownKey& key : keys) {
    const int distance = Closeness(name, QLatin1String(key.name));
    if (distance >= 0 && distance < best) {
      closest = &key;
      best = distance;
    }
  }
  return closest;
}

QString UnknownKeyLine(const QString& where, const QString& name, const KnownKey* close) {
  QString line = QStringLiteral("manifest: unknown key \"%1%2\" is ignored").arg(where, name);
  if (close)
    line += QStringLiteral(" (did you mean \"%1%2\"?)").arg(where, QLatin1String(close->name));
  return line;
}

const QLatin1String kAppDir("AppDir");

// The keys whose "${AppDir}" is replaced, for a line about another key.
QString AppDirKeys() {
  QStringList names;
  for (const KnownKey& key : kTopLevelKeys) {
    if (key.app_dir) names << QStringLiteral("\"%1\"").arg(QLatin1String(key.name));
  }
  for (const KnownKey& key : kKioskKeys) {
    if (key.app_dir) names << QStringLiteral("\"kiosk.%1\"").arg(QLatin1String(key.name));
  }
  return names.join(QStringLiteral(" and "));
}

// One line for each "${...}" in a string value that the shell leaves as it is:
// any but "${AppDir}", and that one too in keys where it is not replaced.
void CheckPlaceholders(const KnownKey& key, const QString& where, const QString& value,
                       QStringList* lines) {
  QStringList seen;
  for (int start = value.indexOf(QLatin1String("${")); start >= 0;
       start = value.indexOf(QLatin1String("${"), start + 2)) {
    const int end = value.indexOf(QLatin1Char('}'), start + 2);
    if (end < 0) break;
    const QString name = value.mid(start + 2, end - start - 2);
    if ((key.app_dir && name == kAppDir) || seen.contains(name)) continue;
    seen << name;
    QString why;
    if (name == kAppDir) {
      why = QStringLiteral(" in this key (only in %1)").arg(AppDirKeys());
    } else if (key.app_dir && Closeness(name, kAppDir) >= 0) {
      why = QStringLiteral(" (did you mean \"${AppDir}\"?)");
    } else if (key.app_dir) {
      why = QStringLiteral(" (only \"${AppDir}\" is)");
    }
    lines->append(QStringLiteral("manifest: \"%1%2\" holds \"${%3}\", which is not replaced%4; it "
                                 "stays as it is")
                      .arg(where, QLatin1String(key.name), ombrix::LogText(name), why));
  }
}

// The lines about a value of the right type that still will not do what its
// author meant: a page that is no URL, a "${...}" that stays as it is.
void CheckValue(const KnownKey& key, const QString& where, const QJsonValue& value,
                QStringList* lines) {
  if (key.type == KeyType::kUrlList) {
    QStringList rejected;
    QStringList entries;
    for (const QJsonValue& entry : value.toArray()) entries << entry.toString();
    ombrix::UrlAllowList::FromEntries(entries, &rejected);
    for (const QString& entry : rejected) {
      lines->append(QStringLiteral("manifest: \"%1%2\" holds \"%3\", which is no address prefix "
                                   "(such as \"https://shop.example/\"); it is left out")
                        .arg(where, QLatin1String(key.name), ombrix::LogText(entry)));
    }
    return;
  }
  if (!value.isString()) return;
  const QString text = value.toString();
  CheckPlaceholders(key, where, text, lines);
  if (key.type == KeyType::kUrl && !std::strcmp(key.name, "offline_page") && HasScheme(text) &&
      !IsLocalAddress(text)) {
    lines->append(QStringLiteral("manifest: \"%1%2\" is \"%3\", which is not a file: or client: "
                                 "address; the shell's own notice shows instead")
                      .arg(where, QLatin1String(key.name), ombrix::LogText(text)));
    return;
  }
  if (key.type != KeyType::kUrl || HasScheme(text)) return;
  // An absolute path opens as that file.
  if (text.startsWith(QLatin1Char('/')) || text.startsWith(QLatin1String("${AppDir}/"))) return;
  QString line = QStringLiteral("manifest: \"%1%2\" is \"%3\", which is not a URL")
                     .arg(where, QLatin1String(key.name), ombrix::LogText(text));
  if (!text.isEmpty()) {
    QString url = QStringLiteral("file://${AppDir}/") + text;  // a page in the app's folder
    if (text.startsWith(QLatin1String("${")))
      url = QStringLiteral("file://") + text;
    else if (text.startsWith(QLatin1String("www.")))
      url = QStringLiteral("https://") + text;
    line += QStringLiteral(" (did you mean \"%1\"?)").arg(ombrix::LogText(url));
  }
  lines->append(line);
}

// One line for each key that keys does not list, each value of the wrong type
// and each value that will not do what its author meant.
template <size_t N>
void CheckKeys(const QJsonObject& object, const KnownKey (&keys)[N], const QString& where,
               QStringList* lines) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    const KnownKey* known = FindKey(keys, it.key());
    if (!known) {
      lines->append(UnknownKeyLine(where, ombrix::LogText(it.key()), ClosestKey(keys, it.key())));
    } else if (!HasType(it.value(), known->type)) {
      lines->append(QStringLiteral("manifest: \"%1%2\" is %3, it should be %4")
                        .arg(where, it.key(), ombrix::LogText(JsonText(it.value())),
                             Expectation(known->type, it.value())));
    } else {
      CheckValue(*known, where, it.value(), lines);
    }
  }
}

// The lines about one section's keys, when the section is an object.
template <size_t N>
void CheckSection(const QJsonObject& root, const char* section, const KnownKey (&keys)[N],
                  QStringList* lines) {
  const QJsonValue value = root.value(QLatin1String(section));
  if (value.isObject())
    CheckKeys(value.toObject(), keys, QLatin1String(section) + QLatin1Char('.'), lines);
}

}  // namespace

bool FindLaunchState(const QString& text, LaunchState* state) {
  for (const LaunchStateName& named : kLaunchStates) {
    if (text != QLatin1String(named.name)) continue;
    *state = named.state;
    return true;
  }
  return false;
}

QJsonObject KnownPlainValues(const QJsonObject& root) {
  QJsonObject known = Pick(root, kTopLevelKeys);
  const QJsonValue window = root.value(QStringLiteral("window"));
  if (window.isObject())
    known.insert(QStringLiteral("window"), Pick(window.toObject(), kWindowKeys));
  const QJsonValue kiosk = root.value(QStringLiteral("kiosk"));
  if (kiosk.isObject()) known.insert(QStringLiteral("kiosk"), Pick(kiosk.toObject(), kKioskKeys));
  return known;
}

QStringList KeyMistakes(const QJsonObject& root) {
  QStringList lines;
  CheckKeys(root, kTopLevelKeys, QString(), &lines);
  CheckSection(root, "window", kWindowKeys, &lines);
  CheckSection(root, "kiosk", kKioskKeys, &lines);
  CheckSection(root, "metrics", kMetricsKeys, &lines);
  CheckSection(root, "print", kPrintKeys, &lines);
  return lines;
}

}  // namespace ombrix
