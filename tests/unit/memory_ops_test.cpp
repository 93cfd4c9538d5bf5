#include "core/memory/memory_ops.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

TEST(FrameChunk, PagesThatFitGoWhole) {
  EXPECT_EQ(FrameChunk(1, 63), 1);
  EXPECT_EQ(FrameChunk(48, 63), 48);
  EXPECT_EQ(FrameChunk(63, 63), 63);
  EXPECT_EQ(FrameChunk(60, 60), 60);
}

TEST(FrameChunk, LongPagesSplitIntoPowersOfTwoThatDivideThem) {
  EXPECT_EQ(FrameChunk(64, 63), 32);
  EXPECT_EQ(FrameChunk(256, 63), 32);
  EXPECT_EQ(FrameChunk(256, 60), 32);
  EXPECT_EQ(FrameChunk(96, 63), 32);
  EXPECT_EQ(FrameChunk(100, 61), 4);
  EXPECT_EQ(FrameChunk(65, 63), 1);
  EXPECT_EQ(FrameChunk(128, 61), 32);
  // Whatever the page, a chunk fits and divides it.
  for (int page = 1; page <= 256; ++page) {
    for (int max : {60, 61, 63}) {
      const int c = FrameChunk(page, max);
      ASSERT_GE(c, 1);
      ASSERT_LE(c, max);
      ASSERT_EQ(page % c, 0) << page << "/" << max;
    }
  }
}

TEST(TextFields, NumbersWithFallbacks) {
  EXPECT_EQ(ParseIntOr("50", 7), 50);
  EXPECT_EQ(ParseIntOr(" 20 ", 7), 20);
  EXPECT_EQ(ParseIntOr("", 7), 7);
  EXPECT_EQ(ParseIntOr("abc", 7), 7);
  EXPECT_EQ(ParseIntOr("12x", 7), 7);
  EXPECT_EQ(ParseIntOr("-3", 7), -3);
  EXPECT_EQ(ParseIntOr("99999999999", 7), 7);
  EXPECT_EQ(PageLengthFromText("0"), 1);
  EXPECT_EQ(PageLengthFromText("-5"), 1);
  EXPECT_EQ(PageLengthFromText("300"), 256);
  EXPECT_EQ(PageLengthFromText("32"), 32);
  EXPECT_EQ(PageLengthFromText("page"), 1);
}

}  // namespace
}  // namespace qmx
