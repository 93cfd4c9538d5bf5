// The link end to end: Connection (serial channel, reader thread, decoder,
// response slot) against the simulated programmer on a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/discovery/port_discovery.h"
#include "core/link/connection.h"
#include "core/platform/usb_provider.h"
#include "core/protocol/encoding.h"
#include "sim/simulator.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(conn.OpenPort(sim.PortPath())) << sim.PortPath();
  }

  // Commands without an answer are synchronised through the simulator's log.
  void Settle(std::size_t commands) { ASSERT_TRUE(sim.WaitForLog(commands, 2s)); }

  sim::PtySimulator sim;
  Connection conn;
};

TEST_F(LinkTest, ConnectSequenceIdentifiesTheProgrammer) {
  const auto name = conn.QueryName();
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(*name, "QMX-71A");
  const auto log = sim.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].code, DEV_CTRL);
  EXPECT_EQ(log[0].args, Bytes{DEVCTRL_INIT});
  EXPECT_EQ(log[1].code, GET_NAME);
  EXPECT_TRUE(log[1].args.empty());
  EXPECT_TRUE(sim.State().initSeen);
}

TEST_F(LinkTest, NameWithoutTerminatorIsBoundedByTheData) {
  sim::Options o;
  o.model = "QMX-ISP rev B";
  o.nameZeroTerminated = false;
  sim::PtySimulator other(o);
  ASSERT_TRUE(other.Start());
  Connection c;
  ASSERT_TRUE(c.OpenPort(other.PortPath()));
  EXPECT_EQ(c.QueryName().value_or("<none>"), "QMX-ISP rev B");
}

TEST_F(LinkTest, EveryQueryIsAnsweredWithinTheWait) {
  ASSERT_TRUE(conn.Query(GET_VERSION, RESP_VERSION));
  EXPECT_EQ(VersionText(conn.Response().data[0], conn.Response().data[1]), "1.00");

  sim.SetVccReading(52);
  ASSERT_TRUE(conn.Query(GET_VOLTAGE, RESP_VOLTAGE));
  EXPECT_EQ(SupplyCentivolts(conn.Response().data[0]), 501);

  sim.SetPartPresent(true, 6);
  ASSERT_TRUE(conn.Query(CHK_DEVICE, RESP_DEVICE));
  EXPECT_EQ(conn.Response().data[0], 1);
  EXPECT_EQ(conn.Response().data[1], 6);

  const FreqArgs f = EncodeFrequency(400000);
  const Bytes setFreq{SET_FREQ, f.valueLow, f.valueHigh, f.unit};
  ASSERT_TRUE(conn.SendFrame(setFreq.data(), 4));
  ASSERT_TRUE(conn.Query(GET_FREQ, RESP_FREQ));
  const Answer& a = conn.Response();
  EXPECT_EQ(DecodeFrequency(a.data[0], a.data[1], a.data[2]), 400000u);

  ASSERT_TRUE(conn.SendCommand(RESERVED_27));  // not a command the programmer knows
  ASSERT_TRUE(conn.Query(GET_LAST_ERR, RESP_LAST_ERR));
  EXPECT_EQ(conn.Response().data[1], INVALID_CMD_ERROR);
}

TEST_F(LinkTest, StateCommandsReachTheProgrammer) {
  conn.SendCommand2(SET_RESTART, 0);
  conn.SendCommand4(SET_MODE, 1, 0, 50);
  conn.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_ON);
  conn.SendCommand2(WR_GPIO, 3);
  conn.SendCommand2(DEV_CTRL, DEVCTRL_LED_ERROR);  // escaped on the wire
  Settle(5);
  const sim::ProgrammerState s = sim.State();
  EXPECT_EQ(s.restarts, 1);
  EXPECT_TRUE(s.modeSet);
  EXPECT_EQ(s.family, 1);
  EXPECT_EQ(s.maxWriteTimeMs, 50);
  EXPECT_TRUE(s.supplyOn);
  EXPECT_EQ(s.gpio, 3);
  EXPECT_EQ(s.led, DEVCTRL_LED_ERROR);
  EXPECT_EQ(sim.Log()[1].args, (Bytes{1, 0, 50}));
}

TEST_F(LinkTest, OverlongPayloadIsNeverSent) {
  Bytes payload(65, 0x11);
  payload[0] = WRITE_DATA;
  EXPECT_FALSE(conn.SendFrame(payload.data(), 65));
  payload.resize(64);
  EXPECT_TRUE(conn.SendFrame(payload.data(), 64));
  Settle(1);
  const auto log = sim.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].args.size(), 63u);
}

