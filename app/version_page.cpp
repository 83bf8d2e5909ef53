#include "app/version_page.h"

#include "app/manifest_util.h"
#include "util/util_win.h"

namespace ombrix {
namespace {

// The origins whose pages get `ombrix`, as the version page shows them.
QString TrustedOriginsText(const ManifestUtil& manifest) {
  const TrustedOrigins trust = manifest.TrustPolicy(nullptr);
  if (trust.everyone())
    return QStringLiteral("every origin (no \"trusted_origins\" in the manifest)");
  if (trust.empty()) return QStringLiteral("none");
  return trust.texts().join(QStringLiteral(", "));
}

// The kiosk settings in force, each as "key value".
QString KioskText(const ManifestUtil& manifest) {
  QStringList parts;
  parts << QStringLiteral("hang_seconds %1").arg(manifest.hang_seconds_)
        << QStringLiteral("memory_limit_mb %1").arg(manifest.memory_limit_mb_)
        << QStringLiteral("retry_failed_load %1")
               .arg(manifest.retry_failed_load_ ? QStringLiteral("true") : QStringLiteral("false"));
  const QString offline = manifest.OfflinePage();
  if (!offline.isEmpty()) parts << QStringLiteral("offline_page %1").arg(offline);
  parts << QStringLiteral("idle_reset_seconds %1").arg(manifest.idle_reset_seconds_);
  if (manifest.idle_reset_seconds_ > 0) {
    parts << QStringLiteral("idle_warning_seconds %1").arg(manifest.idle_warning_seconds_)
          << QStringLiteral("idle_clear_data %1")
                 .arg(manifest.idle_clear_data_ ? QStringLiteral("true") : QStringLiteral("false"));
  }
  return parts.join(QStringLiteral(", "));
}

// Where the metrics endpoint listens; the token itself is never shown.
QString MetricsRowText(const ManifestUtil& manifest) {
  if (manifest.metrics_listen_.isEmpty()) return QStringLiteral("off");
  return QStringLiteral("listen %1%2")
      .arg(manifest.metrics_listen_, manifest.metrics_token_.isEmpty()
                                         ? QString()
                                         : QStringLiteral(", bearer token required"));
}

// How window.print() prints: the values as written ("" for a default).
QString PrintRowText(const ManifestUtil& manifest) {
  if (!manifest.print_silent_) return QStringLiteral("with the engine's dialog");
  QStringList parts{QStringLiteral("silent")};
  const auto add = [&parts](const char* key, const QJsonValue& value) {
    if (value.isString())
      parts << QStringLiteral("%1 %2").arg(QLatin1String(key), value.toString());
    if (value.isDouble())
      parts << QStringLiteral("%1 %2").arg(QLatin1String(key)).arg(value.toDouble());
  };
  add("printer", manifest.print_printer_);
  add("paper", manifest.print_paper_);
  add("margins_mm", manifest.print_margins_mm_);
  add("copies", manifest.print_copies_);
  return parts.join(QStringLiteral(", "));
}

}  // namespace

QString BuildVersionPage(const VersionRows& rows) {
  QString html = QStringLiteral(
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>About Version</title>"
      "<style>body{font-family:sans-serif;margin:24px}table{border-collapse:collapse}"
      "td{padding:4px 12px;vertical-align:top}td.label{font-weight:bold;white-space:nowrap}"
      "</style></head><body><h1>ombrix</h1><table>");
  for (const auto& row : rows) {
    html += QStringLiteral("<tr><td class=\"label\">") + row.first.toHtmlEscaped() +
            QStringLiteral("</td><td id=\"") + row.first.toLower().replace(QLatin1Char(' '), '-') +
            QStringLiteral("\">") + row.second.toHtmlEscaped() + QStringLiteral("</td></tr>");
  }
  html += QStringLiteral("</table></body></html>");
  return html;
}

VersionRows ManifestRows(const ManifestUtil& manifest) {
  return {
      {QStringLiteral("Application"), manifest.application_title_},
      {QStringLiteral("Application version"), manifest.version_},
      {QStringLiteral("Command line"), manifest.command_line_},
      {QStringLiteral("Manifest"), manifest.file_name_},
      {QStringLiteral("Cache path"), ExpandAppDir(manifest.cache_path_)},
      {QStringLiteral("Trusted origins"), TrustedOriginsText(manifest)},
      {QStringLiteral("Kiosk"), KioskText(manifest)},
      {QStringLiteral("Metrics"), MetricsRowText(manifest)},
      {QStringLiteral("Print"), PrintRowText(manifest)},
  };
}

}  // namespace ombrix
