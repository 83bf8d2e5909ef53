#include "app/version_page.h"

namespace ombrix {

QString BuildVersionPage(const std::vector<std::pair<QString, QString>>& rows) {
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

}  // namespace ombrix
