#include <gtest/gtest.h>

#include "browser/message_dispatch.h"

namespace {

TEST(CaptionRegions, StringsBecomeInclusiveRectangles) {
  ombrix::Rect a = ombrix::ParseCaptionRegion("0,0,800,30");
  EXPECT_EQ(a.left, 0);
  EXPECT_EQ(a.top, 0);
  EXPECT_EQ(a.right, 799);
  EXPECT_EQ(a.bottom, 29);
  ombrix::Rect b = ombrix::ParseCaptionRegion("0,0,10,600");
  EXPECT_EQ(b.right, 9);
  EXPECT_EQ(b.bottom, 599);
}

TEST(CaptionRegions, ShortOrBadStringsFillWithZero) {
  ombrix::Rect short_one = ombrix::ParseCaptionRegion("5,6");
  EXPECT_EQ(short_one.left, 5);
  EXPECT_EQ(short_one.top, 6);
  EXPECT_EQ(short_one.right, 4);
  EXPECT_EQ(short_one.bottom, 5);
  ombrix::Rect junk = ombrix::ParseCaptionRegion("a,,x,7");
  EXPECT_EQ(junk.left, 0);
  EXPECT_EQ(junk.right, -1);
  EXPECT_EQ(junk.bottom, 6);
  EXPECT_EQ(ombrix::ParseCaptionRegion("").right, -1);
}

TEST(CaptionRegions, HugeSizesStopAtTheEndOfTheCoordinates) {
  ombrix::Rect huge = ombrix::ParseCaptionRegion("2147483647,-2147483648,2147483647,-2147483648");
  EXPECT_EQ(huge.right, 2147483647);
  EXPECT_EQ(huge.bottom, -2147483647 - 1);
}

TEST(ProcessMessages, ArgumentsOfAnotherTypeReadAsDefaults) {
  ombrix::ProcessMessage message;
  ombrix::MessageArg text;
  text.type = ombrix::MessageArg::kString;
  text.string_value = "800";
  message.args.push_back(text);
  EXPECT_EQ(message.IntArg(0), 0);
  EXPECT_FALSE(message.BoolArg(0));
  EXPECT_EQ(message.StringArg(0), "800");
  EXPECT_EQ(message.IntArg(5), 0);
  EXPECT_EQ(message.StringArg(5), "");
}

TEST(ProcessMessages, DecodesTupleOfIntBoolString) {
  WebKitUserMessage* message =
      webkit_user_message_new("resizeTo", g_variant_new("(ibs)", 800, TRUE, "标题"));
  g_object_ref_sink(message);
  const ombrix::ProcessMessage decoded = ombrix::DecodeUserMessage(message);
  g_object_unref(message);
  EXPECT_EQ(decoded.name, "resizeTo");
  ASSERT_EQ(decoded.args.size(), 3u);
  EXPECT_EQ(decoded.IntArg(0), 800);
  EXPECT_TRUE(decoded.BoolArg(1));
  EXPECT_EQ(decoded.StringArg(2), "标题");
}

}  // namespace
