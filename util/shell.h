// Desktop shell requests: open a file or address, show a file in the file manager.
#pragma once

#include <QString>

namespace ombrix {

// Asks the desktop's file manager to show the file selected (the FileManager1
// D-Bus service); without one, opens the file's folder with its default
// handler. True when either request was accepted.
bool OpenFolderAndSelect(const QString& path);

// Opens a file, folder, program or address as the desktop's shell does. A text
// with a URI scheme is an address, anything else a path (relative to the app's
// folder). An executable regular file, or a bare name found in PATH, is started
// (no arguments, in the app's folder, not waited for); anything else goes to
// the desktop's default handler (GIO). 1 when it was started, else 0.
int ExeCmd(const QString& target);

}  // namespace ombrix
