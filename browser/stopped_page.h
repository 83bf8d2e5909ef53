// The page the main window shows while a page that keeps crashing waits to
// start again, so that a kiosk never stands blank.
#pragma once

#include <QByteArray>

namespace ombrix {

// Plain HTML saying that the application stopped and counting down the
// delay_ms until it starts again.
QByteArray StoppedPageHtml(int delay_ms);

}  // namespace ombrix
