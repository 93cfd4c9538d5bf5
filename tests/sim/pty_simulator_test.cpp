#include "sim/pty_simulator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "host_port.h"
#include "sim/frame_codec.h"
#include "sim/protocol.h"

namespace qmx::sim {
namespace {

using test::Bytes;
using test::HostPort;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const Bytes kGetName = {0x0F, 0x16, 0x04};
const Bytes kGetVoltage = {0x0F, 0x1C, 0x04};
const Bytes kNameAnswer = {0x0F, 0x89, 'Q', 'M', 'X', '-', '7', '1', 'A', 0x00, 0x04};
const Bytes kVoltageAnswer = {0x0F, 0x8C, 79, 0x04};

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool PathExists(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0;
}

class PtySimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Start());
    host = std::make_unique<HostPort>(sim.PortPath());
    ASSERT_TRUE(host->IsOpen());
  }
  PtySimulator sim;
  std::unique_ptr<HostPort> host;
};

TEST_F(PtySimulatorTest, AnswersGetNameWithoutEchoAndLogsIt) {
  EXPECT_EQ(sim.PortPath().rfind("/dev/pts/", 0), 0U);
  ASSERT_TRUE(host->Write(kGetName));
  EXPECT_EQ(host->Read(kNameAnswer.size()), kNameAnswer);
  ASSERT_TRUE(sim.WaitForLog(1, milliseconds(500)));
  EXPECT_EQ(sim.Log()[0].code, GET_NAME);
  EXPECT_FALSE(sim.WaitForLog(2, milliseconds(10)));
}

TEST_F(PtySimulatorTest, CommandSplitAcrossWritesIsDecodedOnce) {
  ASSERT_TRUE(host->Write({0x0F, 0x03, 0x01}));
  ASSERT_TRUE(host->Write({0x00, 0x32, 0x04}));
  ASSERT_TRUE(sim.WaitForLog(1, milliseconds(500)));
  EXPECT_EQ(sim.Log()[0].args, (Bytes{0x01, 0x00, 0x32}));
  EXPECT_EQ(sim.State().family, kFamilyI2c);
  sim.ClearLog();
  EXPECT_TRUE(sim.Log().empty());
}

TEST_F(PtySimulatorTest, DroppedAnswerIsSkippedForTheGivenTimesOnly) {
  sim.DropNextAnswer(GET_NAME, 2);
  ASSERT_TRUE(host->Write(Concat(Concat(kGetName, kGetName), kGetVoltage)));
  EXPECT_EQ(host->Read(kVoltageAnswer.size()), kVoltageAnswer);
  ASSERT_TRUE(host->Write(kGetName));
  EXPECT_EQ(host->Read(kNameAnswer.size()), kNameAnswer);
  EXPECT_EQ(sim.Log().size(), 4U);  // dropped answers still log their commands
}

TEST_F(PtySimulatorTest, DelayedAnswerHoldsUpTheAnswersBehindIt) {
  // One serial line: a later answer overtaking a late one would be taken by
  // the host for the wrong command.
  sim.DelayNextAnswer(GET_NAME, milliseconds(80));
  const auto sent = Clock::now();
  ASSERT_TRUE(host->Write(Concat(kGetName, kGetVoltage)));
  auto chunks = host->ReadChunks(kVoltageAnswer.size() + kNameAnswer.size(), milliseconds(1000));
  Bytes all;
  for (const auto& c : chunks) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
  EXPECT_EQ(all, Concat(kNameAnswer, kVoltageAnswer));
  ASSERT_FALSE(chunks.empty());
  EXPECT_GE(chunks.front().at - sent, milliseconds(80));
}

