#include "core/link/response_slot.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/protocol/commands.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

void Deliver(ResponseSlot& slot, const Bytes& payload) {
  slot.OnFrame(payload.data(), static_cast<int>(payload.size()));
}

TEST(ResponseSlot, WaitWithoutEventFailsAtOnce) {
  ResponseSlot slot;
  const auto t0 = Clock::now();
  EXPECT_FALSE(slot.WaitResponse(RESP_VERSION, 5000));
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1000));
}

TEST(ResponseSlot, AnswerThatBeatsTheWaitIsKeptWhenArmedFirst) {
  ResponseSlot slot;
  slot.OpenEvent();
  slot.Arm(RESP_VERSION);
  Deliver(slot, {0x80, 0x01, 0x12});  // arrives before the wait starts
  ASSERT_TRUE(slot.WaitResponse(RESP_VERSION, 50));
  EXPECT_EQ(slot.Awaited().code, 0x80);
  ASSERT_EQ(slot.Awaited().length, 2);
  EXPECT_EQ(slot.Awaited().data[0], 0x01);
  EXPECT_EQ(slot.Awaited().data[1], 0x12);
}

TEST(ResponseSlot, WaiterKeepsItsCopyWhenALaterFrameArrives) {
  ResponseSlot slot;
  slot.OpenEvent();
  slot.Arm(RESP_DATA);
  Deliver(slot, {0x84, 0xAA, 0xAB});
  Deliver(slot, {0x84, 0xBB});        // a late duplicate
  Deliver(slot, {0x8B, 0x01});        // and a switch report
  ASSERT_TRUE(slot.WaitResponse(RESP_DATA, 50));
  EXPECT_EQ(slot.Awaited().length, 2);
  EXPECT_EQ(slot.Awaited().data[0], 0xAA);
  // The slot itself still shows the last frame of all.
  EXPECT_EQ(slot.Last().code, 0x8B);
}

TEST(ResponseSlot, OtherCodesReplaceTheSlotButWakeNobody) {
  ResponseSlot slot;
  slot.OpenEvent();
  slot.Arm(RESP_DATA);
  Deliver(slot, {0x8B, 0x01});
  Deliver(slot, {0x80, 0x01, 0x00});
  EXPECT_FALSE(slot.WaitResponse(RESP_DATA, 30));
  EXPECT_EQ(slot.Last().code, 0x80);
  EXPECT_EQ(slot.AwaitedCode(), RESP_DATA);  // stays set after the wait
}

// A waiter that expects its answer late still takes one that comes early,
// and its time-out is neither lengthened nor cut by the expectation.
TEST(ResponseSlot, ExpectedAnswerTimeChangesNeitherEarlyAnswersNorTheTimeOut) {
  ResponseSlot slot;
  slot.OpenEvent();
  slot.Arm(RESP_VOLTAGE);
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Deliver(slot, {0x8C, 52});
  });
  auto t0 = Clock::now();
  ASSERT_TRUE(slot.WaitResponse(RESP_VOLTAGE, 2000, std::chrono::milliseconds(1500)));
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1000));
  reader.join();
  EXPECT_EQ(slot.Awaited().data[0], 52);

  slot.Arm(RESP_VOLTAGE);
  t0 = Clock::now();
  EXPECT_FALSE(slot.WaitResponse(RESP_VOLTAGE, 60, std::chrono::milliseconds(200)));
  const auto waited = Clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(60));
  EXPECT_LT(waited, std::chrono::milliseconds(180));
}

// The whole host stops (a paused virtual machine) through the end of a 100 ms
// window: the programmer's answer, held up as long, comes right after it goes
// on and is still taken; with no answer at all the wait still ends soon.
TEST(ResponseSlot, TimeTheHostStoodStillIsNotCountedAgainstTheProgrammer) {
  for (const bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "answered after the pause" : "never answered");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ResponseSlot slot;
      slot.OpenEvent();
      slot.Arm(RESP_VOLTAGE);
      // The programmer's side answers 10 ms after it notices it was stopped.
      std::thread programmer([&] {
        const char one = 1;
        if (::write(ready[1], &one, 1) != 1) ::_exit(3);
        auto last = Clock::now();
        for (int i = 0; i < 2000; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          const auto now = Clock::now();
          if (now - last > std::chrono::milliseconds(100)) break;
          last = now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (answers) Deliver(slot, {0x8C, 79});
      });
      const auto t0 = Clock::now();
      const bool ok = slot.WaitResponse(RESP_VOLTAGE, 100);
      const auto waited = Clock::now() - t0;
      programmer.join();
      ::_exit(ok ? 0 : waited < std::chrono::seconds(2) ? 1 : 2);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(child, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(child, SIGCONT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), answers ? 0 : 1);
  }
}

TEST(ResponseSlot, AnswerFromAnotherThreadWakesTheWaiterEarly) {
  ResponseSlot slot;
  slot.OpenEvent();
  slot.Arm(RESP_VOLTAGE);
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Deliver(slot, {0x8B, 0x00});
    Deliver(slot, {0x8C, 79});
  });
  const auto t0 = Clock::now();
  const bool ok = slot.WaitResponse(RESP_VOLTAGE, 2000);
  const auto waited = Clock::now() - t0;
  reader.join();
  ASSERT_TRUE(ok);
  EXPECT_EQ(slot.Awaited().data[0], 79);
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
}

TEST(ResponseSlot, LateDuplicateDoesNotSatisfyTheNextWait) {
  ResponseSlot slot;
  slot.OpenEvent();
  EXPECT_FALSE(slot.WaitResponse(RESP_NAME, 10));
  Deliver(slot, {0x89, 'X', 0});  // the answer to the wait that gave up
  // A wait that did not arm again must not take the stale answer.
  EXPECT_FALSE(slot.WaitResponse(RESP_NAME, 10));
}

TEST(ResponseSlot, ClosingTheEventReleasesAWaiter) {
  ResponseSlot slot;
  slot.OpenEvent();
  slot.Arm(RESP_DEVICE);
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    slot.CloseEvent();
  });
  const auto t0 = Clock::now();
  EXPECT_FALSE(slot.WaitResponse(RESP_DEVICE, 5000));
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));
  closer.join();
}

TEST(ResponseSlot, SwitchReportsReachTheHandlerWithTheirState) {
  ResponseSlot slot;
  std::vector<bool> seen;
  slot.SetSwitchHandler([&](bool pressed) { seen.push_back(pressed); });
  Deliver(slot, {0x8B, 0x01});
  Deliver(slot, {0x8B, 0x00});
  Deliver(slot, {0x8B, 0x03});  // only bit 0 counts
  Deliver(slot, {0x8B, 0x02});
  Deliver(slot, {0x84, 0x01});  // not a switch report
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true, false}));
}

TEST(ResponseSlot, FullDataIsCopied) {
  ResponseSlot slot;
  slot.OpenEvent();
  slot.Arm(RESP_DATA);
  Bytes payload{0x84};
  for (int i = 0; i < 256; ++i) payload.push_back(static_cast<std::uint8_t>(255 - i));
  Deliver(slot, payload);
  ASSERT_TRUE(slot.WaitResponse(RESP_DATA, 50));
  ASSERT_EQ(slot.Awaited().length, 256);
  EXPECT_EQ(slot.Awaited().data[0], 255);
  EXPECT_EQ(slot.Awaited().data[255], 0);
}

}  // namespace
}  // namespace qmx
