// Platform utilities: executable paths and screen placement, the settings
// store, installed programs, the clipboard block and running programs.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <vector>

typedef struct _GtkWindow GtkWindow;

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

// The path the shell was started by (the shell sets it at start-up; a link in
// an app's folder stays the link), which names the app and its folder; the real
// executable until it is set. The web process runs inside WebKit's own
// executable, so the shell hands this path over and the extension sets it here.
QString ExecutablePath();
void SetExecutablePath(const QString& path);

// The running program's own file, every symbolic link resolved (/proc/self/exe):
// where the shell's own files (the page-side library) are.
QString RealExecutablePath();

// The real file path leads to through symbolic links; empty when there is none.
QString RealFileOf(const QString& path);

// The app's folder (the folder of ExecutablePath()); with a non-empty name,
// that name inside it.
QString GetFullPathInExecutionDirectory(const QString& file_name);

// The app's name: ExecutablePath()'s file name with every ".exe" removed.
QString GetAppName();
QString AppNameFromPath(const QString& executable_path);

// Kills (SIGKILL) every process whose executable's file name is exactly
// exe_file_name, never the calling process. Processes that cannot be killed
// are skipped. Always true.
bool KillProcess(const QString& exe_file_name);

// Replaces every "${AppDir}" with the app's folder.
QString ExpandAppDir(const QString& text);

// Centres a width x height window on the screen rectangle (a monitor's place
// in the whole display). Only the right and bottom edges are clamped to it.
Rect CentreRectOnScreen(const Rect& screen, int width, int height);

// The primary monitor's rectangle in the whole display (the whole monitor, not
// the work area): a primary monitor right of another one does not start at 0.
Rect PrimaryScreenRect();

// Whether the window system lets a program place its own windows and keep
// them above others: X11 does; a Wayland compositor places every window itself.
bool ProgramPlacesWindows();

// Moves a top-level window to (x, y) in the whole display. Where the
// compositor places windows (Wayland) nothing moves, and one debug line names
// the request (asked_by) that had no effect.
void MoveTopLevel(GtkWindow* window, int x, int y, const char* asked_by);

// Keeps a top-level window above the others (X11); on Wayland, as MoveTopLevel.
void KeepTopLevelAbove(GtkWindow* window, const char* asked_by);

// Centres a window on the primary screen; always returns 1.
int CentreRect(int width, int height, Rect* out);

// --- Settings store ---------------------------------------------------------
// Paths name a root key in full and a key path with backslashes:
// "HKEY_CURRENT_USER\Software\Vendor\App". Each root is one settings file
// (Qt's native format) under the user's configuration folder, "ombrix/<root>.conf",
// with the system-wide files as fallback. Value names reach into subkeys with
// "/"; a key's default value is named "Default".

// A path split into its root file and settings group ("Software/Vendor/App");
// valid is false for an unknown root or a segment that is "..", ".", holds "/"
// or NUL, or is too long.
struct RegistryPath {
  bool valid = false;
  QString root;
  QStringList keys;
};
RegistryPath ParseRegistryPath(const QString& path);

// Every value below the path (subkeys included, named "sub/name") as one
// compact JSON object; "{}" for a missing or invalid path.
QString GetRegValue(const QString& path);
// False when the path or name is invalid or the store could not be written.
bool SetRegValue(const QString& path, const QString& name, const QString& value);
// Removes the value or subkey name; an empty name removes everything under the path.
bool RemoveRegValue(const QString& path, const QString& name);

// --- Installed programs -------------------------------------------------------
// One program as read from the store's uninstall key or a desktop entry: the
// members DisplayName, DisplayVersion, InstallLocation, LocationRoot,
// SetupPath, UninstallString; a missing member is absent from the map.
using UninstallSource = QVariantMap;

// The JSON object of entries keyed by display name. With find, only entries
// whose display name contains part (case-sensitive), in the find form: setup
// path and uninstall string as text, the latter without double quotes.
QString UninstallEntriesJson(const std::vector<UninstallSource>& sources, bool find,
                             const QString& part);
// The "[Desktop Entry]" group of a .desktop file as an uninstall source; an
// empty map for anything that is not a visible application.
UninstallSource DesktopEntrySource(const QByteArray& content);
QString ListUninstallEntries();
QString FindUninstallEntries(const QString& part);

// --- Clipboard ------------------------------------------------------------------
// The "HTML Format" block that carries html: header with byte offsets, the
// fragment between its comments, the trailer.
QByteArray BuildHtmlClipboardBlock(const QByteArray& html);

// --- Running programs ----------------------------------------------------------
// Polled while waiting; false gives the wait up (the program keeps running).
using KeepWaiting = std::function<bool()>;

// A command line split as Qt splits one: spaces separate, double quotes group,
// tripled quotes give a literal quote. No shell is involved.
QStringList SplitCommandLine(const QString& command_line);

// Starts the command line (program searched in PATH, no shell, no inherited
// descriptors) in working_directory (empty: the current one) and waits for it.
// False, after printing "CreateProcess failed (errno).", when it cannot start;
// false too when keep_waiting gave the wait up or its exit code is unknown
// (collected elsewhere). The exit code is 128 + the signal for a program that
// was killed.
bool RunAndWait(const QString& command_line, const QString& working_directory, int* exit_code,
                const KeepWaiting& keep_waiting = {});

// Starts the command line as the leader of a process group of its own, waits
// for it, sleeps delay_ms, then waits for its first child (FindChildProcess),
// which is found even after the launcher ended and it was re-parented. False
// when the wait (or the sleep) was given up or the exit code is unknown.
bool RunAndWaitWithChild(const QString& command_line, int delay_ms, int* exit_code = nullptr,
                         const KeepWaiting& keep_waiting = {});

// Starts program (a path, or a name searched in PATH) with no arguments in
// working_directory, in a process group of its own, and does not wait for it.
// False, after printing "CreateProcess failed (errno).", when it cannot start.
bool StartDetached(const QString& program, const QString& working_directory);

// The earliest started other process whose parent is pid or that is in pid's
// process group (the launcher's own child rather than a grandchild); 0 when
// there is none.
pid_t FindChildProcess(pid_t pid);

}  // namespace ombrix

// The unqualified names that start-up code uses.
using ombrix::CentreRect;
using ombrix::ExpandAppDir;
using ombrix::GetAppName;