TEST_F(PtySimulatorTest, GarbageComesInTheSameWriteBeforeTheAnswer) {
  sim.GarbageBeforeNextAnswer({0x11, 0x04, 0x22});
  ASSERT_TRUE(host->Write(kGetVoltage));
  const auto chunks = host->ReadChunks(3 + kVoltageAnswer.size(), milliseconds(1000));
  ASSERT_EQ(chunks.size(), 1U);
  EXPECT_EQ(chunks[0].bytes, Concat({0x11, 0x04, 0x22}, kVoltageAnswer));
  ASSERT_TRUE(host->Write(kGetVoltage));  // one answer only
  EXPECT_EQ(host->Read(kVoltageAnswer.size()), kVoltageAnswer);
}

TEST_F(PtySimulatorTest, SplitAnswerArrivesInSeparateWritesSpacedByGap) {
  sim.SplitNextAnswer(3, milliseconds(25));
  ASSERT_TRUE(host->Write(kGetName));
  const auto chunks = host->ReadChunks(kNameAnswer.size(), milliseconds(1000));
  // A loaded machine may let two pieces meet in the reader's buffer; what
  // must hold is that the answer came in more than one piece, spread by the gaps.
  ASSERT_GE(chunks.size(), 2U);
  ASSERT_LE(chunks.size(), 3U);
  Bytes all;
  for (const auto& c : chunks) all = Concat(all, c.bytes);
  EXPECT_EQ(all, kNameAnswer);
  EXPECT_GE(chunks.back().at - chunks.front().at, milliseconds(20));
}

TEST_F(PtySimulatorTest, UnsolicitedFramesRawBytesAndSwitchReports) {
  sim.SendUnsolicited({0x84, 0x04});
  EXPECT_EQ(host->Read(5), (Bytes{0x0F, 0x84, 0x05, 0x04, 0x04}));
  sim.SendRaw({0x0F, 0x0F, 0x05});
  EXPECT_EQ(host->Read(3), (Bytes{0x0F, 0x0F, 0x05}));
  sim.PressSwitch();
  EXPECT_EQ(host->Read(4), (Bytes{0x0F, 0x8B, 0x01, 0x04}));
  EXPECT_TRUE(sim.State().switchPressed);
  sim.ReleaseSwitch();
  EXPECT_EQ(host->Read(4), (Bytes{0x0F, 0x8B, 0x00, 0x04}));
  EXPECT_FALSE(sim.State().switchPressed);
}

// More answer bytes than the pty buffers hold: the simulator must wait for room.
TEST_F(PtySimulatorTest, AnswersBeyondPtyBufferArriveWholeAndInOrder) {
  constexpr std::size_t kReads = 400;
  Bytes reads;
  for (std::size_t i = 0; i < kReads; ++i) reads.insert(reads.end(), {0x0F, 0x0B, 0x00, 0x04});
  ASSERT_TRUE(host->Write(reads));
  ASSERT_TRUE(host->Write(kGetVoltage));
  ASSERT_TRUE(sim.WaitForLog(kReads + 1, milliseconds(1000)));
  std::this_thread::sleep_for(milliseconds(30));  // let the pty fill up while nobody reads
  const Bytes got = host->Read(kReads * 259 + kVoltageAnswer.size(), milliseconds(3000));
  ASSERT_EQ(got.size(), kReads * 259 + kVoltageAnswer.size());
  EXPECT_EQ(Bytes(got.end() - 4, got.end()), kVoltageAnswer);
}

class PtySimulatorPlugTest : public PtySimulatorTest {
 protected:
  void SetUp() override {
    link = (std::filesystem::temp_directory_path() / ("qmx-sim-link-" + std::to_string(getpid()))).string();
    PtySimulatorTest::SetUp();
    ASSERT_TRUE(sim.SetLinkPath(link));
  }
  void TearDown() override { std::filesystem::remove(link); }
  std::string link;
};

TEST_F(PtySimulatorPlugTest, LinkPointsToCurrentPort) {
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.PortPath());
  HostPort viaLink(link);
  ASSERT_TRUE(viaLink.IsOpen());
  ASSERT_TRUE(viaLink.Write(kGetVoltage));
  EXPECT_EQ(viaLink.Read(kVoltageAnswer.size()), kVoltageAnswer);
}

