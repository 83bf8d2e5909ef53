#include "browser/window_rules.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using ombrix::HitArea;
using ombrix::HitTest;
using ombrix::Rect;

// A window at (100, 50), 300 x 200, on the screen.
const Rect kWindow{100, 50, 400, 250};

HitArea At(int x, int y, const std::vector<Rect>& regions = {}, bool locked = false) {
  return HitTest(kWindow, x, y, regions, locked);
}

TEST(HitTest, CornersComeBeforeTheEdgesTheyJoin) {
  EXPECT_EQ(At(100, 249), HitArea::kBottomLeft);
  EXPECT_EQ(At(399, 249), HitArea::kBottomRight);
  EXPECT_EQ(At(100, 50), HitArea::kTopLeft);
  EXPECT_EQ(At(399, 50), HitArea::kTopRight);
  EXPECT_EQ(At(396, 53), HitArea::kTopRight);
}

TEST(HitTest, BandIsFourPixelsInsideEachEdge) {
  EXPECT_EQ(At(100, 150), HitArea::kLeft);
  EXPECT_EQ(At(103, 150), HitArea::kLeft);
  EXPECT_EQ(At(104, 150), HitArea::kClient);
  EXPECT_EQ(At(399, 150), HitArea::kRight);
  EXPECT_EQ(At(396, 150), HitArea::kRight);
  EXPECT_EQ(At(395, 150), HitArea::kClient);
  EXPECT_EQ(At(250, 50), HitArea::kTop);
  EXPECT_EQ(At(250, 53), HitArea::kTop);
  EXPECT_EQ(At(250, 54), HitArea::kClient);
  EXPECT_EQ(At(250, 249), HitArea::kBottom);
  EXPECT_EQ(At(250, 246), HitArea::kBottom);
  EXPECT_EQ(At(250, 245), HitArea::kClient);
  // Outside the window is not the band.
  EXPECT_EQ(At(400, 150), HitArea::kClient);
  EXPECT_EQ(At(99, 150), HitArea::kClient);
}

TEST(HitTest, BandWinsOverCaptionAndLockGivesItBack) {
  const std::vector<Rect> bar{{0, 0, 299, 29}};  // the whole top 30 rows of the page
  EXPECT_EQ(At(250, 51, bar), HitArea::kTop);
  EXPECT_EQ(At(250, 60, bar), HitArea::kCaption);
  EXPECT_EQ(At(250, 51, bar, true), HitArea::kCaption);
  EXPECT_EQ(At(100, 249, bar, true), HitArea::kClient);
  EXPECT_EQ(At(399, 150, {}, true), HitArea::kClient);
}

TEST(HitTest, CaptionRegionsArePagePixelsWithEdgesIncluded) {
  const std::vector<Rect> regions{{10, 10, 19, 19}, {50, 40, 50, 40}};
  EXPECT_EQ(At(110, 60, regions), HitArea::kCaption);  // page (10, 10)
  EXPECT_EQ(At(119, 69, regions), HitArea::kCaption);  // page (19, 19)
  EXPECT_EQ(At(120, 69, regions), HitArea::kClient);
  EXPECT_EQ(At(109, 60, regions), HitArea::kClient);
  EXPECT_EQ(At(150, 90, regions), HitArea::kCaption);  // a one-pixel region
  EXPECT_EQ(At(10, 10, regions), HitArea::kClient);    // screen (10, 10) is not page (10, 10)
}

TEST(HitTest, EmptyNegativeAndHugeRegionsAreSafe) {
  const std::vector<Rect> regions{{5, 5, 4, 4},  // width 0
                                  {INT_MIN, INT_MIN, -1, -1},
                                  {INT_MAX, INT_MAX, INT_MAX, INT_MAX}};
  EXPECT_EQ(At(105, 55, regions), HitArea::kClient);
  EXPECT_EQ(At(200, 150, regions), HitArea::kClient);
  const std::vector<Rect> everything{{INT_MIN, INT_MIN, INT_MAX, INT_MAX}};
  EXPECT_EQ(At(200, 150, everything), HitArea::kCaption);
  EXPECT_EQ(HitTest(Rect{INT_MAX - 2, INT_MAX - 2, INT_MAX, INT_MAX}, INT_MAX - 1, INT_MAX - 1,
                    everything, false),
            HitArea::kBottomLeft);  // a 2 x 2 window is band all over
}

TEST(TrayTooltip, CutTo127UnitsNeverHalfACharacter) {
  EXPECT_EQ(ombrix::TrayTooltip("short"), "short");
  EXPECT_EQ(ombrix::TrayTooltip(QString(127, 'a')), QString(127, 'a'));
  EXPECT_EQ(ombrix::TrayTooltip(QString(10000, 'a')), QString(127, 'a'));
  EXPECT_EQ(ombrix::TrayTooltip(QString(5000, QChar(0x4E2D))).size(), 127);
  // An emoji (two units) that would end at unit 128 is left out whole.
  const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
  EXPECT_EQ(ombrix::TrayTooltip(QString(126, 'a') + emoji + "b"), QString(126, 'a'));
  EXPECT_EQ(ombrix::TrayTooltip(QString(125, 'a') + emoji + "b"), QString(125, 'a') + emoji);
  EXPECT_EQ(ombrix::TrayTooltip(""), "");
}

TEST(ArgbPixels, RowsBecomeBigEndianArgbWithoutPadding) {
  // Two RGBA pixels a row, rows padded to 12 bytes; then the same as RGB.
  const unsigned char rgba[] = {1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 9, 10, 11, 12, 13, 14, 15, 16};
  const QByteArray argb = ombrix::ArgbPixels(rgba, sizeof rgba, 2, 2, 12, 4);
  EXPECT_EQ(argb, QByteArray("\x04\x01\x02\x03\x08\x05\x06\x07"
                             "\x0c\x09\x0a\x0b\x10\x0d\x0e\x0f",
                             16));
  const unsigned char rgb[] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(ombrix::ArgbPixels(rgb, sizeof rgb, 2, 1, 6, 3),
            QByteArray("\xff\x01\x02\x03\xff\x04\x05\x06", 8));
  // Sizes the data cannot hold give nothing rather than a read past its end.
  EXPECT_TRUE(ombrix::ArgbPixels(rgba, sizeof rgba, 2, 3, 12, 4).isEmpty());
  EXPECT_TRUE(ombrix::ArgbPixels(rgba, sizeof rgba, 4, 1, 12, 4).isEmpty());
  EXPECT_TRUE(ombrix::ArgbPixels(rgba, sizeof rgba, 2, 2, 12, 2).isEmpty());
  EXPECT_TRUE(ombrix::ArgbPixels(nullptr, 0, 0, 0, 0, 4).isEmpty());
}

}  // namespace
