// What the borderless main window decides without asking the window system:
// which part of the window a point is on (resize band, caption region or page)
// and how a tray tooltip is shortened. Kept free of GTK so it can be checked
// on its own.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "util/util_win.h"

namespace ombrix {

// The part of the main window under a point.
enum class HitArea {
  kClient,   // the page
  kCaption,  // a caption region the page declared: drags the window
  kLeft,
  kRight,
  kTop,
  kBottom,
  kTopLeft,
  kTopRight,
  kBottomLeft,
  kBottomRight,
};

// Width of the resize band inside the window's edges, in pixels.
constexpr int kResizeBandWidth = 4;

// The part of the window at (x, y). window is the page's area (right and
// bottom exclusive) in the same coordinates as the point; regions are the
// page's caption regions (right and bottom inclusive) relative to the window's
// top-left corner. Unless band_locked, the resize band is tested first, corners
// before edges; then the regions (edges included); otherwise the page.
HitArea HitTest(const Rect& window, int x, int y, const std::vector<Rect>& regions,
                bool band_locked);

// True for the eight parts of the resize band.
bool IsResizeEdge(HitArea area);

// Longest tooltip the tray icon shows, in UTF-16 code units.
constexpr int kTrayTooltipLength = 127;

// text cut to at most kTrayTooltipLength code units, never between the two
// halves of a surrogate pair.
QString TrayTooltip(const QString& text);

// An image's rows (RGB or RGBA bytes, rowstride bytes apart) as a
// StatusNotifierItem icon carries them: one 32-bit ARGB value a pixel, most
// significant byte first, rows packed. Empty when the sizes do not fit the data.
QByteArray ArgbPixels(const unsigned char* pixels, qsizetype size, int width, int height,
                      int rowstride, int channels);

// A "setInTitleBar" string "left,top,width,height" as a rectangle with inclusive
// right and bottom edges; missing or non-numeric parts count as 0.
Rect ParseCaptionRegion(const QString& text);

}  // namespace ombrix
