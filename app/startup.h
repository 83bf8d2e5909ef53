// The pure steps of start-up: the command-line text and the manifest's name.
#pragma once

#include <QString>

namespace ombrix {

// The text after the program name: the arguments joined by single spaces.
QString CommandLineText(int argc, char** argv);

// The first space-separated token of the command line, or, when it is empty,
// the application's name followed by ".json".
QString ManifestName(const QString& command_line, const QString& app_name);

}  // namespace ombrix
