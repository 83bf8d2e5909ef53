// libcups, opened on the first print rather than with the shell: it brings
// seven libraries (TLS, Avahi, ...) that a kiosk which never prints need not
// load at start-up.
#pragma once

#include <cups/cups.h>

namespace ombrix {

// The functions the print jobs use, in the order of their names.
// clang-format off
#define OMBRIX_CUPS_FUNCTIONS(X) \
  X(cupsAddOption)               \
  X(cupsDoRequest)               \
  X(cupsEncryption)              \
  X(cupsFreeDests)               \
  X(cupsFreeOptions)             \
  X(cupsGetNamedDest)            \
  X(cupsLastError)               \
  X(cupsLastErrorString)         \
  X(cupsPrintFile2)              \
  X(cupsServer)                  \
  X(cupsUser)                    \
  X(httpAssembleURIf)            \
  X(httpClose)                   \
  X(httpConnect2)                \
  X(httpSetTimeout)              \
  X(ippAddString)                \
  X(ippAddStrings)               \
  X(ippDelete)                   \
  X(ippFindAttribute)            \
  X(ippGetCount)                 \
  X(ippGetInteger)               \
  X(ippGetString)                \
  X(ippNewRequest)               \
  X(ippPort)
// clang-format on

struct CupsLibrary {
#define OMBRIX_CUPS_POINTER(name) decltype(&::name) name = nullptr;
  OMBRIX_CUPS_FUNCTIONS(OMBRIX_CUPS_POINTER)
#undef OMBRIX_CUPS_POINTER
};

// The library, opened once by whichever thread asks first; nullptr when it
// cannot be opened or lacks a function (said once on the debug log).
const CupsLibrary* Cups();

}  // namespace ombrix
