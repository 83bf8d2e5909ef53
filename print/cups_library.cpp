#include "print/cups_library.h"

#include "util/shared_library.h"

namespace ombrix {

const CupsLibrary* Cups() {
  static CupsLibrary library;
  // The soname Debian's libcups2 installs; the API used is that of CUPS 2.2 and later.
#define OMBRIX_CUPS_ENTRY(name) OMBRIX_LIBRARY_FUNCTION(&library, name),
  static const bool opened =
      OpenLibrary("libcups.so.2", "print", {OMBRIX_CUPS_FUNCTIONS(OMBRIX_CUPS_ENTRY)});
#undef OMBRIX_CUPS_ENTRY
  return opened ? &library : nullptr;
}

}  // namespace ombrix
