#include "app/manifest_util.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <algorithm>
#include <cstdio>

#include "app/manifest_keys.h"
#include "app/manifest_values.h"
#include "kiosk/lockdown_rules.h"
#include "util/log_text.h"
#include "util/url_text.h"
#include "util/util_win.h"

namespace {

using ombrix::IsCount;
using ombrix::IsLocalAddress;
using ombrix::IsSecondsOrNever;
using ombrix::IsUrlList;
using ombrix::IsZoom;
using ombrix::JsonText;

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
  ombrix::FindLaunchState(window.value(QStringLiteral("launch_state")).toString(), &launch_state_);
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
  return QJsonDocument(ombrix::KnownPlainValues(root_)).toJson(QJsonDocument::Compact);
}

QStringList ManifestUtil::Mistakes() const { return ombrix::KeyMistakes(root_); }
