#include "core/catalogue/catalogue.h"
#include "core/catalogue/datasheet_pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "sim/part_table.h"

namespace qmx {
namespace {

constexpr int kFamilies[] = {kFamilyMicrowire, kFamilyI2c, kFamilySpi};

bool IsPowerOfTwo(std::int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

// ---- Self-check: every row of every table ----

TEST(CatalogueSelfCheck, NamesAreUniqueSizesWholeAndPagesOne) {
  for (int family : kFamilies) {
    ASSERT_GT(RowCount(family), 0) << family;
    std::set<std::string> names;
    for (int row = 0; row < RowCount(family); ++row) {
      const char* name = PartName(family, row);
      ASSERT_NE(name, nullptr) << family << "/" << row;
      EXPECT_GT(std::strlen(name), 0u);
      EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
      EXPECT_TRUE(IsPowerOfTwo(PartSize(family, row))) << name;
      EXPECT_EQ(PartSize(family, row) % 16, 0) << name << " would leave a partial dump line";
      EXPECT_EQ(DefaultPageSize(family, row), 1) << name;
    }
    const int def = DefaultRow(family);
    EXPECT_GE(def, 0);
    EXPECT_LT(def, RowCount(family));
  }
}

// The page offered for each part is the page the simulator's bus model wraps
// at (its own table, kept from the datasheets apart from ours): a larger one
// would overwrite the start of every page.
TEST(CatalogueSelfCheck, DatasheetPagesAreThePartsOwn) {
  for (int family : kFamilies) {
    for (int row = 0; row < RowCount(family); ++row) {
      const char* name = PartName(family, row);
      const sim::PartRow* model = sim::FindPartRow(name);
      ASSERT_NE(model, nullptr) << name;
      const int expected = family == kFamilyMicrowire || model->pageSize == 1 ? 0 : model->pageSize;
      EXPECT_EQ(DatasheetPageSize(name), expected) << name;
    }
  }
  EXPECT_EQ(DatasheetPageSize("24C65"), 0);
  EXPECT_EQ(DatasheetPageSize(""), 0);
}

TEST(CatalogueSelfCheck, MicrowireAddressBitsReachEveryUnit) {
  for (std::size_t i = 0; i < MicrowireParts().size(); ++i) {
    const MicrowirePart& p = MicrowireParts()[i];
    const int row = static_cast<int>(i);
    const int word = MicrowireAddressBits(row, false);
    const int byte = MicrowireAddressBits(row, true);
    EXPECT_EQ(word, p.addressBits);
    EXPECT_EQ(byte, word + 1) << p.name;
    EXPECT_LE(p.size, 2 << word) << p.name << " has words no address reaches";
    EXPECT_LE(p.size, 1 << byte) << p.name;
    // Rows 7 and above are exactly the Series90 rows: the operations switch on the index.
    EXPECT_EQ(p.variant == kSeries90, row >= 7) << p.name;
    // Series90 headers encode n itself, so these parts use every address bit;
    // 93C06, 93C56 and 93C76 carry don't-care bits.
    const std::string name = p.name;
    const bool spareBits = name == "93C06" || name == "93C56" || name == "93C76";
    EXPECT_EQ(p.size == (2 << word), !spareBits) << p.name;
  }
}

TEST(CatalogueSelfCheck, I2cRowsSelectEveryByteUniquely) {
  for (const I2cPart& p : I2cParts()) {
    ASSERT_TRUE(p.addressWidth == 8 || p.addressWidth == 16) << p.name;
    const std::int32_t mask = (1 << p.addressWidth) - 1;
    std::set<std::int32_t> keys;
    for (std::int32_t a = 0; a < p.size; ++a) {
      const std::uint8_t dev = I2cDeviceAddress(p, a);
      EXPECT_EQ(dev & 0xF1, 0xA0) << p.name;
      keys.insert((dev << 16) | (a & mask));
    }
    EXPECT_EQ(keys.size(), static_cast<std::size_t>(p.size)) << p.name << " aliases addresses";
    for (std::int32_t bit : p.blockBits) {
      if (bit < 0) continue;
      EXPECT_EQ(p.addressWidth, 8) << p.name;
      EXPECT_LT(1 << bit, p.size) << p.name << " block bit beyond the part";
    }
  }
}

TEST(CatalogueSelfCheck, SpiRowsSelectEveryByteUniquely) {
  for (const SpiPart& p : SpiParts()) {
    ASSERT_TRUE(p.addressWidth == 8 || p.addressWidth == 16) << p.name;
    EXPECT_TRUE(p.addressBit8InstructionBit == -1 || p.addressBit8InstructionBit == 3) << p.name;
    const std::int32_t mask = (1 << p.addressWidth) - 1;
    std::set<std::int32_t> keys;
    for (std::int32_t a = 0; a < p.size; ++a) {
      keys.insert((SpiInstruction(p, a, false) << 16) | (a & mask));
    }
    EXPECT_EQ(keys.size(), static_cast<std::size_t>(p.size)) << p.name << " aliases addresses";
  }
}

TEST(CatalogueSelfCheck, EveryDefinedDeviceNumberResolvesToItsRow) {
  struct Range { int family; int first; int last; int firstRow; bool byteOrg; bool series90; };
  const Range ranges[] = {
      {kFamilyMicrowire, 0, 11, 0, false, false},
      {kFamilyMicrowire, 100, 111, 0, true, false},
      {kFamilyMicrowire, 200, 204, 7, false, true},
      {kFamilyI2c, 0, 7, 0, false, false},
      {kFamilySpi, 0, 6, 0, false, false},
  };
  int resolved = 0;
  for (const Range& r : ranges) {
    for (int number = r.first; number <= r.last; ++number) {
      const auto dev = ResolveDeviceNumber(r.family, number);
      ASSERT_TRUE(dev.has_value()) << r.family << "/" << number;
      const int row = r.firstRow + number - r.first;
      EXPECT_EQ(dev->family, r.family);
      EXPECT_EQ(dev->row, row) << number;
      EXPECT_EQ(dev->size, PartSize(r.family, row)) << number;
      EXPECT_EQ(dev->byteOrganisation, r.byteOrg) << number;
      EXPECT_EQ(dev->series90Protocol, r.series90) << number;
      const int bits = r.family == kFamilyMicrowire ? MicrowireAddressBits(row, r.byteOrg) : 0;
      EXPECT_EQ(dev->addressBits, bits) << number;
      ++resolved;
    }
  }
  EXPECT_EQ(resolved, 12 + 12 + 5 + 8 + 7);
}

TEST(CatalogueSelfCheck, NumbersOutsideTheRangesAreRefused) {
  for (int number : {-1, 12, 99, 112, 199, 205, 300}) {
    EXPECT_FALSE(ResolveDeviceNumber(kFamilyMicrowire, number)) << number;
  }
  for (int number : {-1, 8, 100, 200}) EXPECT_FALSE(ResolveDeviceNumber(kFamilyI2c, number)) << number;
  for (int number : {-1, 7, 100, 200}) EXPECT_FALSE(ResolveDeviceNumber(kFamilySpi, number)) << number;
  EXPECT_FALSE(ResolveDeviceNumber(kFamilyNone, 0));
  EXPECT_FALSE(ResolveDeviceNumber(3, 0));
}

// ---- Lookups ----

TEST(CatalogueLookup, OutOfRangeGivesNeutralAnswers) {
  for (int family : {-1, 3, 99}) {
    EXPECT_EQ(RowCount(family), 0);
    EXPECT_EQ(PartName(family, 0), nullptr);
    EXPECT_EQ(PartSize(family, 0), 0);
    EXPECT_EQ(DefaultPageSize(family, 0), 0);
    EXPECT_EQ(DefaultRow(family), -1);
    EXPECT_EQ(FamilyCaption(family), nullptr);
  }
  for (int family : kFamilies) {
    EXPECT_EQ(PartName(family, -1), nullptr);
    EXPECT_EQ(PartName(family, RowCount(family)), nullptr);
    EXPECT_EQ(PartSize(family, RowCount(family)), 0);
    EXPECT_EQ(DefaultPageSize(family, -1), 0);
  }
  EXPECT_EQ(MicrowireAddressBits(-1, false), 0);
  EXPECT_EQ(MicrowireAddressBits(12, true), 0);
}

TEST(CatalogueLookup, DefaultsCaptionsAndOrganisation) {
  EXPECT_STREQ(PartName(kFamilyMicrowire, DefaultRow(kFamilyMicrowire)), "93C46");
  EXPECT_STREQ(PartName(kFamilyI2c, DefaultRow(kFamilyI2c)), "24C02");
  EXPECT_STREQ(PartName(kFamilySpi, DefaultRow(kFamilySpi)), "25C020");
  EXPECT_STREQ(FamilyCaption(kFamilyMicrowire), "マイクロワイヤデバイス");
  EXPECT_STREQ(FamilyCaption(kFamilyI2c), "I2Cデバイス");
  EXPECT_STREQ(FamilyCaption(kFamilySpi), "SPIデバイス");
  EXPECT_EQ(MicrowireAddressBits(2, false), 8);  // 93C56
  EXPECT_EQ(MicrowireAddressBits(2, true), 9);
  EXPECT_EQ(MicrowireAddressBits(3, false), 7);  // 93C57
  EXPECT_EQ(MicrowireAddressBits(3, true), 8);
}

TEST(CatalogueLookup, LibraryDeviceNumberExamples) {
  const auto d105 = ResolveDeviceNumber(kFamilyMicrowire, 105);
  ASSERT_TRUE(d105);
  EXPECT_STREQ(PartName(kFamilyMicrowire, d105->row), "93C76");
  EXPECT_TRUE(d105->byteOrganisation);
  EXPECT_FALSE(d105->series90Protocol);
  EXPECT_EQ(d105->addressBits, 11);
  const auto d204 = ResolveDeviceNumber(kFamilyMicrowire, 204);
  ASSERT_TRUE(d204);
  EXPECT_STREQ(PartName(kFamilyMicrowire, d204->row), "9016");
  EXPECT_TRUE(d204->series90Protocol);
  EXPECT_EQ(d204->addressBits, 10);
  // Below 200 a Series90 row is still driven with the Standard protocol.
  const auto d110 = ResolveDeviceNumber(kFamilyMicrowire, 110);
  ASSERT_TRUE(d110);
  EXPECT_STREQ(PartName(kFamilyMicrowire, d110->row), "9080");
  EXPECT_FALSE(d110->series90Protocol);
  EXPECT_EQ(d110->addressBits, 10);
}

// ---- Models ----

TEST(ProgrammerModels, DetectionOrderDiffersBetweenProgramAndLibrary) {
  EXPECT_EQ(ModelFromNameForProgram("QMX-71A Ver1.2"), kModel71A);
  EXPECT_EQ(ModelFromNameForLibrary("QMX-71A Ver1.2"), kModel71A);
  EXPECT_EQ(ModelFromNameForProgram("xQMX-71Bx"), kModel71B);
  EXPECT_EQ(ModelFromNameForLibrary("xQMX-71Bx"), kModel71B);
  EXPECT_EQ(ModelFromNameForProgram("QMX-71C"), kModel71C);
  EXPECT_EQ(ModelFromNameForLibrary("QMX-ISP"), kModel71C);
  EXPECT_EQ(ModelFromNameForProgram("QMX-ISP"), kModel71C);
  // Both strings present: the program looks for 71B first, the library for 71A.
  EXPECT_EQ(ModelFromNameForProgram("QMX-71A/QMX-71B"), kModel71B);
  EXPECT_EQ(ModelFromNameForLibrary("QMX-71A/QMX-71B"), kModel71A);
  EXPECT_EQ(ModelFromNameForProgram("QMX-ISP QMX-71A"), kModel71A);
  EXPECT_EQ(ModelFromNameForLibrary("QMX-71C QMX-71B"), kModel71B);
  for (const char* name : {"", "qmx-71a", "QMX-71", "QMX-71D", "QMX 71A"}) {
    EXPECT_EQ(ModelFromNameForProgram(name), kModelUnknown) << name;
    EXPECT_EQ(ModelFromNameForLibrary(name), kModelUnknown) << name;
  }
}

TEST(ProgrammerModels, ProgramFamilyListsAndPositions) {
  EXPECT_EQ(ProgramFamilies(kModel71A), (std::vector<int>{kFamilyMicrowire, kFamilyI2c}));
  EXPECT_EQ(ProgramFamilies(kModel71B), (std::vector<int>{kFamilySpi, kFamilyI2c}));
  EXPECT_EQ(ProgramFamilies(kModel71C), (std::vector<int>{kFamilyMicrowire, kFamilyI2c, kFamilySpi}));
  EXPECT_TRUE(ProgramFamilies(kModelUnknown).empty());
  EXPECT_TRUE(ProgramFamilies(-1).empty());
  // 71B lists SPI first, and the first entry then selects 25C020.
  EXPECT_EQ(FamilyAtListPosition(kModel71B, 0), kFamilySpi);
  EXPECT_STREQ(PartName(FamilyAtListPosition(kModel71B, 0), DefaultRow(kFamilySpi)), "25C020");
  EXPECT_EQ(FamilyAtListPosition(kModel71B, 1), kFamilyI2c);
  EXPECT_EQ(FamilyAtListPosition(kModel71B, 2), kFamilyNone);
  EXPECT_EQ(FamilyAtListPosition(kModel71A, 0), kFamilyMicrowire);
  EXPECT_EQ(FamilyAtListPosition(kModel71A, 1), kFamilyI2c);
  EXPECT_EQ(FamilyAtListPosition(kModel71A, 2), kFamilyNone);
  EXPECT_EQ(FamilyAtListPosition(kModel71C, 2), kFamilySpi);
  EXPECT_EQ(FamilyAtListPosition(kModel71C, -1), kFamilyNone);
  EXPECT_EQ(FamilyAtListPosition(kModelUnknown, 0), kFamilyNone);
}

TEST(ProgrammerModels, LibraryRefusesOnlyWhatEachModelLacks) {
  EXPECT_TRUE(LibraryAcceptsFamily(kModel71A, kFamilyMicrowire));
  EXPECT_TRUE(LibraryAcceptsFamily(kModel71A, kFamilyI2c));
  EXPECT_FALSE(LibraryAcceptsFamily(kModel71A, kFamilySpi));
  EXPECT_FALSE(LibraryAcceptsFamily(kModel71B, kFamilyMicrowire));
  EXPECT_TRUE(LibraryAcceptsFamily(kModel71B, kFamilyI2c));
  EXPECT_TRUE(LibraryAcceptsFamily(kModel71B, kFamilySpi));
  for (int family : {-1, 0, 1, 2, 3, 200}) {
    EXPECT_TRUE(LibraryAcceptsFamily(kModel71C, family)) << family;
    EXPECT_FALSE(LibraryAcceptsFamily(kModelUnknown, family)) << family;
  }
  // Values outside 0..2 are not refused by the 71A and 71B rules.
  EXPECT_TRUE(LibraryAcceptsFamily(kModel71A, 5));
  EXPECT_TRUE(LibraryAcceptsFamily(kModel71B, -1));
}

// ---- Encoders ----

TEST(MicrowireStandard, CommandWords) {
  EXPECT_EQ(MicrowireReadWord(MicrowireAddressBits(1, false), 0), 0x0180);   // 93C46 word
  EXPECT_EQ(MicrowireReadWord(MicrowireAddressBits(6, true), 0), 0x3000);    // 93C86 byte, n = 11
  EXPECT_EQ(MicrowireReadWord(6, 0x3F), 0x01BF);
  EXPECT_EQ(MicrowireReadWord(11, 0x7FF), 0x37FF);
  EXPECT_EQ(MicrowireWriteWord(6, 0), 0x0140);
  EXPECT_EQ(MicrowireWriteWord(8, 0x12), 0x0512);
  EXPECT_EQ(MicrowireEwenWord(6), 0x0130);
  EXPECT_EQ(MicrowireEwenWord(8), 0x04C0);
  EXPECT_EQ(MicrowireEwenWord(10), 0x1300);
}

// Header then reversed address byte, as clocked out: preamble 1010, opcode,
// padding, then the word address least significant bit first.
std::uint16_t Series90Stream(int n, int w, bool write) {
  const Series90Command c = Series90Address(n, w, write);
  std::uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if ((c.address >> bit) & 1) reversed = static_cast<std::uint8_t>(reversed | (0x80 >> bit));
  }
  return static_cast<std::uint16_t>((c.header << 8) | reversed);
}

TEST(MicrowireSeries90, AddressRules) {
  const Series90Command c = Series90Address(9, 0x101, false);  // 9080
  EXPECT_EQ(c.header, 0xA9);
  EXPECT_EQ(c.address, 0x80);
  EXPECT_EQ(Series90Address(9, 0x100, true).header, 0xA4);
  EXPECT_EQ(Series90Address(6, 0x2A, false).header, 0xA8);
  EXPECT_EQ(Series90Address(6, 0x2A, false).address, 0x2A);
  EXPECT_EQ(Series90Address(8, 0xFF, true).address, 0xFF);
  // n = 10: bit 0 of w goes to 0x02, bit 1 to 0x01.
  EXPECT_EQ(Series90Address(10, 0x001, false).header, 0xAA);
  EXPECT_EQ(Series90Address(10, 0x002, false).header, 0xA9);
  EXPECT_EQ(Series90Address(10, 0x3FF, true).header, 0xA7);
  EXPECT_EQ(Series90Address(10, 0x3FF, true).address, 0xFF);
  EXPECT_EQ(Series90Address(10, 0x004, true).address, 0x01);
}

TEST(MicrowireSeries90, StreamCarriesWordAddressLsbFirstForEveryRow) {
  for (const MicrowirePart& p : MicrowireParts()) {
    if (p.variant != kSeries90) continue;
    const int n = p.addressBits;
    const int span = n > 8 ? n : 8;  // bits after the header's fixed part
    for (bool write : {false, true}) {
      const std::uint16_t opcode = write ? 0b01 : 0b10;
      for (int w = 0; w < p.size / 2; ++w) {
        const std::uint16_t s = Series90Stream(n, w, write);
        ASSERT_EQ(s >> 12, 0b1010) << p.name << " w=" << w;
        ASSERT_EQ((s >> 10) & 0b11, opcode) << p.name << " w=" << w;
        int decoded = 0;
        for (int i = 0; i < n; ++i) decoded |= ((s >> (span - 1 - i)) & 1) << i;
        ASSERT_EQ(decoded, w) << p.name;
        // Everything between the opcode and the address is padding.
        ASSERT_EQ((s >> span) & ((1 << (10 - span)) - 1), 0) << p.name << " w=" << w;
      }
    }
  }
}

TEST(I2cDeviceAddress, BlockBitsFollowTheRow) {
  const auto& parts = I2cParts();
  EXPECT_EQ(I2cDeviceAddress(parts[5], 0x7FF), 0xAE);  // 24C16
  EXPECT_EQ(I2cDeviceAddress(parts[5], 0x7FF) | 0x01, 0xAF);
  EXPECT_EQ(I2cDeviceAddress(parts[5], 0x400), 0xA8);
  EXPECT_EQ(I2cDeviceAddress(parts[3], 0x100), 0xA2);  // 24C04
  EXPECT_EQ(I2cDeviceAddress(parts[3], 0x0FF), 0xA0);
  EXPECT_EQ(I2cDeviceAddress(parts[4], 0x300), 0xA6);  // 24C08
  EXPECT_EQ(I2cDeviceAddress(parts[4], 0x200), 0xA4);
  for (std::int32_t a : {0x000, 0x0FF, 0x100, 0x7FF, 0xFFFF}) {
    EXPECT_EQ(I2cDeviceAddress(parts[2], a), 0xA0) << a;  // 24C02
    EXPECT_EQ(I2cDeviceAddress(parts[7], a), 0xA0) << a;  // 24C64: two address bytes instead
  }
}

TEST(SpiInstruction, Bit8RidesOnlyWhereTheRowSaysSo) {
  const auto& parts = SpiParts();
  EXPECT_EQ(SpiInstruction(parts[2], 0x0FF, false), 0x03);  // 25C040
  EXPECT_EQ(SpiInstruction(parts[2], 0x1FF, false), 0x0B);
  EXPECT_EQ(SpiInstruction(parts[2], 0x100, true), 0x0A);
  EXPECT_EQ(SpiInstruction(parts[2], 0x0FF, true), 0x02);
  for (std::int32_t a = 0; a < parts[3].size; ++a) {  // 25C080
    ASSERT_EQ(SpiInstruction(parts[3], a, false), 0x03) << a;
    ASSERT_EQ(SpiInstruction(parts[3], a, true), 0x02) << a;
  }
  EXPECT_EQ(parts[3].addressWidth, 16);
}

}  // namespace
}  // namespace qmx
