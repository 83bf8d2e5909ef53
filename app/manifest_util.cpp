#include "app/manifest_util.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <cstdio>

#include "util/util_win.h"

namespace {

const char* const kTopLevelKeys[] = {"first_page",
                                     "application_title",
                                     "version",
                                     "locale",
                                     "multiple_process",
                                     "user_agent",
                                     "app_icon",
                                     "cache_path",
                                     "disable_debug_tool",
                                     "disable_debug_log",
                                     "quit_after_main_window_closed",
                                     "npapi_plugin_directory",
                                     "disable_ime_composition"};
const char* const kWindowKeys[] = {"launch_state", "launch_x",      "launch_y",
                                   "launch_width", "launch_height", "disable_resize"};

template <size_t N>
QJsonObject Pick(const QJsonObject& from, const char* const (&keys)[N]) {
  QJsonObject picked;
  for (const char* key : keys) {
    const QString name = QLatin1String(key);
    if (from.contains(name)) picked.insert(name, from.value(name));
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
  if (window.contains(QStringLiteral("launch_state"))) {
    const QString state = window.value(QStringLiteral("launch_state")).toString();
    if (state == QLatin1String("maximized")) {
      launch_state_ = kLaunchMaximized;
    } else if (state == QLatin1String("minimized")) {
      launch_state_ = kLaunchMinimized;
    } else if (state == QLatin1String("fullscreen")) {
      launch_state_ = kLaunchFullscreen;
    } else if (state == QLatin1String("normal")) {
      launch_state_ = kLaunchNormal;
    } else if (state == QLatin1String("hidden")) {
      launch_state_ = kLaunchHidden;
    }
  }
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
