#include "sim/programmer.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "sim/frame_codec.h"
#include "sim/protocol.h"

namespace qmx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

Bytes Feed(Programmer& p, const Bytes& in) {
  Bytes out;
  p.Receive(in, out);
  return out;
}

// Frames written out by hand, so the encoder is not checked against itself.
TEST(Programmer, AnswersEachQuery) {
  Options o;
  o.model = "QMX-ISP";
  o.vccReading = 52;
  o.firmwareMajor = 0x01;
  o.firmwareMinor = 0x12;
  o.partPresent = false;
  o.detectedAddressBits = 9;
  Programmer p(o);
  EXPECT_EQ(Feed(p, {0x0F, 0x01, 0x04}), (Bytes{0x0F, 0x80, 0x01, 0x12, 0x04}));
  EXPECT_EQ(Feed(p, {0x0F, 0x16, 0x04}), (Bytes{0x0F, 0x89, 'Q', 'M', 'X', '-', 'I', 'S', 'P', 0x00, 0x04}));
  EXPECT_EQ(Feed(p, {0x0F, 0x1C, 0x04}), (Bytes{0x0F, 0x8C, 52, 0x04}));
  EXPECT_EQ(Feed(p, {0x0F, 0x0C, 0x04}), (Bytes{0x0F, 0x85, 0x00, 0x09, 0x04}));
  EXPECT_EQ(Feed(p, {0x0F, 0x15, 0x04}), (Bytes{0x0F, 0x86, 0x00, 0x00, 0x04}));
}

TEST(Programmer, NameWithoutTerminatorAndLaterChanges) {
  Options o;
  o.nameZeroTerminated = false;
  Programmer p(o);
  EXPECT_EQ(Feed(p, {0x0F, 0x16, 0x04}), (Bytes{0x0F, 0x89, 'Q', 'M', 'X', '-', '7', '1', 'A', 0x04}));
  p.SetModel("B");
  p.SetVccReading(0x0F);  // must come out stuffed
  EXPECT_EQ(Feed(p, {0x0F, 0x16, 0x04, 0x0F, 0x1C, 0x04}),
            (Bytes{0x0F, 0x89, 'B', 0x04, 0x0F, 0x8C, 0x05, 0x0F, 0x04}));
}

TEST(Programmer, FrequencyIsEchoedAsLastSet) {
  Programmer p;
  // Before any SET_FREQ the firmware runs its bus at 100 kHz and says so.
  EXPECT_EQ(Feed(p, {0x0F, 0x0F, 0x04}), (Bytes{0x0F, 0x87, 0x64, 0x00, 0x01, 0x04}));
  EXPECT_TRUE(Feed(p, {0x0F, 0x0E, 0x90, 0x01, 0x01, 0x04}).empty());
  // The command code 15 itself is 0x0F and travels escaped.
  EXPECT_EQ(Feed(p, {0x0F, 0x05, 0x0F, 0x04}), (Bytes{0x0F, 0x87, 0x90, 0x01, 0x01, 0x04}));
  EXPECT_EQ(p.State().freqLow, 0x90);
  EXPECT_EQ(p.State().freqUnit, 1);
}

TEST(Programmer, UnknownCommandLatchesInvalidCommandUntilRead) {
  for (std::uint8_t code : {0, 2, 4, 5, 6, 8, 9, 16, 18, 19, 20, 23, 24, 25, 27, 29, 0x7F, 0x84}) {
    Programmer p;
    Bytes frame = {0x0F};
    if (code == 0x04 || code == 0x05 || code == 0x0F) frame.push_back(0x05);
    frame.insert(frame.end(), {code, 0x04});
    EXPECT_TRUE(Feed(p, frame).empty()) << int(code);
    EXPECT_EQ(Feed(p, {0x0F, 0x15, 0x04}), (Bytes{0x0F, 0x86, 0x00, 0x01, 0x04})) << int(code);
    EXPECT_EQ(Feed(p, {0x0F, 0x15, 0x04}), (Bytes{0x0F, 0x86, 0x00, 0x00, 0x04})) << int(code);
  }
}

