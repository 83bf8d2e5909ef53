#include "app/manifest_util.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "app/manifest_values.h"
#include "kiosk/lockdown_rules.h"
#include "util/log_text.h"
#include "util/url_text.h"
#include "util/util_win.h"

namespace {

using ombrix::Closeness;
using ombrix::HasScheme;
using ombrix::IsCount;
using ombrix::IsLocalAddress;
using ombrix::IsSecondsOrNever;
using ombrix::IsUrlList;
using ombrix::IsZoom;
using ombrix::JsonText;

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

// The launch state named exactly so, or nullptr.
const LaunchStateName* FindLaunchState(const QString& text) {
  for (const LaunchStateName& state : kLaunchStates) {
    if (text == QLatin1String(state.name)) return &state;
  }
  return nullptr;
}

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

void ReadString(const QJsonObject& root, const char* key, QString* field) {
  const QString name = QLatin1String(key);
  if (root.contains(name)) *field = root.value(name).toString();
}

void ReadBool(const QJsonObject& root, const char* key, bool* field) {
  const QString name = QLatin1String(key);
  if (root.contains(name)) *field = root.value(name).toBool();
}

// A kiosk switch: a value that is no boolean keeps the default (a wipe that is
// on by default stays on for "yes").
void ReadSwitch(const QJsonObject& root, const char* key, bool* field) {
  const QJsonValue value = root.value(QLatin1String(key));
  if (value.isBool()) *field = value.toBool();
}

void ReadInt(const QJsonObject& root, const char* key, int* field) {
  const QString name = QLatin1String(key);
  if (root.contains(name)) *field = root.value(name).toInt();
}

// A count keeps its default unless the key holds a whole number of 0 or more.
void ReadCount(const QJsonObject& root, const char* key, int* field) {
  const QJsonValue value = root.value(QLatin1String(key));
  if (IsCount(value)) *field = value.toInt();
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
    case KeyType::kLaunchState:
      return FindLaunchState(value.toString()) != nullptr;
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

void Print(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

ManifestUtil& ManifestUtil::Instance(const QString& file_name) {
  static ManifestUtil holder(file_name);
  return holder;
}

ManifestUtil::ManifestUtil(const QString& file_name)
    : file_name_(ombrix::GetFullPathInExecutionDirectory(file_name)),
      first_page_(QStringLiteral("chrome://version")),
      application_title_(QStringLiteral("Ombrix-UI")),
      multiple_process_(false),
      disable_debug_log_(false),
      disable_debug_tool_(false),
      quit_after_main_window_closed_(false),
      disable_ime_composition_(false),
      launch_state_(kLaunchNormal),
      launch_x_(-1),
      launch_y_(-1),
      launch_width_(-1),
      launch_height_(-1),
      disable_resize_(false),
      hang_seconds_(30),
      memory_limit_mb_(0),
      retry_failed_load_(false),
      lockdown_(false),
      zoom_(1.0),
      keep_screen_on_(false),
      hide_cursor_seconds_(-1),
      idle_reset_seconds_(0),
      idle_warning_seconds_(10),
      idle_clear_data_(true),
      print_silent_(false),
      has_trusted_origins_(false) {}

bool ManifestUtil::ReadFile() {
  if (file_name_.isEmpty()) {
    Print("file_name_.isEmpty()");
    return false;
  }
  content_.clear();
  QFile file(file_name_);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    Print("Can't open the file!");
    // The path on a line of its own: a manifest named wrongly or looked for in
    // the wrong folder shows at once.
    Print(QStringLiteral("\r\nmanifest: looked for %1: %2\r\n")
              .arg(file_name_, file.errorString())
              .toUtf8()
              .constData());
    return false;
  }
  content_.append(file.readAll());
  file.close();
  return true;
}

QString ManifestUtil::JsonErrorText(const QByteArray& json, const QJsonParseError& error) {
  const QByteArray before = json.left(qBound(0, error.offset, json.size()));
  const int line_start = before.lastIndexOf('\n') + 1;
  int column = 1;  // in characters: a UTF-8 continuation byte starts none
  for (int i = line_start; i < before.size(); ++i) {
    if ((static_cast<unsigned char>(before[i]) & 0xC0) != 0x80) ++column;
  }
  return QStringLiteral("%1 at line %2, column %3")
      .arg(error.errorString())
      .arg(before.count('\n') + 1)
      .arg(column);
}

bool ManifestUtil::Parse() {
  QJsonParseError error;
  const QByteArray json = QString::fromLocal8Bit(content_).toUtf8();
  const QJsonDocument document = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError) {
    parse_error_ =
        QStringLiteral("manifest: %1 is not JSON: %2").arg(file_name_, JsonErrorText(json, error));
    return false;
  }
  if (!document.isObject()) {
    parse_error_ =
        QStringLiteral("manifest: %1 is a JSON array, it should be a JSON object ({...})")
            .arg(file_name_);
    return false;
  }
  parse_error_.clear();

  root_ = document.object();
  ReadString(root_, "first_page", &first_page_);
  ReadString(root_, "application_title", &application_title_);
  ReadString(root_, "version", &version_);
  ReadString(root_, "locale", &locale_);
  ReadBool(root_, "multiple_process", &multiple_process_);
  ReadString(root_, "user_agent", &user_agent_);
  ReadString(root_, "app_icon", &app_icon_);
  ReadString(root_, "cache_path", &cache_path_);
  ReadBool(root_, "disable_debug_tool", &disable_debug_tool_);
  ReadBool(root_, "disable_debug_log", &disable_debug_log_);
  ReadBool(root_, "quit_after_main_window_closed", &quit_after_main_window_closed_);
  ReadString(root_, "npapi_plugin_directory", &npapi_plugin_directory_);
  ReadBool(root_, "disable_ime_composition", &disable_ime_composition_);
  ParseWindow(root_.value(QStringLiteral("window")).toObject());
  ParseKiosk(root_.value(QStringLiteral("kiosk")).toObject());
  ParseMetrics(root_.value(QStringLiteral("metrics")).toObject());
  ParsePrint(root_.value(QStringLiteral("print")).toObject());
  ParseTrustedOrigins(root_);
  return true;
}

void ManifestUtil::ParseWindow(const QJsonObject& window) {
  const LaunchStateName* state =
      FindLaunchState(window.value(QStringLiteral("launch_state")).toString());
  if (state) launch_state_ = state->state;
  launch_x_ = launch_y_ = launch_width_ = launch_height_ = -1;
  ReadInt(window, "launch_x", &launch_x_);
  ReadInt(window, "launch_y", &launch_y_);
  ReadInt(window, "launch_width", &launch_width_);
  ReadInt(window, "launch_height", &launch_height_);
  ReadBool(window, "disable_resize", &disable_resize_);
}

void ManifestUtil::ParseKiosk(const QJsonObject& kiosk) {
  ReadSwitch(kiosk, "lockdown", &lockdown_);
  const QJsonValue zoom = kiosk.value(QStringLiteral("zoom"));
  zoom_ = IsZoom(zoom) ? zoom.toDouble() : 1.0;
  const QJsonValue allowed = kiosk.value(QStringLiteral("allowed_urls"));
  allowed_urls_.clear();
  if (IsUrlList(allowed)) {
    for (const QJsonValue& entry : allowed.toArray()) allowed_urls_.append(entry.toString());
  }
  ReadSwitch(kiosk, "keep_screen_on", &keep_screen_on_);
  const QJsonValue hide = kiosk.value(QStringLiteral("hide_cursor_seconds"));
  if (IsSecondsOrNever(hide)) hide_cursor_seconds_ = hide.toInt();
  const QJsonValue keys = kiosk.value(QStringLiteral("exit_keys"));
  QString chord_error;
  exit_keys_ =
      keys.isString() &&
              ombrix::ParseKeyChord(keys.toString(), ombrix::IsKeyName, &chord_error).valid()
          ? keys.toString()
          : QString();
  const QJsonValue pin = kiosk.value(QStringLiteral("exit_pin"));
  exit_pin_ = pin.isString() && ombrix::IsPin(pin.toString()) ? pin.toString() : QString();
  ReadCount(kiosk, "hang_seconds", &hang_seconds_);
  ReadCount(kiosk, "memory_limit_mb", &memory_limit_mb_);
  ReadSwitch(kiosk, "retry_failed_load", &retry_failed_load_);
  ReadString(kiosk, "offline_page", &offline_page_);
  ReadCount(kiosk, "idle_reset_seconds", &idle_reset_seconds_);
  ReadCount(kiosk, "idle_warning_seconds", &idle_warning_seconds_);
  ReadSwitch(kiosk, "idle_clear_data", &idle_clear_data_);
  // The warning comes at the earliest when the timer starts.
  if (idle_reset_seconds_ > 0)
    idle_warning_seconds_ = std::min(idle_warning_seconds_, idle_reset_seconds_);
}

void ManifestUtil::ParseMetrics(const QJsonObject& metrics) {
  metrics_listen_.clear();
  metrics_token_.clear();
  ReadString(metrics, "listen", &metrics_listen_);
  ReadString(metrics, "token", &metrics_token_);
}

void ManifestUtil::ParsePrint(const QJsonObject& print) {
  print_silent_ = false;
  ReadSwitch(print, "silent", &print_silent_);
  print_printer_ = print.value(QStringLiteral("printer"));
  print_paper_ = print.value(QStringLiteral("paper"));
  print_margins_mm_ = print.value(QStringLiteral("margins_mm"));
  print_copies_ = print.value(QStringLiteral("copies"));
}

void ManifestUtil::ParseTrustedOrigins(const QJsonObject& root) {
  const QString key = QStringLiteral("trusted_origins");
  has_trusted_origins_ = root.contains(key);
  trusted_origins_.clear();
  trusted_origins_rejected_.clear();
  if (!has_trusted_origins_) return;
  const QJsonValue value = root.value(key);
  if (!value.isArray()) {  // a list of one origin is still a list: nothing is trusted
    trusted_origins_rejected_.append(JsonText(value));
    return;
  }
  for (const QJsonValue& entry : value.toArray()) {
    if (entry.isString()) {
      trusted_origins_.append(entry.toString());
    } else {
      trusted_origins_rejected_.append(JsonText(entry));
    }
  }
}

QString ManifestUtil::OfflinePage() const {
  if (offline_page_.isEmpty()) return QString();
  const QString url = ombrix::ExpandAppDirInUrl(offline_page_);
  return IsLocalAddress(url) ? url : QString();
}

ombrix::TrustedOrigins ManifestUtil::TrustPolicy(QStringList* rejected) const {
  if (!has_trusted_origins_) return ombrix::TrustedOrigins::Everyone();
  if (rejected) *rejected = trusted_origins_rejected_;
  return ombrix::TrustedOrigins::FromList(trusted_origins_, rejected);
}

QByteArray ManifestUtil::KnownKeysJson() const {
  QJsonObject known = Pick(root_, kTopLevelKeys);
  const QJsonValue window = root_.value(QStringLiteral("window"));
  if (window.isObject())
    known.insert(QStringLiteral("window"), Pick(window.toObject(), kWindowKeys));
  const QJsonValue kiosk = root_.value(QStringLiteral("kiosk"));
  if (kiosk.isObject()) known.insert(QStringLiteral("kiosk"), Pick(kiosk.toObject(), kKioskKeys));
  return QJsonDocument(known).toJson(QJsonDocument::Compact);
}

QStringList ManifestUtil::Mistakes() const {
  QStringList lines;
  CheckKeys(root_, kTopLevelKeys, QString(), &lines);
  const QJsonValue window = root_.value(QStringLiteral("window"));
  if (window.isObject())
    CheckKeys(window.toObject(), kWindowKeys, QStringLiteral("window."), &lines);
  const QJsonValue kiosk = root_.value(QStringLiteral("kiosk"));
  if (kiosk.isObject()) CheckKeys(kiosk.toObject(), kKioskKeys, QStringLiteral("kiosk."), &lines);
  const QJsonValue metrics = root_.value(QStringLiteral("metrics"));
  if (metrics.isObject())
    CheckKeys(metrics.toObject(), kMetricsKeys, QStringLiteral("metrics."), &lines);
  const QJsonValue print = root_.value(QStringLiteral("print"));
  if (print.isObject()) CheckKeys(print.toObject(), kPrintKeys, QStringLiteral("print."), &lines);
  return lines;
}
