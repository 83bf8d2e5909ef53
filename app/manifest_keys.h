// The manifest's keys in one table: each key's name and JSON type in its
// section (the top level, "window", "kiosk", "metrics", "print"), what of them
// the page side is handed, and the start-up lines about keys and values that
// will not do what their author meant.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "app/manifest_util.h"

namespace ombrix {

// The launch state named exactly so ("normal", "maximized", ...); false, with
// state untouched, for any other text.
bool FindLaunchState(const QString& text, LaunchState* state);

// The plain values (strings, booleans, numbers) of the known keys at the top
// level and in "window" and "kiosk": what the page side is handed.
QJsonObject KnownPlainValues(const QJsonObject& root);

// One line for each unknown key, each value of the wrong type and each value
// that will not do what its author meant.
QStringList KeyMistakes(const QJsonObject& root);

}  // namespace ombrix
