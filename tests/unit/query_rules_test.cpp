#include "samples/query_rules.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

namespace {

using ombrix::Box;

// A 1280 x 1024 screen with a 30-pixel panel at the top.
const Box kWorkArea{0, 30, 1280, 994};

std::optional<Box> Place(const char* numbers) {
  return ombrix::PlaceByRequest(QStringLiteral("WindowTest.Position:") + numbers, kWorkArea);
}

bool Same(const std::optional<Box>& box, int x, int y, int width, int height) {
  return box && box->x == x && box->y == y && box->width == width && box->height == height;
}

TEST(PositionRequest, NumbersAreRelativeToTheWorkAreaAndFittedIntoIt) {
  EXPECT_TRUE(Same(Place("10, 20, 50, 50"), 10, 50, 100, 100));
  EXPECT_TRUE(Same(Place("10,20,640,480"), 10, 50, 640, 480));
  EXPECT_TRUE(Same(Place("1200, 900, 300, 200"), 980, 824, 300, 200));
  EXPECT_TRUE(Same(Place("10 20 640 480 and more"), 10, 50, 640, 480));
  // Huge and negative values end inside the work area.
  EXPECT_TRUE(Same(Place("-500, -500, 300, 200"), 0, 30, 300, 200));
  EXPECT_TRUE(Same(Place("5, 5, 100000, 100000"), 0, 30, 1280, 994));
  EXPECT_TRUE(Same(Place("2147483647, 2147483647, 2147483647, -2147483648"), 0, 924, 1280, 100));
}

TEST(PositionRequest, AnythingButFourNumbersPlacesNothing) {
  EXPECT_FALSE(Place("10, 20, 50"));
  EXPECT_FALSE(Place("10, 20, 50, 50, 60"));
  EXPECT_FALSE(Place("10, 20, 99999999999, 50"));
  EXPECT_FALSE(Place("ten, 20, 50, 50"));
  EXPECT_FALSE(Place("10,,20, 50, 50"));
  EXPECT_FALSE(Place(""));
  EXPECT_FALSE(ombrix::PlaceByRequest(QStringLiteral("WindowTest.Position"), kWorkArea));
  EXPECT_FALSE(Place(QByteArray(4 << 20, '7').constData()));
}

TEST(SaveSettings, FilepathAndFilterItemsInOrderAfterAnySeparator) {
  const ombrix::SaveSettings settings = ombrix::ReadSaveSettings(QStringLiteral(
      "DialogTest.FileSave#filepath=/tmp/a.txt|filter=*.txt|junk||filter=image/png|filepath|"
      "filter=.csv=ignored"));
  EXPECT_TRUE(settings.given);
  EXPECT_EQ(settings.text, QStringLiteral("filepath=/tmp/a.txt|filter=*.txt|junk||filter=image/"
                                          "png|filepath|filter=.csv=ignored"));
  EXPECT_EQ(settings.filepaths, QStringList{"/tmp/a.txt"});
  EXPECT_EQ(settings.filters, (QStringList{"*.txt", "image/png", ".csv"}));
  EXPECT_FALSE(ombrix::ReadSaveSettings(QStringLiteral("DialogTest.FileSave")).given);
  EXPECT_TRUE(ombrix::ReadSaveSettings(QStringLiteral("DialogTest.FileSave:")).filters.isEmpty());
}

TEST(SaveSettings, StartPathFollowsTheLastFile) {
  EXPECT_EQ(ombrix::NextStartPath("", "C:/data/out.txt"), QStringLiteral("C:/data/out.txt"));
  EXPECT_EQ(ombrix::NextStartPath("/home/u/docs/in.txt", "out.txt"),
            QStringLiteral("/home/u/docs/out.txt"));
  EXPECT_EQ(ombrix::NextStartPath("/home/u/docs/", "sub/out.txt"),
            QStringLiteral("/home/u/docs/sub/out.txt"));
  EXPECT_EQ(ombrix::NextStartPath("/home/u/docs/in.txt", "/tmp/out.txt"),
            QStringLiteral("/tmp/out.txt"));
  // A name or path no file system takes leaves the start where it was.
  EXPECT_EQ(ombrix::NextStartPath("/tmp/a.txt", QString(256, 'x')), QStringLiteral("/tmp/a.txt"));
  EXPECT_EQ(ombrix::NextStartPath("", "/" + QString(4096, 'd') + "/a"), QString());
  EXPECT_EQ(ombrix::NextStartPath("", QString(85, QChar(0x6587))), QString(85, QChar(0x6587)));
}

bool Matches(const ombrix::FileFilterParts& filter, const char* name) {
  for (const QString& pattern : filter.patterns) {
    if (fnmatch(pattern.toUtf8().constData(), name, 0) == 0) return true;
  }
  return false;
}

TEST(FileFilter, ExtensionListsMatchAnyLetterCaseAndMimeTypesPassThrough) {
  const ombrix::FileFilterParts text = ombrix::ReadFileFilter(QStringLiteral("*.txt;*.log"));
  EXPECT_TRUE(Matches(text, "notes.txt"));
  EXPECT_TRUE(Matches(text, "NOTES.TXT"));
  EXPECT_TRUE(Matches(text, "run.log"));
  EXPECT_FALSE(Matches(text, "notes.txt.bak"));
  EXPECT_TRUE(Matches(ombrix::ReadFileFilter(QStringLiteral(".png, .jpg")), "a.JPG"));
  EXPECT_TRUE(Matches(ombrix::ReadFileFilter(QStringLiteral("*.*")), "anything"));
  EXPECT_TRUE(Matches(ombrix::ReadFileFilter(QString()), "anything"));
  const ombrix::FileFilterParts images = ombrix::ReadFileFilter(QStringLiteral("image/png"));
  EXPECT_EQ(images.mime_types, QStringList{"image/png"});
  EXPECT_TRUE(images.patterns.isEmpty());
  EXPECT_EQ(images.name, QStringLiteral("image/png"));
}

// A page's megabyte of filter text gives the dialog a short name and only
// patterns that can match a file name.
TEST(FileFilter, HugeFilterTextIsCutToWhatADialogCanShow) {
  const QString huge = QString(1 << 20, 'x');
  const ombrix::FileFilterParts one = ombrix::ReadFileFilter(huge);
  EXPECT_EQ(one.name.size(), 120);
  EXPECT_TRUE(one.name.endsWith(QChar(0x2026)));
  EXPECT_TRUE(one.patterns.isEmpty());
  QStringList many;
  for (int i = 0; i < 1000; ++i) many << QStringLiteral("*.e%1").arg(i);
  const ombrix::FileFilterParts list = ombrix::ReadFileFilter(many.join(';'));
  EXPECT_EQ(list.patterns.size(), 64);
  EXPECT_TRUE(Matches(list, "a.E63"));
  EXPECT_FALSE(Matches(list, "a.e64"));
}

}  // namespace