TEST(Programmer, MissingArgumentsChangeNothingButTheError) {
  Programmer p;
  Feed(p, {0x0F, 0x03, 0x01, 0x00, 0x04});  // SET_MODE with two of three bytes
  Feed(p, {0x0F, 0x0E, 0x90, 0x01, 0x04});
  EXPECT_FALSE(p.State().modeSet);
  EXPECT_EQ(p.State().freqLow, 0x64);
  EXPECT_EQ(p.State().lastError, INVALID_CMD_ERROR);
  Feed(p, {0x0F, 0x15, 0x04});
  EXPECT_TRUE(Feed(p, {0x0F, 0x0B, 0x04}).empty());  // READ_DATA without a count
  EXPECT_EQ(p.State().lastError, INVALID_CMD_ERROR);
}

TEST(Programmer, StateCommandsUpdateTheModel) {
  Programmer p;
  const Bytes in = {0x0F, 0x03, 0x00, 0x01, 0x0A, 0x04,  // SET_MODE Microwire Series90 10 ms
                    0x0F, 0x1A, 0x00, 0x04, 0x0F, 0x1A, 0x00, 0x04,
                    0x0F, 0x07, 0x02, 0x04};
  EXPECT_TRUE(Feed(p, in).empty());
  const ProgrammerState& s = p.State();
  EXPECT_TRUE(s.modeSet);
  EXPECT_EQ(s.variant, 1);
  EXPECT_EQ(s.maxWriteTimeMs, 10);
  EXPECT_EQ(s.restarts, 2);
  EXPECT_EQ(s.gpio, 2);
  EXPECT_EQ(s.lastError, ERROR_NONE);
}

TEST(Programmer, InvalidModeIsRefused) {
  Programmer p;
  Feed(p, {0x0F, 0x03, 0x01, 0x00, 0x32, 0x04});
  Feed(p, {0x0F, 0x03, 0x03, 0x00, 0x32, 0x04});
  EXPECT_EQ(p.State().family, kFamilyI2c);
  EXPECT_EQ(p.State().lastError, INVALID_MODE_ERROR);
}

TEST(Programmer, DevCtrlDrivesLinesSupplyAndLed) {
  Programmer p;
  auto ctrl = [&](std::uint8_t sub) {
    Bytes f = {0x0F, 0x0D};
    if (sub == 0x04 || sub == 0x05 || sub == 0x0F) f.push_back(0x05);
    f.insert(f.end(), {sub, 0x04});
    EXPECT_TRUE(Feed(p, f).empty());
  };
  const ProgrammerState& s = p.State();
  EXPECT_EQ(s.led, kCtrlLedOn);
  ctrl(1), ctrl(7), ctrl(2), ctrl(4), ctrl(15);
  EXPECT_TRUE(s.initSeen && s.supplyOn && s.chipSelectHigh && s.i2cStarted);
  EXPECT_EQ(s.led, kCtrlLedError);
  ctrl(5);
  EXPECT_FALSE(s.i2cStarted);
  ctrl(6);
  EXPECT_TRUE(s.i2cStarted);
  ctrl(3), ctrl(8), ctrl(12);
  EXPECT_FALSE(s.chipSelectHigh || s.supplyOn);
  EXPECT_EQ(s.led, kCtrlLedOff);
  EXPECT_EQ(s.lastError, ERROR_NONE);
  for (std::uint8_t bad : {0, 9, 10, 11, 16, 0xFF}) {
    ctrl(bad);
    EXPECT_EQ(s.lastError, INVALID_DEV_CTRL_ERROR) << int(bad);
    Feed(p, {0x0F, 0x15, 0x04});
  }
  EXPECT_EQ(s.led, kCtrlLedOff);
}

