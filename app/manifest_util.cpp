#include "app/manifest_util.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <climits>
#include <cmath>
#include <cstdio>

#include "util/log_text.h"
#include "util/util_win.h"

namespace {

// The JSON type each known key takes.
enum class KeyType { kString, kBool, kWholeNumber, kObject, kOrigins, kLaunchState };

struct KnownKey {
  const char* name;
  KeyType type;
};

// Every key the shell reads. Plain values (strings, booleans, numbers) also go
// to the page side; "window" has a table of its own, and "trusted_origins" is
// handed over on its own and checked by the start-up lines about it.
const KnownKey kTopLevelKeys[] = {{"first_page", KeyType::kString},
                                  {"application_title", KeyType::kString},
                                  {"version", KeyType::kString},
                                  {"locale", KeyType::kString},
                                  {"multiple_process", KeyType::kBool},
                                  {"user_agent", KeyType::kString},
                                  {"app_icon", KeyType::kString},
                                  {"cache_path", KeyType::kString},
                                  {"disable_debug_tool", KeyType::kBool},
                                  {"disable_debug_log", KeyType::kBool},
                                  {"quit_after_main_window_closed", KeyType::kBool},
                                  {"npapi_plugin_directory", KeyType::kString},
                                  {"disable_ime_composition", KeyType::kBool},
                                  {"window", KeyType::kObject},
                                  {"trusted_origins", KeyType::kOrigins}};
const KnownKey kWindowKeys[] = {
    {"launch_state", KeyType::kLaunchState},  {"launch_x", KeyType::kWholeNumber},
    {"launch_y", KeyType::kWholeNumber},      {"launch_width", KeyType::kWholeNumber},
    {"launch_height", KeyType::kWholeNumber}, {"disable_resize", KeyType::kBool}};

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

void ReadInt(const QJsonObject& root, const char* key, int* field) {
  const QString name = QLatin1String(key);
  if (root.contains(name)) *field = root.value(name).toInt();
}

// A JSON value as the vendor wrote it, for a start-up line.
QString JsonText(const QJsonValue& value) {
  const QJsonArray wrapped{value};
  const QByteArray text = QJsonDocument(wrapped).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(text.mid(1, text.size() - 2));
}

bool HasType(const QJsonValue& value, KeyType type) {
  switch (type) {
    case KeyType::kString:
      return value.isString();
    case KeyType::kBool:
      return value.isBool();
    case KeyType::kWholeNumber: {
      const double number = value.toDouble(0.5);
      return number == std::floor(number) && std::fabs(number) <= INT_MAX;
    }
    case KeyType::kObject:
      return value.isObject();
    case KeyType::kLaunchState:
      return FindLaunchState(value.toString()) != nullptr;
    case KeyType::kOrigins:
      break;  // the start-up lines about trusted origins name its mistakes
  }
  return true;
}

// What a key of type takes, and what a wrongly typed value counts as.
QString Expectation(KeyType type) {
  switch (type) {
    case KeyType::kString:
      return QStringLiteral("a string; it counts as \"\"");
    case KeyType::kBool:
      return QStringLiteral("true or false; it counts as false");
    case KeyType::kWholeNumber:
      return QStringLiteral("a whole number; it counts as 0");
    case KeyType::kLaunchState: {
      QStringList names;
      for (const LaunchStateName& state : kLaunchStates) names << QLatin1String(state.name);
      return QStringLiteral("one of %1; it counts as \"normal\"")
          .arg(names.join(QStringLiteral(", ")));
    }
    default:
      return QStringLiteral("an object; it counts as {}");
  }
}

// A key's name without case, "_" and "-": "firstPage" and "first-page" both
// come close to "first_page".
QString Loose(const QString& name) {
  QString loose = name.toLower();
  loose.remove(QLatin1Char('_'));
  loose.remove(QLatin1Char('-'));
  return loose;
}

template <size_t N>
const KnownKey* FindKey(const KnownKey (&keys)[N], const QString& name, bool loosely) {
  for (const KnownKey& key : keys) {
    const QString known = QLatin1String(key.name);
    if (loosely ? Loose(known) == Loose(name) : known == name) return &key;
  }
  return nullptr;
}

QString UnknownKeyLine(const QString& where, const QString& name, const KnownKey* close) {
  QString line = QStringLiteral("manifest: unknown key \"%1%2\" is ignored").arg(where, name);
  if (close)
    line += QStringLiteral(" (did you mean \"%1%2\"?)").arg(where, QLatin1String(close->name));
  return line;
}

// One line for each key that keys does not list and each value of the wrong type.
template <size_t N>
void CheckKeys(const QJsonObject& object, const KnownKey (&keys)[N], const QString& where,
               QStringList* lines) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    const KnownKey* known = FindKey(keys, it.key(), false);
    if (!known) {
      lines->append(
          UnknownKeyLine(where, ombrix::LogText(it.key()), FindKey(keys, it.key(), true)));
    } else if (!HasType(it.value(), known->type)) {
      lines->append(QStringLiteral("manifest: \"%1%2\" is %3, it should be %4")
                        .arg(where, it.key(), ombrix::LogText(JsonText(it.value())),
                             Expectation(known->type)));
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
    return false;
  }
  content_.append(file.readAll());
  file.close();
  return true;
}

bool ManifestUtil::Parse() {
  QJsonParseError error;
  const QJsonDocument document =
      QJsonDocument::fromJson(QString::fromLocal8Bit(content_).toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return false;

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
  return QJsonDocument(known).toJson(QJsonDocument::Compact);
}

QStringList ManifestUtil::Mistakes() const {
  QStringList lines;
  CheckKeys(root_, kTopLevelKeys, QString(), &lines);
  const QJsonValue window = root_.value(QStringLiteral("window"));
  if (window.isObject())
    CheckKeys(window.toObject(), kWindowKeys, QStringLiteral("window."), &lines);
  return lines;
}
