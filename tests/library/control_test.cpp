// Clock, supply, switch and raw transfers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "tests/library/library_fixture.h"

namespace qmxlib {
namespace {

namespace sim = qmx::sim;

class QmxControlTest : public QmxLibraryTest {
 protected:
  void Open(int family) {
    sim->SetModel("QMX-71C");
    ASSERT_EQ(QmxOpen(family, 0, 50, 1), 1);
    Synced();
    sim->ClearLog();
  }
};

TEST_F(QmxControlTest, SetFreqEncodesValueAndUnit) {
  Open(1);
  EXPECT_EQ(QmxSetFreq(400000), 1);
  EXPECT_EQ(QmxSetFreq(2000000), 1);
  EXPECT_EQ(QmxSetFreq(999), 1);
  EXPECT_EQ(QmxSetFreq(1000), 1);
  const Log log = Synced();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_TRUE(Is(log[0], sim::SET_FREQ, {0x90, 0x01, 1}));
  EXPECT_TRUE(Is(log[1], sim::SET_FREQ, {2, 0, 2}));
  EXPECT_TRUE(Is(log[2], sim::SET_FREQ, {0xE7, 0x03, 0}));
  EXPECT_TRUE(Is(log[3], sim::SET_FREQ, {1, 0, 1}));
}

TEST_F(QmxControlTest, GetFreqScalesTheProgrammersAnswer) {
  Open(1);
  for (const std::int32_t hz : {100000, 10, 2000000, 400000}) {
    ASSERT_EQ(QmxSetFreq(hz), 1);
    EXPECT_EQ(QmxGetFreq(), hz);
  }
  sim->DropNextAnswer(sim::GET_FREQ);
  EXPECT_EQ(QmxGetFreq(), 0);
}

TEST_F(QmxControlTest, SupplyReadingConvertsAndZeroMeansNoValue) {
  Open(0);
  sim->SetVccReading(79);
  EXPECT_EQ(QmxVpp(), 330);
  sim->SetVccReading(52);
  EXPECT_EQ(QmxVpp(), 26100 / 52);
  sim->SetVccReading(0);
  EXPECT_EQ(QmxVpp(), 0);
  sim->DropNextAnswer(sim::GET_VOLTAGE);
  EXPECT_EQ(QmxVpp(), 0);
}

TEST_F(QmxControlTest, RawReadFlagsFrameTheTransferByFamily) {
  Open(2);
  std::uint8_t buf[256];
  ASSERT_EQ(QmxDRead(1 | 2, buf, 4), 1);
  Log log = Synced();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(Is(log[0], sim::DEV_CTRL, {3}));
  EXPECT_TRUE(Is(log[1], sim::READ_DATA, {4}));
  EXPECT_TRUE(Is(log[2], sim::DEV_CTRL, {2}));

  sim->ClearLog();
  ASSERT_EQ(QmxMode(0, 0, 50), 1);
  ASSERT_EQ(QmxDRead(8, buf, 16), 1);
  ASSERT_EQ(QmxDRead(1 | 2 | 4, buf, 256), 1);
  log = Synced();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_TRUE(Is(log[1], sim::READ_DATA, {0xF0}));
  EXPECT_TRUE(Is(log[2], sim::DEV_CTRL, {2}));  // Microwire begin, no restart
  EXPECT_TRUE(Is(log[3], sim::READ_DATA, {0}));  // 256 as one byte
  EXPECT_TRUE(Is(log[4], sim::DEV_CTRL, {3}));
}

TEST_F(QmxControlTest, RawWriteFlagsPickCodesAndFrame) {
  Open(0);
  const std::uint8_t d[3] = {0x11, 0x22, 0x33};
  ASSERT_EQ(QmxDWrite(1 | 8, d, 3), 1);
  ASSERT_EQ(QmxDWrite(4, d, 1), 1);  // restart is I2C only
  ASSERT_EQ(QmxMode(1, 0, 50), 1);
  ASSERT_EQ(QmxDWrite(1 | 2 | 4, nullptr, 0), 1);
  const Log log = Synced();
  ASSERT_EQ(log.size(), 7u);
  EXPECT_TRUE(Is(log[0], sim::DEV_CTRL, {2}));
  EXPECT_TRUE(Is(log[1], sim::WRITE_DONE, {0x11, 0x22, 0x33}));
  EXPECT_TRUE(Is(log[2], sim::WRITE_DATA, {0x11}));
  EXPECT_TRUE(Is(log[4], sim::DEV_CTRL, {4}));
  EXPECT_TRUE(Is(log[5], sim::DEV_CTRL, {6}));
  EXPECT_TRUE(Is(log[6], sim::DEV_CTRL, {5}));
}

TEST_F(QmxControlTest, RawBlocksUpTo256AreSentInOrderedChunks) {
  Open(2);
  for (const int n : {63, 64, 200, 256}) {
    for (const bool done : {false, true}) {
      SCOPED_TRACE(std::to_string(n) + (done ? " done" : " data"));
      sim->ClearLog();
      const Bytes data = RandomBytes(static_cast<std::size_t>(n), static_cast<unsigned>(n));
      ASSERT_EQ(QmxDWrite(done ? 8 : 0, data.data(), n), 1);
      const Log log = Synced();
      ASSERT_EQ(log.size(), static_cast<std::size_t>((n + 62) / 63));
      Bytes joined;
      for (std::size_t i = 0; i < log.size(); ++i) {
        const bool last = i + 1 == log.size();
        EXPECT_EQ(log[i].code, (last && done) ? sim::WRITE_DONE : sim::WRITE_DATA) << i;
        EXPECT_LE(log[i].args.size(), 63u);
        joined.insert(joined.end(), log[i].args.begin(), log[i].args.end());
      }
      EXPECT_EQ(joined, data);
    }
  }
}

TEST_F(QmxControlTest, RawTransferRefusalsSendNothing) {
  Open(1);
  std::uint8_t buf[300] = {};
  EXPECT_EQ(QmxDWrite(1 | 2, buf, 257), 0);
  EXPECT_EQ(QmxDRead(1 | 2, buf, 257), 0);
  EXPECT_EQ(QmxDWrite(1 | 2, buf, -1), 0);
  EXPECT_EQ(QmxDRead(1 | 2, buf, -1), 0);
  EXPECT_EQ(QmxDWrite(1 | 2, nullptr, 4), 0);
  EXPECT_EQ(QmxDRead(1 | 2, nullptr, 4), 0);
  EXPECT_TRUE(Synced().empty());
}

TEST_F(QmxControlTest, I2cRandomReadComposedFromRawCalls) {
  ASSERT_TRUE(sim->InsertPart("24C02"));
  const Bytes contents = RandomBytes(256, 7);
  ASSERT_TRUE(sim->SetPartContents(contents));
  sim->SetModel("QMX-71C");
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);  // with the part's supply on
  const std::uint8_t address[2] = {0xA0, 0x10};
  const std::uint8_t readAddress = 0xA1;
  Bytes buf(20, 0xCC);
  ASSERT_EQ(QmxDWrite(1, address, 2), 1);
  ASSERT_EQ(QmxDWrite(4, &readAddress, 1), 1);
  ASSERT_EQ(QmxDRead(8 | 2, buf.data(), 16), 1);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 16, contents.begin() + 0x10));
  EXPECT_EQ(buf[16], 0xCC);

  // A lost answer leaves the caller's bytes alone.
  sim->DropNextAnswer(sim::READ_DATA);
  Bytes untouched(4, 0x5A);
  EXPECT_EQ(QmxDRead(0, untouched.data(), 4), 1);
  EXPECT_EQ(untouched, Bytes(4, 0x5A));
}