TEST(Programmer, LogsEveryDecodedFrameInOrder) {
  Programmer p;
  std::vector<std::uint8_t> observed;
  p.SetCommandObserver([&](const LoggedCommand& c) { observed.push_back(c.code); });
  Feed(p, {0x0F, 0x16, 0x04, 0x0F, 0x1D, 0x04, 0x0F, 0x0A, 0x05, 0x05, 0x84, 0x04});
  ASSERT_EQ(p.Log().size(), 3U);
  EXPECT_EQ(p.Log()[0].code, GET_NAME);
  EXPECT_EQ(p.Log()[1].code, 0x1D);
  EXPECT_EQ(p.Log()[2].args, (Bytes{0x05, 0x84}));
  EXPECT_EQ(observed, (Bytes{GET_NAME, 0x1D, WRITE_DATA}));
  p.ClearLog();
  EXPECT_TRUE(p.Log().empty());
}

TEST(Programmer, SwitchReportFrames) {
  Programmer p;
  EXPECT_EQ(p.SwitchReport(true), (Bytes{0x0F, 0x8B, 0x01, 0x04}));
  EXPECT_TRUE(p.State().switchPressed);
  EXPECT_EQ(p.SwitchReport(false), (Bytes{0x0F, 0x8B, 0x00, 0x04}));
  EXPECT_FALSE(p.State().switchPressed);
}

TEST(ReadCount, I2cUsesTwosComplementForLastRead) {
  EXPECT_EQ(DecodeReadCount(kFamilyI2c, 0xF0).count, 16);
  EXPECT_TRUE(DecodeReadCount(kFamilyI2c, 0xF0).i2cLastRead);
  EXPECT_EQ(DecodeReadCount(kFamilyI2c, 0x80).count, 128);
  EXPECT_EQ(DecodeReadCount(kFamilyI2c, 0x7F).count, 127);
  EXPECT_FALSE(DecodeReadCount(kFamilyI2c, 0x7F).i2cLastRead);
  EXPECT_EQ(DecodeReadCount(kFamilyI2c, 0x00).count, 256);
  EXPECT_EQ(DecodeReadCount(kFamilyMicrowire, 0xF0).count, 0xF0);
  EXPECT_FALSE(DecodeReadCount(kFamilySpi, 0xF0).i2cLastRead);
  EXPECT_EQ(DecodeReadCount(kFamilySpi, 0x00).count, 256);
}

// Records the bus primitives and shifts in a counting pattern.
class FakeBus : public BusDevice {
 public:
  void OnControl(std::uint8_t sub) override { events.push_back("ctrl " + std::to_string(sub)); }
  void OnModeChanged(std::uint8_t f, std::uint8_t v) override {
    events.push_back("mode " + std::to_string(f) + "/" + std::to_string(v));
  }
  void OnGpio(std::uint8_t levels) override { events.push_back("gpio " + std::to_string(levels)); }
  void OnShiftOut(std::span<const std::uint8_t> bytes, bool done) override {
    shiftedOut.emplace_back(bytes.begin(), bytes.end());
    events.push_back(done ? "done" : "data");
  }
  std::vector<std::uint8_t> OnShiftIn(int count, bool last) override {
    reads.push_back({count, last});
    std::vector<std::uint8_t> out;
    for (int i = 0; i < count && i < shortBy; ++i) out.push_back(static_cast<std::uint8_t>(0xC0 + i));
    return out;
  }
  std::uint8_t TakeError() override { return std::exchange(pendingError, 0); }

  std::vector<std::string> events;
  std::vector<Bytes> shiftedOut;
  std::vector<ReadCount> reads;
  int shortBy = 1000;  // shift in at most this many bytes
  std::uint8_t pendingError = 0;
};

TEST(Programmer, ForwardsBusPrimitivesToDevice) {
  Programmer p;
  auto bus = std::make_shared<FakeBus>();
  p.AttachDevice(bus);
  Feed(p, {0x0F, 0x03, 0x00, 0x00, 0x32, 0x04, 0x0F, 0x07, 0x03, 0x04, 0x0F, 0x0D, 0x02, 0x04,
           0x0F, 0x0A, 0x01, 0x86, 0x04, 0x0F, 0x11, 0x05, 0x0F, 0x05, 0x04, 0x04,
           0x0F, 0x0D, 0x05, 0x0F, 0x04});
  EXPECT_EQ(bus->events, (std::vector<std::string>{"mode 0/0", "gpio 3", "ctrl 2", "data", "done"}));
  EXPECT_EQ(bus->shiftedOut, (std::vector<Bytes>{{0x01, 0x86}, {0x0F, 0x04}}));
}

