#include "print/cups_library.h"

#include <dlfcn.h>

#include <QDebug>

namespace ombrix {
namespace {

// The soname Debian's libcups2 installs; the API used is that of CUPS 2.2 and later.
constexpr char kSoname[] = "libcups.so.2";

bool Open(CupsLibrary* library) {
  void* handle = dlopen(kSoname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    qDebug() << "print: cannot open" << kSoname << dlerror();
    return false;
  }
  bool whole = true;
#define OMBRIX_CUPS_LOOKUP(name)                                                   \
  library->name = reinterpret_cast<decltype(library->name)>(dlsym(handle, #name)); \
  if (!library->name) {                                                            \
    qDebug() << "print:" << kSoname << "has no" << #name;                          \
    whole = false;                                                                 \
  }
  OMBRIX_CUPS_FUNCTIONS(OMBRIX_CUPS_LOOKUP)
#undef OMBRIX_CUPS_LOOKUP
  // The handle stays open for the life of the shell: the job threads may use it to the end.
  return whole;
}

}  // namespace

const CupsLibrary* Cups() {
  static CupsLibrary library;
  static const bool opened = Open(&library);
  return opened ? &library : nullptr;
}

}  // namespace ombrix
