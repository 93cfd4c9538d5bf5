// Connection behaviour that needs a scripted port rather than a real one.
#include "core/link/connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "core/catalogue/catalogue.h"
#include "core/memory/memory_ops.h"
#include "core/platform/wake_event.h"
#include "image/memory_image.h"

namespace qmx {
namespace {

using Clock = std::chrono::steady_clock;

// A port that accepts every write and reports a draining output queue.
class ScriptedPort final : public SerialBackend {
 public:
  explicit ScriptedPort(std::atomic<int>& outq, std::vector<std::uint8_t>& written)
      : outq_(outq), written_(written) {}
  bool Open(const std::string&) override { return open_ = true; }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  void ApplyLineSettings(const LineSettings&) override {}
  void SetTimeouts(int) override {}
  int Write(const std::uint8_t* data, int count) override {
    if (!open_) return -1;
    // A device that stops taking data: short writes up to the limit, then none.
    if (acceptLimit >= 0) count = std::min<int>(count, std::max<int>(0, acceptLimit - static_cast<int>(written_.size())));
    written_.insert(written_.end(), data, data + count);
    return count;
  }
  int acceptLimit = -1;
  bool takesData = true;
  int Read(std::uint8_t*, int) override { return -1; }
  bool SetDtr(bool) override { return false; }
  bool SetRts(bool) override { return false; }
  int QueuedBytes() override { return 0; }
  int OutputQueued() override {
    const int left = outq_.load();
    if (left > 0 && takesData) outq_ = left - 1;  // the device takes a little each look
    return left;
  }
  ReceiveWait WaitReceive(WakeEvent& stop, int*) override {
    stop.Wait(-1);
    return ReceiveWait::Stopped;
  }
  bool HungUp() const override { return false; }

 private:
  bool open_ = false;
  std::atomic<int>& outq_;
  std::vector<std::uint8_t>& written_;
};

TEST(Connection, AnswerWindowStartsOnceTheDriverHasSentEverything) {
  std::atomic<int> outq{0};
  std::vector<std::uint8_t> written;
  Connection link(std::make_unique<ScriptedPort>(outq, written));
  ASSERT_TRUE(link.OpenPort("scripted"));
  outq = 40;  // 40 looks, about 40 ms of draining
  link.Expect(RESP_VERSION);
  const auto t0 = Clock::now();
  EXPECT_FALSE(link.WaitResponse(RESP_VERSION, 50));
  const auto took = Clock::now() - t0;
  EXPECT_EQ(outq.load(), 0);
  EXPECT_GE(took, std::chrono::milliseconds(85));  // the drain, then the full window
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  link.Disconnect();
}

TEST(Connection, DrainGivesUpAtTheWriteTimeout) {
  std::atomic<int> outq{0};
  std::vector<std::uint8_t> written;
  auto port = std::make_unique<ScriptedPort>(outq, written);
  port->takesData = false;  // a device that never takes the data
  Connection link(std::move(port));
  link.Channel().timeoutMs = 100;
  ASSERT_TRUE(link.OpenPort("scripted"));
  outq = 1000000;
  const auto t0 = Clock::now();
  EXPECT_FALSE(link.WaitResponse(RESP_VERSION, 10));
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1500));
  link.Disconnect();
}

TEST(Connection, DrainWaitsForASlowDeviceThatKeepsTakingData) {
  std::atomic<int> outq{0};
  std::vector<std::uint8_t> written;
  Connection link(std::make_unique<ScriptedPort>(outq, written));
  link.Channel().timeoutMs = 20;
  ASSERT_TRUE(link.OpenPort("scripted"));
  outq = 200;  // about 200 ms of draining, ten times the time-out
  EXPECT_FALSE(link.WaitResponse(RESP_VERSION, 1));
  EXPECT_EQ(outq.load(), 0);
  link.Disconnect();
}

TEST(Connection, BatchKeepsFramesWholeAndInOrder) {
  std::atomic<int> outq{0};
  std::vector<std::uint8_t> written;
  Connection link(std::make_unique<ScriptedPort>(outq, written));
  ASSERT_TRUE(link.OpenPort("scripted"));
  {
    SendBatch batch(link);
    link.SendCommand2(DEV_CTRL, DEVCTRL_I2C_START);
    link.SendCommand(GET_NAME);
    EXPECT_EQ(written.size(), 1u);  // only the open's frame end
  }
  // The lone frame end of the open comes first: it closes a frame that an
  // earlier connection may have left cut in the programmer.
  EXPECT_EQ(written, (std::vector<std::uint8_t>{0x04, 0x0F, 0x0D, 0x05, 0x04, 0x04, 0x0F, 0x16, 0x04}));
  link.Disconnect();
}

