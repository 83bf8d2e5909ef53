// What the query handlers decide without touching a window: which dialog a
// request asks for, the settings of a save request, the path the next dialog
// starts at, the file filters, and where a position request puts the window.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace ombrix {

// A rectangle as position and size.
struct Box {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The numbers of "WindowTest.Position" + one separator + "x, y, width, height":
// integers read one after another, each optionally followed by one ",", until
// one cannot be read (not a number, or beyond the range of int). Reading stops
// after a fifth number: more than four place nothing anyway.
std::vector<int> ReadPositionNumbers(const QString& request);

// The requested box (relative to the work area) fitted into the work area: at
// least 100 x 100, at most the work area's size, moved back inside.
Box FitIntoWorkArea(const Box& requested, const Box& work_area);

// The window's new box for a position request, or nothing unless the request
// holds exactly four numbers.
std::optional<Box> PlaceByRequest(const QString& request, const Box& work_area);

enum class DialogKind { kOpen, kOpenMultiple, kOpenFolder, kSave };

struct DialogRequest {
  DialogKind kind;
  QString title;
};

// The dialog a request asks for (recognised by its beginning), or nothing.
std::optional<DialogRequest> ReadDialogRequest(const QString& request);

// Settings of "DialogTest.FileSave" + one separator + items joined with "|":
// "filepath=<path>" and "filter=<filter>"; other items are ignored. An item's
// value runs from its first "=" to the next "=" or the end; an item without
// "=" gives nothing.
struct SaveSettings {
  bool given = false;  // the request is longer than its name
  QString text;        // everything after the separator
  QStringList filepaths;
  QStringList filters;
};
SaveSettings ReadSaveSettings(const QString& request);

// The path the next dialog starts at after a "filepath" item with value. The
// first one is taken as it is; later relative ones are put in the folder of
// the last file chosen or started at; an absolute one is taken as it is. A
// value no file system here takes (a name over 255 bytes, a path over 4096)
// leaves the start where it was.
QString NextStartPath(const QString& last_file, const QString& value);

// One file filter: "*.txt", ".png", "*.txt;*.log", "image/png", "image/*", "*".
// Extensions match in any letter case; an empty filter shows every file. The
// name shown is cut at 120 characters; a part longer than a file name can be,
// and parts past the 64th, are left out.
struct FileFilterParts {
  QString name;
  QStringList patterns;
  QStringList mime_types;
};
FileFilterParts ReadFileFilter(const QString& text);

// The dialog's answer: the chosen paths joined with "|"; a folder ends with "/".
QString JoinAnswer(const QStringList& paths, DialogKind kind);

}  // namespace ombrix