// Above 127 bytes an I2C count byte would be read the other way (plain as
// negated): such reads go as plain pieces with the negated count last.
TEST_F(QmxControlTest, LongI2cRawReadsAreSplitAndKeepTheirBytes) {
  ASSERT_TRUE(sim->InsertPart("24C02"));
  const Bytes contents = RandomBytes(256, 8);
  ASSERT_TRUE(sim->SetPartContents(contents));
  sim->SetModel("QMX-71C");
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  const std::uint8_t address[2] = {0xA0, 0x00};
  const std::uint8_t readAddress = 0xA1;
  Synced();
  sim->ClearLog();
  Bytes buf(256, 0xCC);
  ASSERT_EQ(QmxDWrite(1, address, 2), 1);
  ASSERT_EQ(QmxDWrite(4, &readAddress, 1), 1);
  ASSERT_EQ(QmxDRead(8 | 2, buf.data(), 200), 1);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 200, contents.begin()));
  EXPECT_EQ(buf[200], 0xCC);
  std::vector<int> counts;
  for (const auto& r : CommandsOf(Synced(), sim::READ_DATA)) counts.push_back(r.args.at(0));
  EXPECT_EQ(counts, (std::vector<int>{127, 256 - 73}));

  sim->ClearLog();
  ASSERT_EQ(QmxDWrite(1, address, 2), 1);
  ASSERT_EQ(QmxDWrite(4, &readAddress, 1), 1);
  ASSERT_EQ(QmxDRead(0, buf.data(), 130), 1);
  ASSERT_EQ(QmxDRead(8 | 2, buf.data() + 130, 126), 1);
  EXPECT_EQ(buf, contents);
  counts.clear();
  for (const auto& r : CommandsOf(Synced(), sim::READ_DATA)) counts.push_back(r.args.at(0));
  EXPECT_EQ(counts, (std::vector<int>{127, 3, 256 - 126}));
}

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1;
}

