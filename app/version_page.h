// The built-in "chrome://version" page: what is running and with which libraries.
#pragma once

#include <QString>
#include <utility>
#include <vector>

namespace ombrix {

// Rows of (label, value), shown in order; values are HTML-escaped.
QString BuildVersionPage(const std::vector<std::pair<QString, QString>>& rows);

}  // namespace ombrix
