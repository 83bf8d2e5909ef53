// Key names as the display's keyboard library knows them.
#include <gdk/gdk.h>

#include "kiosk/lockdown_rules.h"

namespace ombrix {

bool IsKeyName(const QString& name) {
  const QString variants[] = {name, name.left(1).toUpper() + name.mid(1), name.toUpper()};
  for (const QString& variant : variants) {
    if (gdk_keyval_from_name(variant.toLatin1().constData()) != GDK_KEY_VoidSymbol) return true;
  }
  return false;
}

}  // namespace ombrix
