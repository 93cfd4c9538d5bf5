// The program front end's set-up and failure paths against the simulator:
// unanswered set-ups, cancel, a missing or mismatched part, the last-error
// rule, and a programmer that hangs in the middle of a write.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "core/memory/part_target.h"
#include "tests/e2e/memory_fixture.h"

namespace qmx::test {
namespace {

using ProgramSetUp = MemoryFixture;

TEST_F(ProgramSetUp, NoAnswerAbandonsWithItsOwnLine) {
  Select(kFamilyMicrowire, 1);
  sim.DropNextAnswer(CHK_DEVICE);
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 0);
  EXPECT_EQ(op.lines, std::vector<std::string>{"プログラマが応答しません。"});
  EXPECT_EQ(op.errorIndications, 1);  // Microwire signals the failed set-up
  Settle();
  EXPECT_EQ(CommandsOf(DEV_CTRL).back().args, Bytes{DEVCTRL_SUPPLY_OFF});
  EXPECT_TRUE(CommandsOf(READ_DATA).empty());
  // A checksum that loses an answer says so instead of showing no sum at all.
  sim.DropNextAnswer(READ_DATA);
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kChecksum), 0);
  EXPECT_EQ(op.Last(), "チェックサムの取得でエラーが発生しました。");
}

// A stop asked for mid-pass ends it before the next block or page, leaves
// the part unpowered and says so; nothing is reported as done.
TEST_F(ProgramSetUp, CancelStopsBetweenBlocksAndPages) {
  Select(kFamilyI2c, 2);  // 24C02, pages of one byte
  op.cancelAfter = 10;
  EXPECT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 0);
  EXPECT_EQ(op.Last(), "中止しました。");
  EXPECT_EQ(CommandsOf(WRITE_DONE).size(), 10u);
  EXPECT_FALSE(sim.State().supplyOn);
  op.progressCalls = 0;
  op.cancelAfter = 5;
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kChecksum), 0);
  EXPECT_EQ(op.Last(), "中止しました。");
  // Blocks already sent ahead of their answers were read; none after them.
  EXPECT_EQ(CommandsOf(READ_DATA).size(), 5u + kReadDepth - 1);
  EXPECT_FALSE(sim.State().supplyOn);
}

TEST_F(ProgramSetUp, MissingPartIsReported) {
  Select(kFamilyI2c, 2);
  sim.RemovePart();
  EXPECT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 0);
  ASSERT_EQ(op.lines.size(), 1u);
  EXPECT_EQ(op.lines[0], "デバイスが挿入されていません。");
  EXPECT_EQ(op.errorIndications, 0);  // I2C does not
  EXPECT_TRUE(CommandsOf(WRITE_DONE).empty());
}

TEST_F(ProgramSetUp, SizeMismatchAsksAndHonoursTheAnswer) {
  Select(kFamilyMicrowire, 1);  // the window says 93C46 ...
  ASSERT_TRUE(sim.InsertPart("93C86"));  // ... the socket holds a 93C86
  op.answerOk = false;
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 0);
  EXPECT_EQ(op.questions, 1);
  EXPECT_EQ(op.lastQuestion, "デバイスのメモリサイズが異なります。このまま続行しますか？|メモリサイズエラー");
  EXPECT_EQ(op.lines[0], "デバイスのメモリサイズが異なります。");
  EXPECT_TRUE(CommandsOf(READ_DATA).empty());

  op.answerOk = true;
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 1);
  EXPECT_EQ(op.questions, 2);
  EXPECT_EQ(CommandsOf(READ_DATA).size(), 8u);
}

TEST_F(ProgramSetUp, UndeterminedSizeIsOnlyMentioned) {
  Select(kFamilyMicrowire, 1);
  sim.RemovePart();
  sim.SetPartPresent(true, 1);  // a programmer that could not count the address bits
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kChecksum), 1);
  ASSERT_FALSE(op.lines.empty());
  EXPECT_EQ(op.lines[0], "このデバイスは、メモリサイズが識別できません。。");
  EXPECT_EQ(op.questions, 0);
}

TEST_F(ProgramSetUp, WriteEndsOnTheAnswerToTheLastErrorQuery) {
  Select(kFamilyMicrowire, 1);
  sim.DropNextAnswer(GET_LAST_ERR, 2);  // before and after the pass
  EXPECT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 0);
  EXPECT_EQ(op.Last(), "エラーが発生しました。");
  // I2C and SPI are not judged on the error, but without the answer nothing
  // says that the queued pages were written: the programmer may be gone.
  Select(kFamilyI2c, 2);
  sim.DropNextAnswer(GET_LAST_ERR);
  EXPECT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 0);
  EXPECT_EQ(op.Last(), "エラーが発生しました。");
  Settle();
}

TEST_F(ProgramSetUp, NoFamilyOrRowSendsNothing) {
  settings.family = -1;
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 0);
  settings.family = kFamilySpi;
  settings.row = 7;
  EXPECT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 0);
  Settle();
  EXPECT_EQ(sim.Log().size(), 3u);  // the name query and the settle query only
}

class HungProgrammer : public MemoryFixture {
 protected:
  HungProgrammer() : MemoryFixture(sim::Timing::kReal) {}
};

// Firmware that hangs in the middle of a long pass: the pass fails at its
// next checkpoint, long before the pseudo-terminal fills, and the link closes
// dropping what the port still held. Recovered, the programmer writes only
// what it had taken (a pseudo-terminal keeps what its reader side buffered),
// and a new connection ends any cut frame first.
TEST_F(HungProgrammer, WritePassFailsAtItsNextCheckpointAndDropsWhatWasQueued) {
  using namespace std::chrono_literals;
  Select(kFamilyI2c, RowOf(kFamilyI2c, "24C64"));
  settings.pageSize = "1";
  settings.maxWriteTime = "10";  // five pages to a checkpoint interval
  std::size_t hungAt = 0;
  std::thread hang([this, &hungAt] {
    sim.WaitForLog(200, 10s);
    sim.Hang();
    hungAt = sim.Log().size();
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kErase), 0);
  const auto took = std::chrono::steady_clock::now() - t0;
  hang.join();
  EXPECT_LT(took, std::chrono::milliseconds(link.Channel().timeoutMs));
  EXPECT_EQ(op.Last(), "エラーが発生しました。");
  EXPECT_FALSE(link.IsOpen());

  sim.Resume();
  bool reopened = false;
  for (const auto until = std::chrono::steady_clock::now() + 10s; !reopened && std::chrono::steady_clock::now() < until;) {
    link.Disconnect();
    reopened = link.OpenPort(sim.PortPath()) && link.QueryName().has_value();
  }
  ASSERT_TRUE(reopened);
  const auto log = sim.Log();
  ASSERT_GT(log.size(), hungAt);
  int pagesAfter = 0;
  for (auto c = log.begin() + static_cast<std::ptrdiff_t>(hungAt); c != log.end(); ++c) {
    if (c->code != WRITE_DONE) continue;
    ++pagesAfter;
    EXPECT_LE(c->args.size(), 1u);  // nothing ran into a cut frame
  }
  EXPECT_LE(pagesAfter, 11);  // the two intervals queued when it hung, no more
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].code, DEV_CTRL);
  EXPECT_EQ(log.back().code, GET_NAME);
}

}  // namespace
}  // namespace qmx::test
