// Desktop shell requests: open a file or address, show a file in the file manager.
#pragma once

#include <QString>

namespace ombrix {

// Asks the desktop's file manager to show the file selected (the FileManager1
// D-Bus service) and returns at once: the request is handed to the session bus
// and its answer taken later by the calling thread's main context (call it on
// a thread whose main context runs, such as the page's). Where no file manager
// answers, the file's folder is then opened with its default handler. True
// when the request was handed over; false for a path that names no file, or
// when there is no session bus and the folder's handler could not be started.
bool OpenFolderAndSelect(const QString& path);

// Opens a file, folder, program or address as the desktop's shell does. A text
// with a URI scheme is an address, anything else a path (relative to the app's
// folder). An executable regular file, or a bare name found in PATH, is started
// (no arguments, in the app's folder, not waited for); anything else goes to
// the desktop's default handler (GIO). 1 when it was started, else 0.
int ExeCmd(const QString& target);

// Whether a session bus is there to talk to (its address is set, or the
// user's runtime folder has one). Without one the D-Bus library would start a
// bus of its own, which would outlive the shell.
bool HasSessionBus();

}  // namespace ombrix
