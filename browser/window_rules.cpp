#include "browser/window_rules.h"

#include <QStringList>
#include <climits>
#include <cstdint>

namespace ombrix {
namespace {

// Edges are compared in 64 bits: a rectangle near the limits of int must not
// wrap around.
bool InBand(int64_t value, int64_t low_edge, int64_t high_edge, bool near_low) {
  return near_low ? (low_edge <= value && value < low_edge + kResizeBandWidth)
                  : (high_edge - kResizeBandWidth <= value && value < high_edge);
}

}  // namespace

HitArea HitTest(const Rect& window, int x, int y, const std::vector<Rect>& regions,
                bool band_locked) {
  if (!band_locked) {
    const bool left = InBand(x, window.left, window.right, true);
    const bool right = InBand(x, window.left, window.right, false);
    const bool top = InBand(y, window.top, window.bottom, true);
    const bool bottom = InBand(y, window.top, window.bottom, false);
    if (left && bottom) return HitArea::kBottomLeft;
    if (right && bottom) return HitArea::kBottomRight;
    if (left && top) return HitArea::kTopLeft;
    if (right && top) return HitArea::kTopRight;
    if (left) return HitArea::kLeft;
    if (right) return HitArea::kRight;
    if (bottom) return HitArea::kBottom;
    if (top) return HitArea::kTop;
  }
  const int64_t page_x = int64_t{x} - window.left;
  const int64_t page_y = int64_t{y} - window.top;
  for (const Rect& region : regions) {
    if (region.left <= page_x && page_x <= region.right && region.top <= page_y &&
        page_y <= region.bottom) {
      return HitArea::kCaption;
    }
  }
  return HitArea::kClient;
}

bool IsResizeEdge(HitArea area) { return area != HitArea::kClient && area != HitArea::kCaption; }

QString TrayTooltip(const QString& text) {
  if (text.size() <= kTrayTooltipLength) return text;
  int length = kTrayTooltipLength;
  // The last unit kept must not be the first half of a pair.
  if (text.at(length - 1).isHighSurrogate() && text.at(length).isLowSurrogate()) --length;
  return text.left(length);
}

QByteArray ArgbPixels(const unsigned char* pixels, qsizetype size, int width, int height,
                      int rowstride, int channels) {
  if (!pixels || width <= 0 || height <= 0 || (channels != 3 && channels != 4) ||
      rowstride < qint64(width) * channels ||
      size < qint64(rowstride) * (height - 1) + qint64(width) * channels) {
    return {};
  }
  QByteArray argb(width * height * 4, Qt::Uninitialized);
  char* out = argb.data();
  for (int y = 0; y < height; ++y) {
    const unsigned char* in = pixels + qint64(y) * rowstride;
    for (int x = 0; x < width; ++x, in += channels) {
      *out++ = char(channels == 4 ? in[3] : 0xff);
      *out++ = char(in[0]);
      *out++ = char(in[1]);
      *out++ = char(in[2]);
    }
  }
  return argb;
}

Rect ParseCaptionRegion(const QString& text) {
  const QStringList parts = text.split(QLatin1Char(','));
  int values[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && i < parts.size(); ++i) values[i] = parts[i].toInt(nullptr, 10);
  // The far edges are summed in 64 bits and kept within int: a huge width
  // reaches the end of the coordinates instead of wrapping around.
  const auto edge = [](int start, int length) {
    return int(qBound(qint64(INT_MIN), qint64(start) + length - 1, qint64(INT_MAX)));
  };
  return Rect{values[0], values[1], edge(values[0], values[2]), edge(values[1], values[3])};
}

}  // namespace ombrix
