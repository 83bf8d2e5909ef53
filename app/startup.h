// The pure steps of start-up: the command-line text and the manifest's name.
#pragma once

#include <QString>
#include <QStringList>

#include "util/trusted_origins.h"

namespace ombrix {

// The text after the program name: the arguments joined by single spaces.
QString CommandLineText(int argc, char** argv);

// The first space-separated token of the command line, or, when it is empty,
// the application's name followed by ".json".
QString ManifestName(const QString& command_line, const QString& app_name);

// The start-up lines about which pages get `ombrix`: list entries left out, the
// list in force, a first page that the list leaves out, and a warning when
// there is no list while the first page is not local (a file, the app's
// archive or the shell's own version page).
QStringList TrustStartupLines(const TrustedOrigins& policy, const QStringList& rejected,
                              const QString& first_page);

}  // namespace ombrix