bool WaitSwitch(int expected) {
  for (int i = 0; i < 200; ++i) {
    if (QmxGetSwitch() == expected) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

TEST_F(QmxControlTest, SwitchStateAndEventFollowTheReports) {
  Open(1);
  const int fd = ::eventfd(0, EFD_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(QmxSetEvent(fd), fd);
  EXPECT_EQ(QmxGetSwitch(), 0);
  sim->PressSwitch();
  ASSERT_TRUE(Readable(fd, 1000));
  std::uint64_t count = 0;
  ASSERT_EQ(::read(fd, &count, sizeof count), static_cast<ssize_t>(sizeof count));
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(WaitSwitch(1));
  sim->ReleaseSwitch();
  EXPECT_TRUE(WaitSwitch(0));
  EXPECT_FALSE(Readable(fd, 50));  // a release signals nothing

  EXPECT_EQ(QmxSetEvent(0), 0);
  sim->PressSwitch();
  EXPECT_TRUE(WaitSwitch(1));
  EXPECT_FALSE(Readable(fd, 100));
  // Closing keeps the last report.
  QmxClose();
  EXPECT_EQ(QmxGetSwitch(), 1);
  ::close(fd);
}

TEST_F(QmxControlTest, SwitchEventWorksThroughAPipe) {
  Open(1);
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  QmxSetEvent(p[1]);
  sim->PressSwitch();
  ASSERT_TRUE(Readable(p[0], 1000));
  std::uint8_t bytes[16];
  EXPECT_EQ(::read(p[0], bytes, sizeof bytes), 8);
  QmxSetEvent(0);
  ::close(p[0]);
  ::close(p[1]);
}

// A host that never drains its pipe, or closed its read end, costs it the
// notices and nothing else: the reader thread is not stuck on a full pipe
// (every later export would fail and QmxClose never return) and no SIGPIPE
// kills the host.
TEST_F(QmxControlTest, SwitchEventNeverBlocksOrSignalsItsHost) {
  Open(1);
  int full[2];
  ASSERT_EQ(::pipe(full), 0);
  const int flags = ::fcntl(full[1], F_GETFL);
  ASSERT_EQ(::fcntl(full[1], F_SETFL, flags | O_NONBLOCK), 0);
  const std::vector<char> junk(4096, 'x');
  while (::write(full[1], junk.data(), junk.size()) > 0) {
  }
  ASSERT_EQ(::fcntl(full[1], F_SETFL, flags), 0);  // blocking, as a careless host leaves it
  QmxSetEvent(full[1]);
  for (int i = 0; i < 3; ++i) {
    sim->PressSwitch();
    EXPECT_TRUE(WaitSwitch(1));
    sim->ReleaseSwitch();
    EXPECT_TRUE(WaitSwitch(0));
  }
  EXPECT_NE(QmxFrmVer(), 0);

  int closed[2];
  ASSERT_EQ(::pipe(closed), 0);
  ::close(closed[0]);
  QmxSetEvent(closed[1]);
  sim->PressSwitch();
  EXPECT_TRUE(WaitSwitch(1));
  sim->ReleaseSwitch();
  EXPECT_TRUE(WaitSwitch(0));
  EXPECT_NE(QmxFrmVer(), 0);
  sigset_t pending;
  ASSERT_EQ(::sigpending(&pending), 0);
  EXPECT_EQ(::sigismember(&pending, SIGPIPE), 0);

  QmxSetEvent(0);
  const auto t0 = std::chrono::steady_clock::now();
  QmxClose();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
  for (int fd : {full[0], full[1], closed[1]}) ::close(fd);
}

}  // namespace
}  // namespace qmxlib
