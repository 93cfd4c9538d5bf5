#include "core/link/scommx.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/platform/posix/termios_map.h"
#include "core/platform/wake_event.h"

namespace qmx {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// A pseudo-terminal whose slave stands in for the programmer's port.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    slavePath_ = ::ptsname(master_);
    ::fcntl(master_, F_SETFL, O_NONBLOCK);
  }
  ~Pty() { CloseMaster(); }
  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void Send(const Bytes& b) { ASSERT_EQ(::write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  Bytes Receive(std::size_t want, int timeoutMs = 1000) {
    Bytes out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < want && Clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      std::uint8_t buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  termios Settings() const {
    termios t{};
    ::tcgetattr(master_, &t);
    return t;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

// A channel opened on a fresh pseudo-terminal.
class SCommXOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    c.portName = pty.SlavePath();
    ASSERT_TRUE(c.Open());
  }
  // For settings that must be in place before Open.
  void Reopen() {
    c.Close();
    ASSERT_TRUE(c.Open());
  }
  Pty pty;
  SCommX c;
};

TEST(DevicePathForPort, NamesLiveUnderDevPathsAreKept) {
  EXPECT_EQ(DevicePathForPort("ttyACM0"), "/dev/ttyACM0");
  EXPECT_EQ(DevicePathForPort("ttyACM10"), "/dev/ttyACM10");
  EXPECT_EQ(DevicePathForPort("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(DevicePathForPort("/tmp/qmx-link"), "/tmp/qmx-link");
  EXPECT_EQ(DevicePathForPort(""), "/dev/");
}

TEST(SCommX, StartsClosedWithTheDefaultSettings) {
  SCommX c;
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(c.baudRate, 19200);
  EXPECT_EQ(c.byteSize, 8);
  EXPECT_EQ(c.stopBits, 1);
  EXPECT_EQ(c.parity, 0);
  EXPECT_EQ(c.flowControl, 0);
  EXPECT_EQ(c.timeoutMs, 3000);
  EXPECT_TRUE(c.portName.empty());
}

TEST(SCommX, RefusesWhatIsNotAnOpenableTty) {
  SCommX c;
  c.portName = "";  // the bare prefix: a directory
  EXPECT_FALSE(c.Open());
  c.portName = "/dev/qmx-no-such-port";
  EXPECT_FALSE(c.Open());
  char file[] = "/tmp/qmx-not-a-tty-XXXXXX";
  const int fd = ::mkstemp(file);
  ASSERT_GE(fd, 0);
  ::close(fd);
  c.portName = file;
  EXPECT_FALSE(c.Open());
  ::unlink(file);
  EXPECT_FALSE(c.IsOpen());
  Bytes b{1};
  EXPECT_EQ(c.Write(b.data(), 1), -1);
  EXPECT_EQ(c.Read(b.data(), 1), -1);
  EXPECT_FALSE(c.SetDtr(true));
  EXPECT_FALSE(c.SetRts(false));
  EXPECT_TRUE(c.Close());
}

TEST_F(SCommXOnPty, MovesBytesBothWays) {
  ASSERT_TRUE(c.IsOpen());
  const Bytes out{0x0F, 0x16, 0x04};
  EXPECT_EQ(c.Write(out.data(), 3), 3);
  EXPECT_EQ(pty.Receive(3), out);
  // Bytes with line-discipline meaning (CR, ^C, ^S, 0xFF) pass untouched.
  const Bytes in{0x0D, 0x03, 0x13, 0x0A, 0xFF, 0x00};
  pty.Send(in);
  Bytes got(6);
  EXPECT_EQ(c.Read(got.data(), 6), 6);
  EXPECT_EQ(got, in);
}

TEST_F(SCommXOnPty, ReadWithNothingArrivingReturnsZeroAfterTheTimeout) {
  c.SetTimeouts(60);
  Reopen();
  std::uint8_t b[4];
  const auto t0 = Clock::now();
  EXPECT_EQ(c.Read(b, 4), 0);
  const auto took = Clock::now() - t0;
  EXPECT_GE(took, std::chrono::milliseconds(50));
  EXPECT_LT(took, std::chrono::milliseconds(1000));
  // A partial arrival is returned as the smaller count.
  pty.Send({0x42});
  EXPECT_EQ(c.Read(b, 4), 1);
  EXPECT_EQ(b[0], 0x42);
}

TEST_F(SCommXOnPty, WriteIntoAStuckPortEndsAtTheTimeoutWithTheShortCount) {
  c.SetTimeouts(100);
  Reopen();
  const Bytes big(1 << 20, 0x55);  // far more than the pty buffers; nobody reads
  const auto t0 = Clock::now();
  const int n = c.Write(big.data(), static_cast<int>(big.size()));
  EXPECT_GE(n, 0);
  EXPECT_LT(n, static_cast<int>(big.size()));
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2000));
}

TEST_F(SCommXOnPty, CloseIsIdempotentAndEndsTransfers) {
  EXPECT_TRUE(c.Close());
  EXPECT_FALSE(c.IsOpen());
  EXPECT_TRUE(c.Close());
  const Bytes out{1, 2};
  EXPECT_EQ(c.Write(out.data(), 2), -1);
  // And the port can be had again.
  EXPECT_TRUE(c.Open());
}

TEST_F(SCommXOnPty, ModemLinesAreRefusedByAPseudoTerminal) {
  EXPECT_FALSE(c.SetDtr(true));
  EXPECT_FALSE(c.SetRts(true));
  EXPECT_TRUE(c.IsOpen());  // a refusal does not hurt the channel
}

TEST(SCommX, SettingsMadeWhileClosedReachThePortAtOpenAndAtOnceWhileOpen) {
  Pty pty;
  SCommX c;
  c.portName = pty.SlavePath();
  c.SetBaudRate(19200);
  c.SetByteSize(8);
  c.SetStopBits(1);
  c.SetParity(0);
  c.SetFlowControl(0);
  ASSERT_TRUE(c.Open());
  termios t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // code 1 has no exact termios form
  EXPECT_EQ(t.c_cflag & PARENB, 0u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | ICRNL), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);

  // A pseudo-terminal forces CS8 and no parity enable, so the mapping of
  // those is checked on termios records below; here what a pty keeps.
  c.SetParity(1);
  c.SetStopBits(0);
  c.SetBaudRate(9600);
  c.SetFlowControl(3);
  t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_NE(t.c_cflag & PARODD, 0u);
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  c.SetFlowControl(1);
  EXPECT_NE(pty.Settings().c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(pty.Settings().c_iflag & IXON, 0u);
  c.SetBaudRate(12345);  // not a rate the port knows: it keeps the last one
  t = pty.Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(c.dcb.baudRate, 12345);
}

TEST(MapLineSettings, EveryCodeOfSizeParityStopAndHandshake) {
  struct Case {
    LineSettings s;
    tcflag_t cflagMask, cflag, iflagMask, iflag;
  };
  const tcflag_t cmask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  const Case cases[] = {
      {{19200, 8, 1, 0, 0}, cmask, CS8 | CSTOPB, IXON | IXOFF, 0},
      {{19200, 8, 0, 1, 0}, cmask, CS8 | PARENB | PARODD, IXON | IXOFF, 0},
      {{19200, 7, 2, 2, 0}, cmask, CS7 | PARENB | CSTOPB, IXON | IXOFF, 0},
      {{19200, 6, 0, 3, 1}, cmask, CS6 | PARENB | PARODD | CMSPAR | CRTSCTS, IXON | IXOFF, 0},
      {{19200, 5, 1, 4, 3}, cmask, CS5 | PARENB | CMSPAR | CSTOPB, IXON | IXOFF, IXON | IXOFF},
      {{19200, 8, 0, 0, 2}, cmask, CS8, IXON | IXOFF, 0},  // DSR flow: no termios form
      {{19200, 0x108, 0x100, 0x100, 7}, cmask, CS8, IXON | IXOFF, 0},  // low bytes; unknown mode = none
  };
  for (const Case& k : cases) {
    termios t{};
    t.c_cflag = cmask;  // stale bits must be cleared
    t.c_iflag = ICRNL | IXON | ISTRIP;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_oflag = OPOST;
    EXPECT_TRUE(MapLineSettings(k.s, t));
    EXPECT_EQ(t.c_cflag & k.cflagMask, k.cflag) << k.s.byteSize << "/" << k.s.parity << "/" << k.s.stopBits;
    EXPECT_EQ(t.c_iflag & k.iflagMask, k.iflag) << k.s.flowControl;
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
  }
  termios t{};
  ::cfsetospeed(&t, B4800);
  EXPECT_FALSE(MapLineSettings({12345, 8, 1, 0, 0}, t));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
  EXPECT_TRUE(MapLineSettings({115200, 8, 1, 0, 0}, t));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
}

TEST(SCommX, ASecondHolderIsRefusedInThisAndInAnotherProcess) {
  Pty pty;
  SCommX first;
  first.portName = pty.SlavePath();
  ASSERT_TRUE(first.Open());

  SCommX second;
  second.portName = pty.SlavePath();
  EXPECT_FALSE(second.Open());

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SCommX other;
    other.portName = pty.SlavePath();
    ::_exit(other.Open() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "another process opened a held port";

  first.Close();
  EXPECT_TRUE(second.Open());
}

TEST_F(SCommXOnPty, HangUpFailsWritesAndWakesTheReceiveWait) {
  WakeEvent stop;
  int queued = 0;
  auto waiting = std::async(std::launch::async, [&] { return c.WaitReceive(stop, &queued); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  pty.CloseMaster();
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), ReceiveWait::HungUp);
  EXPECT_TRUE(c.HungUp());
  const Bytes out{0x0F, 0x1C, 0x04};
  EXPECT_EQ(c.Write(out.data(), 3), -1);
  EXPECT_EQ(c.WaitReceive(stop, &queued), ReceiveWait::HungUp);  // at once, no sleep
  EXPECT_TRUE(c.Close());
}

TEST_F(SCommXOnPty, ReceiveWaitWakesForBytesStopAndClose) {
  WakeEvent stop;
  int queued = 0;
  pty.Send({0x0F, 0x80, 0x01, 0x00, 0x04});
  EXPECT_EQ(c.WaitReceive(stop, &queued), ReceiveWait::Readable);
  EXPECT_EQ(queued, 5);
  EXPECT_EQ(c.QueuedBytes(), 5);
  std::uint8_t drain[5];
  EXPECT_EQ(c.Read(drain, 5), 5);

  stop.Set();
  EXPECT_EQ(c.WaitReceive(stop, &queued), ReceiveWait::Stopped);
  stop.Reset();

  auto waiting = std::async(std::launch::async, [&] { return c.WaitReceive(stop, &queued); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  c.Close();  // from another thread while the wait sleeps
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), ReceiveWait::Closed);
}

}  // namespace
}  // namespace qmx
