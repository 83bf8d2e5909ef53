// Desktop shell requests: open a file or address, show a file in the file manager.
#pragma once

#include <QString>

namespace ombrix {

// Asks the desktop's file manager to show the file selected (the FileManager1
// D-Bus service); without one, opens the file's folder with its default
// handler. True when either request was accepted.
bool OpenFolderAndSelect(const QString& path);

// Opens a file, folder or address with the desktop's default handler (GIO); a
// text with a URI scheme is an address, anything else a path (relative to the
// current folder). 1 when the handler was started, else 0.
int ExeCmd(const QString& target);

}  // namespace ombrix
