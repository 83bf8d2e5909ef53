// Desktop shell requests: show a file in the file manager.
#pragma once

#include <QString>

namespace ombrix {

// Asks the desktop's file manager to show the file selected (the FileManager1
// D-Bus service); without one, opens the file's folder with its default
// handler. True when either request was accepted.
bool OpenFolderAndSelect(const QString& path);

}  // namespace ombrix
