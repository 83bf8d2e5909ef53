// Platform utilities: executable paths and screen placement.
#pragma once

#include <QString>

namespace ombrix {

// A rectangle with exclusive right and bottom edges, as the window system uses.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// False for a path that can name no file: empty, or holding a NUL character
// (the kernel would stop at the NUL and reach another file).
bool IsFilePath(const QString& path);

// Full path of the running executable. The web process runs inside WebKit's own
// executable, so the shell hands its path over and the extension sets it here.
QString ExecutablePath();
void SetExecutablePath(const QString& path);

// The executable's directory; with a non-empty name, that name inside it.
QString GetFullPathInExecutionDirectory(const QString& file_name);

// The executable's file name with every ".exe" removed.
QString GetAppName();
QString AppNameFromPath(const QString& executable_path);

// Kills (SIGKILL) every process whose executable's file name is exactly
// exe_file_name, never the calling process. Processes that cannot be killed
// are skipped. Always true.
bool KillProcess(const QString& exe_file_name);

// Replaces every "${AppDir}" with the executable's directory.
QString ExpandAppDir(const QString& text);

// Centres a width x height window on a screen of screen_width x screen_height.
// Only the right and bottom edges are clamped to the screen.
Rect CentreRectOnScreen(int screen_width, int screen_height, int width, int height);

// Size of the primary monitor (whole monitor, not the work area).
void PrimaryScreenSize(int* width, int* height);

// Centres a window on the primary screen; always returns 1.
int CentreRect(int width, int height, Rect* out);

}  // namespace ombrix

// The unqualified names that start-up code uses.
using ombrix::CentreRect;
using ombrix::ExpandAppDir;
using ombrix::GetAppName;
