// Libraries opened when first needed rather than by the loader at every start
// (libcups on the first print, libdbusmenu-glib with the tray's first menu).
#pragma once

#include <initializer_list>

namespace ombrix {

// A function to look up: its name and where its address goes.
struct LibraryFunction {
  const char* name;
  void** address;
};

// Opens soname for the life of the process and fills every function's address.
// False, said once on the debug log under topic ("print", "tray"), when the
// library cannot be opened or lacks a function.
bool OpenLibrary(const char* soname, const char* topic,
                 std::initializer_list<LibraryFunction> functions);

}  // namespace ombrix

// The entry of the function `name` in a table whose members are named as the
// functions are.
// clang-format off
#define OMBRIX_LIBRARY_FUNCTION(table, name) \
  ombrix::LibraryFunction { #name, reinterpret_cast<void**>(&(table)->name) }
// clang-format on
