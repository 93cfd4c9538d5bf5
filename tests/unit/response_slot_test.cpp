#include "core/link/response_slot.h"

#include <gtest/gtest.h>

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