TEST_F(PtySimulatorPlugTest, UnplugHangsUpHostAndRemovesPathAndLink) {
  const std::string path = sim.PortPath();
  sim.Unplug();
  pollfd p{host->Fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 500), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  std::uint8_t b = 0;
  const ssize_t n = read(host->Fd(), &b, 1);
  EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
  EXPECT_FALSE(sim.Plugged());
  EXPECT_TRUE(sim.PortPath().empty());
  EXPECT_FALSE(PathExists(path));
  EXPECT_FALSE(PathExists(link));
  sim.PressSwitch();  // nowhere to go; must not fail or linger
}

TEST_F(PtySimulatorPlugTest, ReplugServesUnderNewPathAndRepointsLink) {
  const std::string oldPath = sim.PortPath();
  host.reset();  // the host let go: the kernel may now reuse the number
  sim.Unplug();
  ASSERT_TRUE(sim.Replug());
  EXPECT_TRUE(sim.Plugged());
  EXPECT_NE(sim.PortPath(), oldPath);
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.PortPath());
  HostPort again(link);
  ASSERT_TRUE(again.Write(kGetName));
  EXPECT_EQ(again.Read(kNameAnswer.size()), kNameAnswer);
}

TEST_F(PtySimulatorPlugTest, StopIsBoundedWithAnswerPending) {
  sim.DelayNextAnswer(GET_NAME, milliseconds(10000));
  ASSERT_TRUE(host->Write(kGetName));
  ASSERT_TRUE(sim.WaitForLog(1, milliseconds(500)));
  const auto start = Clock::now();
  sim.Stop();
  EXPECT_LT(Clock::now() - start, milliseconds(300));
  EXPECT_FALSE(PathExists(link));
  EXPECT_TRUE(host->Read(1, milliseconds(20)).empty());
}