TEST_F(LinkTest, FullSizedAnswerArrivesWhole) {
  conn.SendCommand4(SET_MODE, 0, 0, 50);  // Microwire: count byte is the count, 0 means 256
  conn.Expect(RESP_DATA);
  conn.SendCommand2(READ_DATA, 0);
  ASSERT_TRUE(conn.WaitResponse(RESP_DATA));
  EXPECT_EQ(conn.Response().length, 256);
  EXPECT_EQ(conn.Response().data[255], 0xFF);  // nothing attached: the bus floats high
}

TEST_F(LinkTest, AnswerInTheSameWriteAsGarbageIsFound) {
  sim.GarbageBeforeNextAnswer({0x11, 0x22, 0x04, 0x05, 0x84, 0x33});
  ASSERT_TRUE(conn.Query(GET_VERSION, RESP_VERSION));
  EXPECT_EQ(conn.Response().data[0], 1);
}

TEST_F(LinkTest, AnswerSplitOverThreeWritesIsDecodedOnce) {
  sim.SplitNextAnswer(3, 5ms);
  ASSERT_TRUE(conn.Query(GET_NAME, RESP_NAME));
  EXPECT_STREQ(reinterpret_cast<const char*>(conn.Response().data.data()), "QMX-71A");
  EXPECT_EQ(conn.Slot().Last().code, RESP_NAME);
}

TEST_F(LinkTest, UnawaitedAnswerDoesNotWakeTheWaiter) {
  sim.DropNextAnswer(GET_VERSION);
  conn.Expect(RESP_VERSION);
  conn.SendCommand(GET_VERSION);
  sim.SendUnsolicited({RESP_VOLTAGE, 79});
  sim.SendUnsolicited({RESP_SWITCH, 0});
  EXPECT_FALSE(conn.WaitResponse(RESP_VERSION));
  EXPECT_EQ(conn.Slot().Last().code, RESP_SWITCH);  // stored all the same
}

TEST_F(LinkTest, DroppedAnswerFailsAfterFiftyMilliseconds) {
  sim.DropNextAnswer(CHK_DEVICE);
  const auto t0 = Clock::now();
  EXPECT_FALSE(conn.Query(CHK_DEVICE, RESP_DEVICE));
  const auto took = Clock::now() - t0;
  EXPECT_GE(took, 45ms);
  EXPECT_LT(took, 1000ms);
  EXPECT_TRUE(conn.IsOpen());  // a missing answer does not close anything
  EXPECT_TRUE(conn.Query(CHK_DEVICE, RESP_DEVICE));
}

TEST_F(LinkTest, LateAnswerCountsOnlyWithinTheWait) {
  sim.DelayNextAnswer(GET_VERSION, 10ms);
  EXPECT_TRUE(conn.Query(GET_VERSION, RESP_VERSION));
  sim.DelayNextAnswer(GET_VOLTAGE, 120ms);
  EXPECT_FALSE(conn.Query(GET_VOLTAGE, RESP_VOLTAGE));
  std::this_thread::sleep_for(150ms);  // the late answer lands in the slot
  EXPECT_EQ(conn.Slot().Last().code, RESP_VOLTAGE);
  // A new query gets its own, fresh answer.
  sim.SetVccReading(100);
  ASSERT_TRUE(conn.Query(GET_VOLTAGE, RESP_VOLTAGE));
  EXPECT_EQ(conn.Response().data[0], 100);
}

TEST_F(LinkTest, AnswerThatArrivesBeforeTheWaitStartsIsKept) {
  conn.Expect(RESP_VERSION);
  conn.SendCommand(GET_VERSION);
  std::this_thread::sleep_for(30ms);  // the answer is in long before the wait
  ASSERT_TRUE(conn.WaitResponse(RESP_VERSION));
  EXPECT_EQ(conn.Response().data[0], 1);
}

TEST_F(LinkTest, AnswerFasterThanTheWaitIsNotLost) {
  // Arming before the send closes the window in which a quick answer used to
  // be reset away; hammer it.
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(conn.Query(GET_VERSION, RESP_VERSION)) << i;
}

TEST_F(LinkTest, SwitchReportsReachTheOwner) {
  std::mutex m;
  std::condition_variable cv;
  std::vector<bool> seen;
  conn.SetSwitchHandler([&](bool pressed) {
    std::lock_guard lock(m);
    seen.push_back(pressed);
    cv.notify_all();
  });
  sim.PressSwitch();
  sim.ReleaseSwitch();
  std::unique_lock lock(m);
  ASSERT_TRUE(cv.wait_for(lock, 2s, [&] { return seen.size() == 2; }));
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
}

