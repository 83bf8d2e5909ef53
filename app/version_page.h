// The built-in "chrome://version" page: what is running and with which libraries.
#pragma once

#include <QString>
#include <utility>
#include <vector>

class ManifestUtil;

namespace ombrix {

using VersionRows = std::vector<std::pair<QString, QString>>;

// Rows of (label, value), shown in order; values are HTML-escaped.
QString BuildVersionPage(const VersionRows& rows);

// The rows the manifest gives: the app's title and version, the command line,
// the manifest file, the cache folder and the origins whose pages get `ombrix`.
VersionRows ManifestRows(const ManifestUtil& manifest);

}  // namespace ombrix