TEST(Programmer, ReadDataAnswersWithShiftedInBytes) {
  Programmer p;
  auto bus = std::make_shared<FakeBus>();
  p.AttachDevice(bus);
  EXPECT_EQ(Feed(p, {0x0F, 0x0B, 0x02, 0x04}), (Bytes{0x0F, 0x84, 0xC0, 0xC1, 0x04}));
  Feed(p, {0x0F, 0x03, 0x01, 0x00, 0x32, 0x04});
  const Bytes answer = Feed(p, {0x0F, 0x0B, 0xF0, 0x04});
  ASSERT_EQ(answer.size(), 16U + 3U);
  EXPECT_EQ(answer[2], 0xC0);
  EXPECT_EQ(answer[17], 0xCF);
  Feed(p, {0x0F, 0x0B, 0x03, 0x04});
  ASSERT_EQ(bus->reads.size(), 3U);
  EXPECT_FALSE(bus->reads[0].i2cLastRead);
  EXPECT_EQ(bus->reads[1].count, 16);
  EXPECT_TRUE(bus->reads[1].i2cLastRead);
  EXPECT_EQ(bus->reads[2].count, 3);
  EXPECT_FALSE(bus->reads[2].i2cLastRead);
}

TEST(Programmer, ShortDeviceReadIsPaddedAndFullBlockFits) {
  Programmer p;
  auto bus = std::make_shared<FakeBus>();
  bus->shortBy = 1;
  p.AttachDevice(bus);
  EXPECT_EQ(Feed(p, {0x0F, 0x0B, 0x03, 0x04}), (Bytes{0x0F, 0x84, 0xC0, 0xFF, 0xFF, 0x04}));
  p.AttachDevice(nullptr);  // nothing attached: the bus floats high
  const Bytes answer = Feed(p, {0x0F, 0x0B, 0x00, 0x04});
  ASSERT_EQ(answer.size(), 256U + 3U);
  EXPECT_EQ(answer[200], 0xFF);
}

// A bad contact flips one bit in each byte it hits, the same ones for the
// same seed, and nothing once it is cleared.
TEST(Programmer, FlakyContactFlipsBitsOfReadDataOnly) {
  auto readWith = [](double rate, std::uint32_t seed) {
    Programmer p;
    p.AttachDevice(std::make_shared<FakeBus>());
    p.SetFlakyContact(rate, seed);
    return Feed(p, {0x0F, 0x0B, 0x10, 0x04});
  };
  const Bytes flipped = readWith(1.0, 7);
  ASSERT_EQ(flipped.size(), 16U + 3U);
  for (int i = 0; i < 16; ++i) {
    const unsigned diff = flipped[2 + i] ^ (0xC0 + i);
    EXPECT_EQ(std::popcount(diff), 1) << i;
  }
  EXPECT_EQ(readWith(1.0, 7), flipped);
  EXPECT_NE(readWith(1.0, 8), flipped);
  const Bytes clean = readWith(0.0, 7);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(clean[2 + i], 0xC0 + i);
}

TEST(Programmer, DeviceErrorIsLatched) {
  Programmer p;
  auto bus = std::make_shared<FakeBus>();
  p.AttachDevice(bus);
  bus->pendingError = NO_ACK_ERROR;
  Feed(p, {0x0F, 0x11, 0xA0, 0x04});
  // The error code 5 is the escape byte and travels stuffed.
  EXPECT_EQ(Feed(p, {0x0F, 0x15, 0x04}), (Bytes{0x0F, 0x86, 0x00, 0x05, NO_ACK_ERROR, 0x04}));
  Feed(p, {0x0F, 0x0D, 0x08, 0x04});  // a clean primitive leaves no error behind
  EXPECT_EQ(p.State().lastError, ERROR_NONE);
}