TEST_F(LinkTest, SwitchReportDuringAWaitLeavesTheWaitAlone) {
  std::atomic<int> presses{0};
  conn.SetSwitchHandler([&](bool pressed) { presses += pressed ? 1 : 0; });
  sim.DelayNextAnswer(GET_NAME, 15ms);
  conn.Expect(RESP_NAME);
  conn.SendCommand(GET_NAME);
  sim.PressSwitch();
  ASSERT_TRUE(conn.WaitResponse(RESP_NAME));
  EXPECT_EQ(conn.Response().code, RESP_NAME);
  EXPECT_EQ(conn.Response().data[0], 'Q');
  EXPECT_EQ(presses.load(), 1);
}

TEST_F(LinkTest, BatchedFramesGoOutWholeInOrderWhenAWaitBegins) {
  {
    SendBatch batch(conn);
    conn.SendCommand2(SET_RESTART, 0);
    conn.SendCommand4(SET_MODE, 2, 0, 10);
    conn.SendCommand2(DEV_CTRL, DEVCTRL_CS_LOW);
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(sim.Log().empty());  // still held back
    ASSERT_TRUE(conn.Query(GET_VERSION, RESP_VERSION));  // the wait sends them first
    conn.SendCommand2(DEV_CTRL, DEVCTRL_CS_HIGH);
  }
  Settle(5);
  const auto log = sim.Log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].code, SET_RESTART);
  EXPECT_EQ(log[1].code, SET_MODE);
  EXPECT_EQ(log[3].code, GET_VERSION);
  EXPECT_EQ(log[4].args, Bytes{DEVCTRL_CS_HIGH});  // sent when the batch ended
}

TEST_F(LinkTest, LargeBatchIsWrittenAsItGrows) {
  SendBatch batch(conn);
  for (int i = 0; i < 1000; ++i) conn.SendCommand2(WR_GPIO, static_cast<std::uint8_t>(i & 3));
  ASSERT_TRUE(sim.WaitForLog(500, 2s));  // part of it is out before the batch ends
}

TEST_F(LinkTest, FailedBatchWriteClosesTheConnection) {
  int closes = 0;
  conn.SetCloseHook([&] {
    ++closes;
    conn.Disconnect();
  });
  sim.Unplug();
  {
    SendBatch batch(conn);
    EXPECT_TRUE(conn.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF));  // only queued
    EXPECT_FALSE(conn.Query(GET_VOLTAGE, RESP_VOLTAGE));
  }
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(conn.IsOpen());
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST_F(LinkTest, UnplugClosesTheConnectionAtTheNextOneByteSend) {
  int closes = 0;
  conn.SetCloseHook([&] {
    ++closes;
    conn.Disconnect();
  });
  sim.Unplug();
  // The reader sees the hang-up and goes to sleep, not into a spin.
  const auto deadline = Clock::now() + 2s;
  while (!conn.PortGone() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(conn.PortGone());
  const double cpu0 = CpuSeconds();
  std::this_thread::sleep_for(200ms);
  EXPECT_LT(CpuSeconds() - cpu0, 0.1);
  EXPECT_TRUE(conn.IsOpen());  // nothing has been sent yet

  // Any send that fails on the open channel ends the connection.
  EXPECT_FALSE(conn.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_OFF));
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(conn.IsOpen());
  EXPECT_FALSE(conn.Query(GET_VOLTAGE, RESP_VOLTAGE));
  // Closed now: sends fail at once, waits find no event.
  EXPECT_FALSE(conn.SendCommand(GET_VERSION));
  const auto t0 = Clock::now();
  EXPECT_FALSE(conn.WaitResponse(RESP_VERSION));
  EXPECT_LT(Clock::now() - t0, 40ms);
}

TEST_F(LinkTest, ReplugAndConnectAgain) {
  sim.Unplug();
  EXPECT_FALSE(conn.Query(GET_NAME, RESP_NAME));
  EXPECT_FALSE(conn.IsOpen());
  ASSERT_TRUE(sim.Replug());
  ASSERT_TRUE(conn.OpenPort(sim.PortPath()));
  EXPECT_EQ(conn.QueryName().value_or(""), "QMX-71A");
}

