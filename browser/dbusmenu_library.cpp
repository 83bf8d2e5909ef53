#include "browser/dbusmenu_library.h"

#include "util/shared_library.h"

namespace ombrix {

const DbusmenuLibrary* Dbusmenu() {
  static DbusmenuLibrary library;
  // The soname Debian's libdbusmenu-glib4 installs.
#define OMBRIX_DBUSMENU_ENTRY(name) OMBRIX_LIBRARY_FUNCTION(&library, name),
  static const bool opened = OpenLibrary("libdbusmenu-glib.so.4", "tray",
                                         {OMBRIX_DBUSMENU_FUNCTIONS(OMBRIX_DBUSMENU_ENTRY)});
#undef OMBRIX_DBUSMENU_ENTRY
  return opened ? &library : nullptr;
}

}  // namespace ombrix