Bytes Frames(const std::vector<Bytes>& payloads) {
  Bytes out;
  for (const Bytes& p : payloads) {
    const Bytes f = EncodeFrame(p);
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

// The socket is reachable through the thread-safe front end while serving.
TEST_F(PtySimulatorTest, InsertedPartIsWrittenAndReadOverThePort) {
  EXPECT_FALSE(sim.InsertPart("25C999"));
  ASSERT_TRUE(sim.InsertPart("25C020"));
  EXPECT_EQ(sim.PartName(), "25C020");
  Bytes contents(256, 0xCC);
  EXPECT_FALSE(sim.SetPartContents(Bytes(255, 0xCC)));
  ASSERT_TRUE(sim.SetPartContents(contents));
  ASSERT_TRUE(host->Write(Frames({{SET_MODE, kFamilySpi, 0, 50}, {DEV_CTRL, kCtrlSupplyOn},
                                  {DEV_CTRL, kCtrlChipSelectLow}, {WRITE_DATA, 0x06}, {DEV_CTRL, kCtrlChipSelectHigh},
                                  {DEV_CTRL, kCtrlChipSelectLow}, {WRITE_DONE, 0x02, 0x30, 0x5A, 0xA5},
                                  {DEV_CTRL, kCtrlChipSelectHigh}, {DEV_CTRL, kCtrlChipSelectLow},
                                  {WRITE_DATA, 0x03, 0x2F}, {READ_DATA, 3}, {DEV_CTRL, kCtrlChipSelectHigh},
                                  {CHK_DEVICE}})));
  EXPECT_EQ(host->Read(11), (Bytes{0x0F, 0x84, 0xCC, 0x5A, 0xA5, 0x04, 0x0F, 0x85, 0x01, 0x01, 0x04}));
  contents[0x30] = 0x5A;
  contents[0x31] = 0xA5;
  EXPECT_EQ(sim.PartContents(), contents);
  sim.RemovePart();
  EXPECT_TRUE(sim.PartContents().empty());
  ASSERT_TRUE(host->Write(Frames({{CHK_DEVICE}})));
  EXPECT_EQ(host->Read(5), (Bytes{0x0F, 0x85, 0x00, 0x01, 0x04}));
}

TEST(PtySimulatorLink, RefusesToReplaceRegularFile) {
  const auto file = std::filesystem::temp_directory_path() / ("qmx-sim-file-" + std::to_string(getpid()));
  { std::FILE* f = std::fopen(file.c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
  PtySimulator sim;
  ASSERT_TRUE(sim.Start());
  EXPECT_FALSE(sim.SetLinkPath(file.string()));
  sim.Stop();
  EXPECT_TRUE(std::filesystem::is_regular_file(file));
  std::filesystem::remove(file);
}

TEST(PtySimulatorOptions, LatencyDelaysEveryAnswer) {
  Options o;
  o.answerLatency = std::chrono::microseconds(30000);
  o.vccReading = 52;
  PtySimulator sim(o);
  ASSERT_TRUE(sim.Start());
  HostPort host(sim.PortPath());
  sim.SetVccReading(53);
  const auto sent = Clock::now();
  ASSERT_TRUE(host.Write(kGetVoltage));
  EXPECT_EQ(host.Read(4), (Bytes{0x0F, 0x8C, 53, 0x04}));
  EXPECT_GE(Clock::now() - sent, milliseconds(30));
}

// Writes from `offset` until the pty takes no more; returns the new offset.
std::size_t WriteUntilFull(int fd, const Bytes& bytes, std::size_t offset) {
  while (offset < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + offset, bytes.size() - offset);
    if (n <= 0) break;
    offset += static_cast<std::size_t>(n);
  }
  return offset;
}

TEST_F(PtySimulatorTest, HungFirmwareStallsTheHostAndResumeCarriesTheQueueOut) {
  sim.Hang();
  std::vector<Bytes> payloads = {{GET_VOLTAGE}};
  for (int i = 0; i < 20000; ++i) payloads.push_back({WR_GPIO, static_cast<std::uint8_t>(i)});
  payloads.push_back({GET_NAME});
  const Bytes stream = Frames(payloads);
  std::size_t sent = WriteUntilFull(host->Fd(), stream, 0);
  EXPECT_LT(sent, stream.size());  // nobody drains the pty
  EXPECT_GT(sent, 1000U);
  EXPECT_TRUE(host->Read(1, milliseconds(30)).empty());
  EXPECT_TRUE(sim.Log().empty());
  EXPECT_TRUE(sim.Hung());
  sim.Resume();
  while (sent < stream.size()) {
    pollfd p{host->Fd(), POLLOUT, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1) << "the resumed programmer takes nothing";
    sent = WriteUntilFull(host->Fd(), stream, sent);
  }
  EXPECT_EQ(host->Read(kVoltageAnswer.size()), kVoltageAnswer);
  EXPECT_EQ(host->Read(kNameAnswer.size()), kNameAnswer);
  const std::vector<LoggedCommand> log = sim.Log();
  ASSERT_EQ(log.size(), payloads.size());
  const auto outOfOrder = std::mismatch(log.begin(), log.end(), payloads.begin(), [](const auto& c, const Bytes& p) {
    return c.code == p[0] && c.args == Bytes(p.begin() + 1, p.end());
  });
  EXPECT_EQ(outOfOrder.first, log.end()) << "first difference at " << outOfOrder.first - log.begin();
}

Options RealTiming() {
  Options o;
  o.timing = Timing::kReal;
  return o;
}

// Seen from the host only lower bounds are safe: a loaded machine is always later.
TEST(PtySimulatorRealTiming, AnswersComeNoEarlierThanTheBusTimeAtTheSetClock) {
  PtySimulator sim(RealTiming());
  ASSERT_TRUE(sim.Start());
  HostPort host(sim.PortPath());
  const auto sent = Clock::now();
  ASSERT_TRUE(host.Write(Frames({{SET_FREQ, 10, 0, 1}, {READ_DATA, 100}, {GET_FREQ}})));
  const auto chunks = host.ReadChunks(103 + 6, milliseconds(2000));
  Bytes all;
  for (const auto& c : chunks) all = Concat(all, c.bytes);
  ASSERT_EQ(all.size(), 103U + 6U);
  EXPECT_EQ(Bytes(all.end() - 6, all.end()), (Bytes{0x0F, 0x87, 10, 0, 1, 0x04}));
  // 100 bytes of 8 bits at 10 kHz, then the answer latency.
  EXPECT_GE(chunks.front().at - sent, milliseconds(81));
  const TimingAccount account = sim.Account();
  EXPECT_EQ(account.busTime, milliseconds(80));
  EXPECT_EQ(account.answers, 2);
}

TEST(PtySimulatorRealTiming, QueryAfterWritesWaitsForEveryWriteCycle) {
  PtySimulator sim(RealTiming());
  ASSERT_TRUE(sim.InsertPart("25C020"));
  ASSERT_TRUE(sim.Start());
  HostPort host(sim.PortPath());
  std::vector<Bytes> commands = {{SET_MODE, kFamilySpi, 0, 50}, {SET_FREQ, 2, 0, 2}, {DEV_CTRL, kCtrlSupplyOn}};
  constexpr std::uint8_t kWrites = 4;
  for (std::uint8_t i = 0; i < kWrites; ++i) {
    commands.insert(commands.end(), {{DEV_CTRL, kCtrlChipSelectLow}, {WRITE_DATA, 0x06},
                                     {DEV_CTRL, kCtrlChipSelectHigh}, {DEV_CTRL, kCtrlChipSelectLow},
                                     {WRITE_DONE, 0x02, static_cast<std::uint8_t>(0x10 * i), i},
                                     {DEV_CTRL, kCtrlChipSelectHigh}});
  }
  commands.push_back({GET_VERSION});
  const auto sent = Clock::now();
  ASSERT_TRUE(host.Write(Frames(commands)));
  EXPECT_EQ(host.Read(5, milliseconds(2000)), (Bytes{0x0F, 0x80, 0x01, 0x00, 0x04}));
  EXPECT_GE(Clock::now() - sent, milliseconds(kWrites * 5 + 1));
  EXPECT_EQ(sim.Account().writeCycles, milliseconds(kWrites * 5));
  for (std::uint8_t i = 0; i < kWrites; ++i) EXPECT_EQ(sim.PartContents()[0x10 * i], i);
}

// The simulator keeps to its model: N round trips take N x (latency + bus
// time) and a little more; the little more is printed, not asserted.
TEST(PtySimulatorRealTiming, RoundTripsTakeTheModelledTime) {
  PtySimulator sim(RealTiming());
  ASSERT_TRUE(sim.Start());
  HostPort host(sim.PortPath());
  ASSERT_TRUE(host.Write(Frames({{SET_FREQ, 1, 0, 2}})));
  constexpr int kTrips = 200;
  const Bytes read16 = Frames({{READ_DATA, 16}});
  const auto start = Clock::now();
  for (int i = 0; i < kTrips; ++i) {
    ASSERT_TRUE(host.Write(read16));
    ASSERT_EQ(host.Read(19).size(), 19U);
  }
  const auto elapsed = Clock::now() - start;
  const TimingAccount account = sim.Account();
  ASSERT_EQ(account.answers, kTrips);
  EXPECT_EQ(account.busTime, microseconds(128) * kTrips);
  const auto floor = account.answers * milliseconds(1) + account.busTime + account.writeCycles;
  EXPECT_GE(elapsed, floor);
  std::printf("%d round trips: modelled %.2f ms, took %.2f ms (%+.1f%%)\n", kTrips,
              std::chrono::duration<double, std::milli>(floor).count(),
              std::chrono::duration<double, std::milli>(elapsed).count(),
              100.0 * (std::chrono::duration<double>(elapsed) / std::chrono::duration<double>(floor) - 1));
}

}  // namespace
}  // namespace qmx::sim
