// The text form of the settings store's files: UTF-8, as Qt 6 reads and writes
// INI files. A store written by either Qt reads the same under the other.
#pragma once

class QSettings;

namespace ombrix {

// Makes settings read and write its file's text as UTF-8. Escaped characters
// ("\x503c", as Qt 5 wrote by default) still read as before.
void UseUtf8Text(QSettings& settings);

}  // namespace ombrix
