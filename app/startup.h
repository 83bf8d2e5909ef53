// The pure steps of start-up: the command-line text and the manifest's name.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "util/trusted_origins.h"

namespace ombrix {

// The text after the program name: the arguments joined by single spaces.
QString CommandLineText(int argc, char** argv);

// Gives the real file a path leads to through symbolic links; empty when it
// leads to none.
using RealFileLookup = std::function<QString(const QString& path)>;

// The path the shell was started by, which makes its folder the app's folder
// and its name the app's name. argv0 is made absolute (from cwd) but not
// resolved through symbolic links, so /opt/shop/shop, a link to the installed
// shell, gives /opt/shop/shop. An argv0 without "/" is looked for on path_env
// as a shell looks for a command (an empty entry is cwd). Only a path that
// leads to the running executable (real_exe) counts: for any other argv0 (a
// launcher's made-up name, a name no longer on PATH) the answer is real_exe.
QString StartedPath(const QString& argv0, const QString& cwd, const QString& path_env,
                    const QString& real_exe, const RealFileLookup& real_file_of);

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