// An answer cut off by the end of a connection must not swallow the first
// answer of the next one, whether the port was closed or the device vanished.
TEST_F(LinkTest, CutOffAnswerDoesNotOutliveTheConnection) {
  ASSERT_EQ(conn.QueryName().value_or(""), "QMX-71A");
  sim.SendRaw({0x0F, 0x84, 0x01});
  EXPECT_FALSE(conn.Query(GET_VERSION, RESP_VERSION));  // swallowed by the open frame, as within one connection
  conn.Disconnect();
  ASSERT_TRUE(conn.OpenPort(sim.PortPath()));
  EXPECT_EQ(conn.QueryName().value_or(""), "QMX-71A");

  sim.SendRaw({0x0F, 0x84, 0x01});
  EXPECT_FALSE(conn.Query(GET_VERSION, RESP_VERSION));
  sim.Unplug();
  EXPECT_FALSE(conn.Query(GET_NAME, RESP_NAME));
  ASSERT_TRUE(sim.Replug());
  ASSERT_TRUE(conn.OpenPort(sim.PortPath()));
  EXPECT_EQ(conn.QueryName().value_or(""), "QMX-71A");
}

TEST_F(LinkTest, DisconnectIsBoundedAndRepeatable) {
  const auto t0 = Clock::now();
  conn.Disconnect();
  conn.Disconnect();
  EXPECT_LT(Clock::now() - t0, 1s);
  EXPECT_FALSE(conn.IsOpen());
  EXPECT_FALSE(conn.Query(GET_VERSION, RESP_VERSION));
  ASSERT_TRUE(conn.OpenPort(sim.PortPath()));
  EXPECT_TRUE(conn.Query(GET_VERSION, RESP_VERSION));
}

TEST_F(LinkTest, SecondProcessCannotHoldThePort) {
  const std::string path = sim.PortPath();
  // A separate program, so that the attempt really comes from another process.
  const std::string command = std::string(QMX_TRY_OPEN_PORT) + " " + path;
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3) << "another process opened a held port";
  EXPECT_TRUE(conn.Query(GET_VERSION, RESP_VERSION));  // the holder is unharmed
}

TEST_F(LinkTest, GarbageStormNeitherCrashesNorHangs) {
  Bytes junk;
  std::uint32_t x = 7;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1664525u + 1013904223u;
    junk.push_back(static_cast<std::uint8_t>(x >> 24));
  }
  sim.SendRaw(junk);
  sim.SendRaw({0x05, 0x04, 0x04});  // end whatever frame the junk left open
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(conn.Query(GET_VERSION, RESP_VERSION));
}

// Discovery with the port given by QMX71_PORT, following the simulator's link
// through unplug and replug.
class NoDevices : public DeviceListProvider {
 public:
  std::vector<std::string> InstanceNames(const std::string&) override { return {}; }
  std::vector<std::pair<std::string, std::string>> SerialPortMap() override { return {}; }
  std::vector<std::string> PresentDeviceNames() override { return {}; }
};

TEST(LinkDiscovery, PortOverrideFollowsTheSimulatorsLink) {
  const std::string link =
      (std::filesystem::temp_directory_path() / ("qmx-e2e-link-" + std::to_string(::getpid()))).string();
  sim::PtySimulator sim;
  ASSERT_TRUE(sim.Start());
  ASSERT_TRUE(sim.SetLinkPath(link));
  NoDevices devices;
  PortDiscovery discovery(devices, [&](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "QMX71_PORT") return link;
    return std::nullopt;
  });
  Connection conn;
  std::string port = DiscoverProgrammerPort(discovery);
  ASSERT_EQ(port, link);
  ASSERT_TRUE(conn.OpenPort(port));
  EXPECT_EQ(conn.QueryName().value_or(""), "QMX-71A");

  sim.Unplug();
  EXPECT_EQ(DiscoverProgrammerPort(discovery), "");
  EXPECT_FALSE(conn.Query(GET_VOLTAGE, RESP_VOLTAGE));
  EXPECT_FALSE(conn.IsOpen());

  ASSERT_TRUE(sim.Replug());
  port = DiscoverProgrammerPort(discovery);
  ASSERT_EQ(port, link);
  ASSERT_TRUE(conn.OpenPort(port));
  EXPECT_TRUE(conn.Query(GET_VOLTAGE, RESP_VOLTAGE));
  EXPECT_EQ(conn.Response().data[0], 79);
  sim.Stop();
  EXPECT_FALSE(std::filesystem::exists(link));
}

}  // namespace
}  // namespace qmx