// A device that stops taking data ends the connection instead of being fed
// frames it would read as the rest of a cut one.
TEST(Connection, ShortOrEmptyWriteIsAFailedSend) {
  for (const int limit : {1, 4}) {
    std::atomic<int> outq{0};
    std::vector<std::uint8_t> written;
    auto port = std::make_unique<ScriptedPort>(outq, written);
    port->acceptLimit = limit;
    Connection link(std::move(port));
    int hooks = 0;
    link.SetCloseHook([&] {
      ++hooks;
      link.Disconnect();
    });
    ASSERT_TRUE(link.OpenPort("scripted"));
    EXPECT_FALSE(link.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_ON)) << "limit " << limit;
    EXPECT_EQ(hooks, 1);  // any cut write ends the connection at once
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.SendCommand(GET_NAME));
    // Nothing followed the cut frame (the first byte is the open's frame end).
    EXPECT_EQ(written.size(), static_cast<std::size_t>(limit));
  }
}

// A streamed pass has no answers to miss, so the lost frames are the only
// sign that the part did not get the data.
TEST(Connection, WritePassThatCouldNotBeSentWholeFails) {
  std::atomic<int> outq{0};
  std::vector<std::uint8_t> written;
  auto port = std::make_unique<ScriptedPort>(outq, written);
  ScriptedPort* raw = port.get();
  Connection link(std::move(port));
  ASSERT_TRUE(link.OpenPort("scripted"));
  const BitReversal reverse;
  const std::vector<std::uint8_t> data(8192, 0x5A);
  EXPECT_EQ(LibraryWriteSide(link, reverse, kFamilyI2c, kWrite, 7, 0, data.data(), 8192, 32), 1);
  const std::size_t whole = written.size();
  written.clear();
  raw->acceptLimit = static_cast<int>(whole / 2);
  EXPECT_EQ(LibraryWriteSide(link, reverse, kFamilyI2c, kWrite, 7, 0, data.data(), 8192, 32), 0);
  // The pass stopped at the cut and closed the link: nothing after it.
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(written.size(), whole / 2);
  EXPECT_EQ(LibraryWriteSide(link, reverse, kFamilyI2c, kErase, 7, 0, nullptr, 8192, 32), 0);
  link.Disconnect();
}

// The programmer's pace: bus bytes at the set clock and each write's maximum
// write time are owed until an answer to a later command confirms them.
TEST(PaceAccount, OwesBusTimeAndWriteCyclesUntilConfirmed) {
  using std::chrono::microseconds;
  const auto frame = PaceAccount::kFrameHandling;
  PaceAccount pace;
  pace.Reset();
  const std::uint8_t mode[] = {SET_MODE, kFamilyI2c, 0, 10};
  const std::uint8_t freq[] = {SET_FREQ, 0x90, 0x01, 1};  // 400 kHz
  pace.OnSent(mode, 4);
  pace.OnSent(freq, 4);
  EXPECT_EQ(pace.ClockHz(), 400000u);
  EXPECT_EQ(pace.WriteTimeMs(), 10);
  const std::int64_t before = pace.Mark();
  std::uint8_t page[33] = {WRITE_DONE};
  for (int i = 0; i < 3; ++i) pace.OnSent(page, 33);
  // 32 bytes of 9 bits at 400 kHz is 720 us, and up to 10 ms of writing, each.
  EXPECT_EQ(pace.Outstanding(), 2 * frame + 3 * (frame + microseconds(720 + 10000)));
  pace.Confirm(before);
  EXPECT_EQ(pace.Outstanding(), 3 * (frame + microseconds(10720)));
  // An I2C read count travels negated: 0xF0 is 16 bytes, not 240.
  const std::uint8_t read[] = {READ_DATA, 0xF0};
  const std::int64_t beforeRead = pace.Mark();
  pace.OnSent(read, 2);
  pace.Confirm(pace.Mark());
  EXPECT_EQ(pace.Outstanding(), microseconds(0));
  pace.OnSent(read, 2);
  EXPECT_EQ(pace.Outstanding(), frame + microseconds(360));
  EXPECT_GT(pace.Mark(), beforeRead);
  // Microwire bytes are 8 bits; 0 Hz is no clock and keeps the last one.
  const std::uint8_t microwire[] = {SET_MODE, kFamilyMicrowire, 0, 5};
  const std::uint8_t zero[] = {SET_FREQ, 0, 0, 0};
  pace.OnSent(zero, 4);
  EXPECT_EQ(pace.ClockHz(), 400000u);
  pace.Reset();
  EXPECT_EQ(pace.ClockHz(), PaceAccount::kDefaultClockHz);
  pace.OnSent(microwire, 4);
  const std::uint8_t unit[] = {WRITE_DONE, 0x01, 0x40, 0xAB, 0xCD};
  pace.Confirm(pace.Mark());
  pace.OnSent(unit, 5);
  EXPECT_EQ(pace.Outstanding(), frame + microseconds(320 + 5000));  // 4 bytes at 100 kHz
}

}  // namespace
}  // namespace qmx
