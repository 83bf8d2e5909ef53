#include "browser/dbusmenu_library.h"

#include <dlfcn.h>

#include <QDebug>

namespace ombrix {
namespace {

// The soname Debian's libdbusmenu-glib4 installs.
constexpr char kSoname[] = "libdbusmenu-glib.so.4";

bool Open(DbusmenuLibrary* library) {
  void* handle = dlopen(kSoname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    qDebug() << "tray: cannot open" << kSoname << dlerror();
    return false;
  }
  bool whole = true;
#define OMBRIX_DBUSMENU_LOOKUP(name)                                               \
  library->name = reinterpret_cast<decltype(library->name)>(dlsym(handle, #name)); \
  if (!library->name) {                                                            \
    qDebug() << "tray:" << kSoname << "has no" << #name;                           \
    whole = false;                                                                 \
  }
  OMBRIX_DBUSMENU_FUNCTIONS(OMBRIX_DBUSMENU_LOOKUP)
#undef OMBRIX_DBUSMENU_LOOKUP
  // The handle stays open for the life of the shell: the menu's objects live on.
  return whole;
}

}  // namespace

const DbusmenuLibrary* Dbusmenu() {
  static DbusmenuLibrary library;
  static const bool opened = Open(&library);
  return opened ? &library : nullptr;
}

}  // namespace ombrix