// Answers, with their due times, to commands that arrived together at `at`.
std::vector<Answer> ArrivingAt(Programmer& p, Clock::time_point at, const std::vector<Bytes>& payloads) {
  Bytes bytes;
  for (const Bytes& payload : payloads) {
    const Bytes frame = EncodeFrame(payload);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
  }
  std::vector<Answer> answers;
  p.Receive(bytes, answers, at);
  return answers;
}

// Real timing: 8 bits a byte on Microwire and SPI, 9 on I2C, a bit time per
// line edge, at 100 kHz until SET_FREQ; a command starts when the one before
// has ended, and its answer leaves 1 ms after it ends.
TEST(ProgrammerTiming, RealTimingRunsCommandsInOrderAtTheSetClock) {
  Options o;
  o.timing = Timing::kReal;
  Programmer p(o);
  const Clock::time_point t0 = Clock::now();
  std::vector<Answer> a = ArrivingAt(p, t0, {{READ_DATA, 10}});
  ASSERT_EQ(a.size(), 1U);
  EXPECT_EQ(a[0].due, t0 + microseconds(800 + 1000));
  a = ArrivingAt(p, t0, {{SET_FREQ, 10, 0, 1}, {WRITE_DATA, 1, 2, 3, 4, 5}, {GET_FREQ}});
  ASSERT_EQ(a.size(), 1U);
  EXPECT_EQ(a[0].frame, (Bytes{0x0F, 0x87, 10, 0, 1, 0x04}));
  EXPECT_EQ(a[0].due, t0 + microseconds(800 + 4000 + 1000));
  EXPECT_EQ(p.BusClockHz(), 10000U);
  // Much later: the firmware was idle. 0 Hz keeps 10 kHz; supply switching takes no bus time.
  const Clock::time_point t1 = t0 + std::chrono::seconds(1);
  a = ArrivingAt(p, t1, {{SET_MODE, kFamilyI2c, 0, 50}, {SET_FREQ, 0, 0, 0}, {DEV_CTRL, kCtrlI2cStart},
                         {DEV_CTRL, kCtrlSupplyOn}, {READ_DATA, 0xFE}, {SET_FREQ, 2, 0, 2}, {READ_DATA, 2}});
  ASSERT_EQ(a.size(), 2U);
  EXPECT_EQ(a[0].due, t1 + microseconds(100 + 1800 + 1000));
  EXPECT_EQ(a[1].due, t1 + microseconds(100 + 1800 + 9 + 1000));
  EXPECT_EQ(p.Account().busTime, microseconds(800 + 4000 + 100 + 1800 + 9));
  EXPECT_EQ(p.Account().answers, 4);
  p.ResetAccount();
  EXPECT_EQ(p.Account().busTime, microseconds(0));
  EXPECT_EQ(p.Account().answers, 0);
}

TEST(ProgrammerTiming, InstantTimingTakesNoBusTimeAndLatencyCanBeSet) {
  Options o;
  Programmer instant(o);
  const Clock::time_point t0 = Clock::now();
  std::vector<Answer> a = ArrivingAt(instant, t0, {{READ_DATA, 0}, {GET_VERSION}});
  ASSERT_EQ(a.size(), 2U);
  EXPECT_EQ(a[1].due, t0);
  EXPECT_EQ(instant.Account().busTime, microseconds(0));
  EXPECT_EQ(instant.Account().answers, 2);
  o.timing = Timing::kReal;
  o.answerLatency = microseconds(0);
  EXPECT_EQ(WriteCycle(o), microseconds(5000));
  Programmer real(o);
  a = ArrivingAt(real, t0, {{READ_DATA, 1}});
  ASSERT_EQ(a.size(), 1U);
  EXPECT_EQ(a[0].due, t0 + microseconds(80));
}

TEST(CommandName, NamesCodesAndFallsBackToHex) {
  EXPECT_EQ(CommandName(GET_NAME), "GET_NAME");
  EXPECT_EQ(CommandName(SET_MODE), "SET_MODE");
  EXPECT_EQ(CommandName(GET_VOLTAGE), "GET_VOLTAGE");
  EXPECT_EQ(CommandName(27), "CMD_1B");
  EXPECT_EQ(CommandName(0xA0), "CMD_A0");
}

}  // namespace
}  // namespace qmx::sim
