#include "core/protocol/encoding.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/protocol/commands.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(const Bytes& payload) { return EncodeFrame(payload); }

TEST(EncodeFrame, PlainCommandsGoOutUnescaped) {
  EXPECT_EQ(Frame({GET_NAME}), (Bytes{0x0F, 0x16, 0x04}));
  EXPECT_EQ(Frame({SET_RESTART, 0}), (Bytes{0x0F, 0x1A, 0x00, 0x04}));
  EXPECT_EQ(Frame({SET_MODE, 1, 0, 50}), (Bytes{0x0F, 0x03, 0x01, 0x00, 0x32, 0x04}));
}

TEST(EncodeFrame, EscapesTheThreeFrameBytes) {
  EXPECT_EQ(Frame({DEV_CTRL, DEVCTRL_I2C_START}), (Bytes{0x0F, 0x0D, 0x05, 0x04, 0x04}));
  EXPECT_EQ(Frame({DEV_CTRL, DEVCTRL_I2C_STOP}), (Bytes{0x0F, 0x0D, 0x05, 0x05, 0x04}));
  EXPECT_EQ(Frame({DEV_CTRL, DEVCTRL_LED_ERROR}), (Bytes{0x0F, 0x0D, 0x05, 0x0F, 0x04}));
  // The command code itself is escaped too when it collides.
  EXPECT_EQ(Frame({SET_GPIO, 0x0F}), (Bytes{0x0F, 0x05, 0x05, 0x05, 0x0F, 0x04}));
  EXPECT_EQ(Frame({WRITE_DATA, 0x04, 0x05}), (Bytes{0x0F, 0x0A, 0x05, 0x04, 0x05, 0x05, 0x04}));
}

TEST(EncodeFrame, WorstCasePayloadDoublesInLength) {
  const Bytes payload(64, 0x05);
  const Bytes frame = Frame(payload);
  ASSERT_EQ(frame.size(), 130u);
  EXPECT_EQ(frame.front(), 0x0F);
  EXPECT_EQ(frame.back(), 0x04);
  for (std::size_t i = 1; i + 1 < frame.size(); ++i) EXPECT_EQ(frame[i], 0x05) << i;
}

TEST(Frequency, EncodesWithTheLargestUnitThatFits) {
  auto f = EncodeFrequency(400000);
  EXPECT_EQ((Bytes{SET_FREQ, f.valueLow, f.valueHigh, f.unit}), (Bytes{0x0E, 0x90, 0x01, 0x01}));
  EXPECT_EQ(Frame({SET_FREQ, f.valueLow, f.valueHigh, f.unit}), (Bytes{0x0F, 0x0E, 0x90, 0x01, 0x01, 0x04}));
  f = EncodeFrequency(2000);
  EXPECT_EQ((Bytes{f.valueLow, f.valueHigh, f.unit}), (Bytes{0x02, 0x00, 0x01}));
  f = EncodeFrequency(999);
  EXPECT_EQ((Bytes{f.valueLow, f.valueHigh, f.unit}), (Bytes{0xE7, 0x03, 0x00}));
  f = EncodeFrequency(1999999);  // truncates to 1 MHz
  EXPECT_EQ((Bytes{f.valueLow, f.valueHigh, f.unit}), (Bytes{0x01, 0x00, 0x02}));
  f = EncodeFrequency(999999);  // 999 kHz, not rounded up
  EXPECT_EQ((Bytes{f.valueLow, f.valueHigh, f.unit}), (Bytes{0xE7, 0x03, 0x01}));
}

TEST(Frequency, DecodesAnswerValues) {
  EXPECT_EQ(DecodeFrequency(0x90, 0x01, 1), 400000u);
  EXPECT_EQ(DecodeFrequency(0xE8, 0x03, 0), 1000u);
  EXPECT_EQ(DecodeFrequency(0x02, 0x00, 2), 2000000u);
  EXPECT_EQ(DecodeFrequency(0x10, 0x00, 7), 16u);  // unknown unit: value as it is
  // Encoding then decoding gives the frequency back, truncated to its unit.
  for (std::uint32_t hz : {1u, 500u, 2000u, 10000u, 100000u, 400000u, 8000000u}) {
    const auto a = EncodeFrequency(hz);
    EXPECT_EQ(DecodeFrequency(a.valueLow, a.valueHigh, a.unit), hz);
  }
}

TEST(Supply, DividesAndTruncates) {
  EXPECT_EQ(SupplyCentivolts(79), 330);
  EXPECT_EQ(SupplyCentivolts(52), 501);
  EXPECT_EQ(SupplyCentivolts(80), 326);
  EXPECT_EQ(SupplyCentivolts(255), 102);
  EXPECT_EQ(SupplyCentivolts(1), 26100);
  EXPECT_EQ(SupplyCentivolts(0), 0);  // no meaning, no division
}

TEST(Version, NumberAndText) {
  EXPECT_EQ(VersionText(1, 0), "1.00");
  EXPECT_EQ(VersionText(1, 0x12), "1.12");
  EXPECT_EQ(VersionText(0x1A, 5), "1A.05");
  EXPECT_EQ(VersionNumber(1, 0x10), 272);
  EXPECT_EQ(VersionNumber(1, 0), 256);
}

TEST(CommandName, NamesEveryCodeOfTheSet) {
  EXPECT_STREQ(CommandName(GET_VERSION), "GET_VERSION");
  EXPECT_STREQ(CommandName(SET_RESTART), "SET_RESTART");
  EXPECT_STREQ(CommandName(GET_VOLTAGE), "GET_VOLTAGE");
  EXPECT_STREQ(CommandName(27), "?");
  EXPECT_STREQ(CommandName(200), "?");
}

}  // namespace
}  // namespace qmx
