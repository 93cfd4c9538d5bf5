// Part names, organisations and ranges as the command line takes them.
#include "cli/part_choice.h"

#include <gtest/gtest.h>

namespace qmx::cli {
namespace {

TEST(ChoosePart, NamesMapToTheLibrarysDeviceNumbers) {
  std::string error;
  auto p = ChoosePart("93c86", Organisation::kDefault, &error);
  ASSERT_TRUE(p) << error;
  EXPECT_EQ(p->name, "93C86");
  EXPECT_EQ(p->device, 6);
  EXPECT_TRUE(p->wordOrganised);
  EXPECT_EQ(p->size, 2048);
  p = ChoosePart("93C86", Organisation::kX8, &error);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->device, 106);
  EXPECT_FALSE(p->wordOrganised);
  EXPECT_EQ(p->addressBits, 11);

  p = ChoosePart("9016", Organisation::kDefault, &error);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->variant, 1);
  EXPECT_GE(p->device, 200);
  EXPECT_FALSE(ChoosePart("9016", Organisation::kX8, &error));

  p = ChoosePart("24C64", Organisation::kDefault, &error);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->family, 1);
  EXPECT_EQ(p->device, 7);
  EXPECT_EQ(p->page, 1);  // the catalogue's safe default; --page-size gives more
  EXPECT_FALSE(ChoosePart("24C64", Organisation::kX16, &error));
  EXPECT_NE(error.find("Microwire"), std::string::npos);
  EXPECT_FALSE(ChoosePart("24C6", Organisation::kDefault, &error));
  EXPECT_NE(error.find("unknown part"), std::string::npos);
}

TEST(ApplyPageSize, AutoTakesTheDatasheetPageAndNumbersAreChecked) {
  struct Row {
    const char* part;
    const char* text;
    bool ok;
    int page;
    const char* said;  // part of the note or of the error
  };
  const Row rows[] = {
      {"24C64", "", true, 1, ""},
      {"24C64", "auto", true, 32, "datasheet page of 24C64"},
      {"24C02", "auto", true, 8, "page size 8"},
      {"25C160", "auto", true, 16, "page size 16"},
      {"93C46", "auto", true, 64, "no page writes"},
      {"24C00", "auto", true, 1, "no page writes"},
      {"24C64", "256", true, 256, ""},
      {"24C64", "0", false, 1, "1 to 256, or auto"},
      {"24C64", "257", false, 1, "1 to 256"},
      {"24C64", "Auto", false, 1, "1 to 256"},
      {"24C64", "-8", false, 1, "1 to 256"},
      {"93C46", "3", false, 64, "even"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.part) + " " + row.text);
    std::string error;
    auto part = ChoosePart(row.part, Organisation::kDefault, &error);
    ASSERT_TRUE(part);
    std::string note;
    error.clear();
    EXPECT_EQ(ApplyPageSize(*part, row.text, &note, &error), row.ok);
    EXPECT_EQ(part->page, row.page);
    EXPECT_NE((row.ok ? note : error).find(row.said), std::string::npos) << note << error;
  }
}

TEST(CheckRange, BoundsAndWholeWords) {
  std::string error;
  const PartChoice word = *ChoosePart("93C46", Organisation::kDefault, &error);
  EXPECT_FALSE(CheckRange(word, 1, 2, &error));
  EXPECT_FALSE(CheckRange(word, 0, 3, &error));
  auto r = CheckRange(word, 2, -1, &error);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->length, 126);
  EXPECT_FALSE(CheckRange(word, 0, 130, &error));
  EXPECT_FALSE(CheckRange(word, -2, 4, &error));
  EXPECT_FALSE(CheckRange(word, 130, 0, &error));
  r = CheckRange(word, 128, -1, &error);  // an empty range at the end is no error
  ASSERT_TRUE(r);
  EXPECT_EQ(r->length, 0);
}

TEST(SplitRange, PiecesEndOnPageBoundaries) {
  auto pieces = SplitRange({5, 100}, 32, 64);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].start, 5);
  EXPECT_EQ(pieces[0].length, 27);  // to the first boundary at 32
  EXPECT_EQ(pieces[1].start, 32);
  EXPECT_EQ(pieces[1].length, 64);
  EXPECT_EQ(pieces[2].start, 96);
  EXPECT_EQ(pieces[2].length, 9);
  pieces = SplitRange({0, 10}, 32, 100);  // shorter than a page: one piece
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].length, 10);
  pieces = SplitRange({0, 96}, 32, 50);  // the largest piece rounds down to whole pages
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1].start, 32);
  EXPECT_TRUE(SplitRange({7, 0}, 16, 64).empty());
}

}  // namespace
}  // namespace qmx::cli
