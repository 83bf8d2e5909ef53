#include "util/shared_library.h"

#include <dlfcn.h>

#include <QDebug>

namespace ombrix {

bool OpenLibrary(const char* soname, const char* topic,
                 std::initializer_list<LibraryFunction> functions) {
  // The handle stays open: what the library made may live as long as the process.
  void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    qDebug().noquote() << QStringLiteral("%1:").arg(QLatin1String(topic)) << "cannot open" << soname
                       << dlerror();
    return false;
  }
  bool whole = true;
  for (const LibraryFunction& function : functions) {
    *function.address = dlsym(handle, function.name);
    if (*function.address) continue;
    qDebug().noquote() << QStringLiteral("%1:").arg(QLatin1String(topic)) << soname << "has no"
                       << function.name;
    whole = false;
  }
  return whole;
}

}  // namespace ombrix
