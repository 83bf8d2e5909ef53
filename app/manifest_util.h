// The application manifest: one JSON object beside the executable that fixes the
// first page, title, icon, cache folder, process model, debug switches and the
// main window's launch state. One holder per process.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "util/trusted_origins.h"

enum LaunchState : int {
  kLaunchNormal = 0,
  kLaunchMinimized = 1,
  kLaunchMaximized = 2,
  kLaunchHidden = 3,
  kLaunchFullscreen = 4,
};

class ManifestUtil {
 public:
  // The first call creates the holder for file_name (a name inside the
  // executable's folder); later calls return that holder whatever they pass.
  static ManifestUtil& Instance(const QString& file_name);

  explicit ManifestUtil(const QString& file_name);

  // Reads the file into content_. A file that cannot be opened prints "Can't
  // open the file!" and a line naming the path it looked for.
  bool ReadFile();
  // Parses content_ and fills the fields. A document that is not a JSON object
  // changes none and leaves its start-up line in ParseError().
  bool Parse();
  // Why the last Parse refused the content, naming the file; "" after a good one.
  const QString& ParseError() const { return parse_error_; }

  // A JSON parse error as a person reads it: its message and where, by line and
  // column (both from 1; the column counts characters) in json.
  static QString JsonErrorText(const QByteArray& json, const QJsonParseError& error);

  // Sets the read content directly (the web process receives it from the shell).
  void SetContent(const QByteArray& content) { content_ = content; }

  // The parsed root reduced to the keys the holder reads, as compact JSON: what
  // the page side needs to arrive at the same values, without the rest of a
  // possibly large file.
  QByteArray KnownKeysJson() const;

  // One start-up line for each key the shell does not know (with the known key
  // it comes close to), each value of the wrong type, a first page that is no
  // URL and each "${...}" that is not replaced, naming the key and what it
  // takes. The values are read as ever: a wrongly typed one counts as empty.
  QStringList Mistakes() const;

  // The page shown while a failed main load waits for its next try: the
  // expanded "kiosk.offline_page" when it is a file: or client: address, else "".
  QString OfflinePage() const;

  // The origins whose frames get `ombrix` and `cefQuery`: every origin when the
  // manifest has no "trusted_origins"; otherwise only the listed ones. Entries
  // that are no origin are added to rejected.
  ombrix::TrustedOrigins TrustPolicy(QStringList* rejected) const;

  QString file_name_;
  QByteArray content_;
  QString command_line_;
  QJsonObject root_;
  QString first_page_;
  QString application_title_;
  QString version_;
  QString locale_;
  bool multiple_process_;
  QString user_agent_;
  QString app_icon_;
  QString cache_path_;
  bool disable_debug_log_;
  bool disable_debug_tool_;
  bool quit_after_main_window_closed_;
  QString npapi_plugin_directory_;
  bool disable_ime_composition_;
  LaunchState launch_state_;
  int launch_x_;
  int launch_y_;
  int launch_width_;
  int launch_height_;
  bool disable_resize_;
  // Under "kiosk": how long a main page may not answer before it is started
  // again (0: never), the web process's memory limit in MB (0: the engine's),
  // whether a failed main load is tried again, and the page shown meanwhile.
  int hang_seconds_;
  int memory_limit_mb_;
  bool retry_failed_load_;
  QString offline_page_;
  // Lock-down under "kiosk": no way out of the app for a customer, the page's
  // zoom, the addresses pages may go to (empty: the first page's origin), the
  // screen kept on, the pointer hidden after a pause (-1: never), and the
  // technician's exit chord with its PIN ("" for none).
  bool lockdown_;
  double zoom_;
  QStringList allowed_urls_;
  bool keep_screen_on_;
  int hide_cursor_seconds_;
  QString exit_keys_;
  QString exit_pin_;
  // The idle reset under "kiosk": after this many seconds without input the
  // app starts again at its first page (0: never), the page is warned this
  // long before (at most the reset time), and the engine's data is wiped.
  int idle_reset_seconds_;
  int idle_warning_seconds_;
  bool idle_clear_data_;
  // "metrics": the address the metrics endpoint listens on ("" for none) and
  // the bearer token its requests must carry ("" for none).
  QString metrics_listen_;
  QString metrics_token_;
  // "print": whether window.print() prints without a dialog, and the queue,
  // paper, margins and copies as written (null when missing; print/ checks them).
  bool print_silent_;
  QJsonValue print_printer_;
  QJsonValue print_paper_;
  QJsonValue print_margins_mm_;
  QJsonValue print_copies_;
  // "trusted_origins": whether the key is there, its string entries, and the
  // values that are not strings (or the whole value when it is not a list).
  bool has_trusted_origins_;
  QStringList trusted_origins_;
  QStringList trusted_origins_rejected_;

 private:
  void ParseWindow(const QJsonObject& window);
  void ParseKiosk(const QJsonObject& kiosk);
  void ParseMetrics(const QJsonObject& metrics);
  void ParsePrint(const QJsonObject& print);
  void ParseTrustedOrigins(const QJsonObject& root);

  QString parse_error_;
};
