// libdbusmenu-glib, opened when a StatusNotifierItem first exports its menu
// rather than with the shell: a kiosk without a tray, or on a desktop without
// a StatusNotifierWatcher, need not load it at start-up.
#pragma once

#include <libdbusmenu-glib/menuitem.h>
#include <libdbusmenu-glib/server.h>

namespace ombrix {

// The functions the tray's menu uses, in the order of their names.
// clang-format off
#define OMBRIX_DBUSMENU_FUNCTIONS(X)   \
  X(dbusmenu_menuitem_child_append)    \
  X(dbusmenu_menuitem_new)             \
  X(dbusmenu_menuitem_property_set)    \
  X(dbusmenu_server_new)               \
  X(dbusmenu_server_set_root)
// clang-format on

struct DbusmenuLibrary {
#define OMBRIX_DBUSMENU_POINTER(name) decltype(&::name) name = nullptr;
  OMBRIX_DBUSMENU_FUNCTIONS(OMBRIX_DBUSMENU_POINTER)
#undef OMBRIX_DBUSMENU_POINTER
};

// The library, opened once; nullptr when it cannot be opened or lacks a
// function (said once on the debug log).
const DbusmenuLibrary* Dbusmenu();

}  // namespace ombrix
