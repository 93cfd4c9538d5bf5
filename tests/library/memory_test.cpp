// Memory exports through the library by device number, asserted on the part.
#include <cstdlib>
#include <numeric>
#include <thread>
#include <tuple>

#include "tests/library/library_fixture.h"

namespace qmxlib {
namespace {

struct PartCase {
  const char* part;
  int family;
  int variant;
  int device;
  bool realTiming = false;
  int page = 0;  // write block size
};

class QmxMemoryTest : public QmxLibraryTest, public ::testing::WithParamInterface<PartCase> {
 protected:
  void SetUp() override {
    QmxLibraryTest::SetUp();
    if (GetParam().realTiming) {
      qmx::sim::Options options;
      options.timing = qmx::sim::Timing::kReal;
      StartSim(options);
    }
    sim->SetModel("QMX-71C");
    ASSERT_TRUE(sim->InsertPart(GetParam().part));
    ASSERT_EQ(QmxOpen(GetParam().family, GetParam().variant, 50, 0), 1);
    size = static_cast<std::int32_t>(sim->PartContents().size());
    ASSERT_GT(size, 0);
  }
  std::int32_t size = 0;
};

TEST_P(QmxMemoryTest, RangesRoundTripThroughThePart) {
  const int dev = GetParam().device;
  const Bytes pattern = RandomBytes(static_cast<std::size_t>(size), 40u + static_cast<unsigned>(dev));
  ASSERT_EQ(QmxWrite(dev, 0, pattern.data(), size, GetParam().page), 1);
  // The write returned as soon as its pages were streamed; the next export
  // that waits gives the programmer the time they take.
  ASSERT_EQ(QmxCompare(dev, 0, pattern.data(), size, 128), 1);
  ASSERT_EQ(sim->PartContents(), pattern);

  // Whole-part passes use 128-byte blocks: a default of one byte per round
  // trip would make thousands of 50 ms windows, too many for a sanitized run.
  Bytes back(static_cast<std::size_t>(size), 0xCC);
  ASSERT_EQ(QmxRead(dev, 0, back.data(), size, 128), 1);
  EXPECT_EQ(back, pattern);
  Bytes head(64, 0xCC);  // the default block size, over a short range
  ASSERT_EQ(QmxRead(dev, 0, head.data(), 64, 0), 1);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), pattern.begin()));

  // A middle range with a block size above the limit, cut to 256.
  const std::int32_t start = size / 4;
  const std::int32_t len = size / 2 - 2;
  Bytes middle(static_cast<std::size_t>(len) + 4, 0xCC);
  ASSERT_EQ(QmxRead(dev, start, middle.data(), len, 1000), 1);
  EXPECT_TRUE(std::equal(middle.begin(), middle.begin() + len, pattern.begin() + start));
  EXPECT_EQ(middle[static_cast<std::size_t>(len)], 0xCC);

  // Whole-range checks in large blocks: each round trip is one more answer
  // window a loaded machine can miss; small blocks get a short range.
  const std::int32_t sum = std::accumulate(pattern.begin() + start, pattern.begin() + start + len, 0);
  EXPECT_EQ(QmxChecksum(dev, start, nullptr, len, 128), sum);
  const std::int32_t headSum = std::accumulate(pattern.begin(), pattern.begin() + 64, 0);
  EXPECT_EQ(QmxChecksum(dev, 0, nullptr, 64, 16), headSum);
  EXPECT_EQ(QmxCompare(dev, 0, pattern.data(), size, 128), 1);
  Bytes changed = pattern;
  changed[static_cast<std::size_t>(size / 2)] ^= 0x40;
  EXPECT_EQ(QmxCompare(dev, 0, changed.data(), size, 128), 0);
  EXPECT_EQ(QmxBlankChk(dev, 0, nullptr, size, 128), 0);

  ASSERT_EQ(QmxErase(dev, 0, nullptr, size, GetParam().page), 1);
  EXPECT_EQ(QmxBlankChk(dev, 0, nullptr, size, 128), 1);
  EXPECT_EQ(sim->PartContents(), Bytes(static_cast<std::size_t>(size), 0xFF));

  // A host that closes right behind a write still gets every page written.
  ASSERT_EQ(QmxWrite(dev, 0, pattern.data(), size, GetParam().page), 1);
  QmxClose();
  EXPECT_EQ(sim->PartContents(), pattern);
}

// Reads sent ahead of their answers change only the timing: the frames on
// the wire are those of one block after another, and so is the data.
TEST_P(QmxMemoryTest, ReadsSentAheadAreTheSameFramesInTheSameOrder) {
  const int dev = GetParam().device;
  const auto readLogged = [&](Bytes& out) {
    Synced();
    sim->ClearLog();
    EXPECT_EQ(QmxRead(dev, 0, out.data(), size, 64), 1);
    std::vector<std::pair<std::uint8_t, Bytes>> frames;
    for (const auto& c : Synced()) frames.emplace_back(c.code, c.args);
    return frames;
  };
  Bytes oneByOne(static_cast<std::size_t>(size));
  ::setenv("QMX71_PIPELINE", "0", 1);
  const auto waited = readLogged(oneByOne);
  EXPECT_EQ(oneByOne, sim->PartContents());
  for (const char* depth : {"", "2", "8"}) {
    SCOPED_TRACE(std::string("QMX71_PIPELINE=") + depth);
    if (*depth)
      ::setenv("QMX71_PIPELINE", depth, 1);
    else
      ::unsetenv("QMX71_PIPELINE");
    Bytes ahead(static_cast<std::size_t>(size));
    EXPECT_EQ(readLogged(ahead), waited);
    EXPECT_EQ(ahead, oneByOne);
  }
  ::unsetenv("QMX71_PIPELINE");
}

TEST_P(QmxMemoryTest, BadArgumentsAreRefusedWithoutSending) {
  const int dev = GetParam().device;
  Synced();
  const std::size_t before = sim->Log().size();
  Bytes buf(16, 0xCC);
  EXPECT_EQ(QmxRead(dev, 0, nullptr, 16, 0), 0);
  EXPECT_EQ(QmxCompare(dev, 0, nullptr, 16, 0), 0);
  EXPECT_EQ(QmxWrite(dev, 0, nullptr, 16, 0), 0);
  EXPECT_EQ(QmxRead(dev, 0, buf.data(), -2, 0), 0);
  EXPECT_EQ(QmxErase(dev, 0, nullptr, -2, 0), 0);
  EXPECT_EQ(QmxRead(dev, size - 8, buf.data(), 16, 0), 0);  // past the part
  EXPECT_EQ(QmxRead(250, 0, buf.data(), 16, 0), 0);         // no such device
  EXPECT_EQ(QmxWrite(-1, 0, buf.data(), 16, 0), 0);
  EXPECT_EQ(Synced().size(), before);  // nothing besides the sync queries
  EXPECT_EQ(buf, Bytes(16, 0xCC));
}

std::string CaseName(const ::testing::TestParamInfo<PartCase>& info) {
  return "P" + std::string(info.param.part) + "_D" + std::to_string(info.param.device);
}

INSTANTIATE_TEST_SUITE_P(Parts, QmxMemoryTest,
                         ::testing::Values(PartCase{"93C46", 0, 0, 1}, PartCase{"93C46", 0, 0, 101},
                                           PartCase{"9016", 0, 1, 204}, PartCase{"24C64", 1, 0, 7},
                                           PartCase{"25C640", 2, 0, 6}),
                         CaseName);
// Datasheet timing: small parts of each kind, and the largest SPI part with
// its real 32-byte pages.
INSTANTIATE_TEST_SUITE_P(RealTiming, QmxMemoryTest,
                         ::testing::Values(PartCase{"93C46", 0, 0, 1, true}, PartCase{"93C46", 0, 0, 101, true},
                                           PartCase{"9010", 0, 1, 200, true}, PartCase{"24C02", 1, 0, 2, true, 8},
                                           PartCase{"25C010", 2, 0, 0, true, 16},
                                           PartCase{"25C640", 2, 0, 6, true, 32}),
                         CaseName);

TEST_F(QmxLibraryTest, WordOrganisedReadUsesTwoByteBlocks) {
  sim->SetModel("QMX-71A");
  ASSERT_TRUE(sim->InsertPart("93C46"));
  ASSERT_EQ(QmxOpen(0, 0, 50, 0), 1);
  Bytes buf(128);
  ASSERT_EQ(QmxRead(1, 0, buf.data(), 128, 0), 1);
  const Log reads = CommandsOf(Synced(), qmx::sim::READ_DATA);
  ASSERT_EQ(reads.size(), 64u);
  for (const auto& r : reads) EXPECT_EQ(r.args, Bytes{2});
  EXPECT_EQ(buf, sim->PartContents());
}

// Word parts are addressed by words: odd blocks step by whole words, and an
// odd start (which would give the byte before it) is refused.
TEST_F(QmxLibraryTest, WordOrganisedReadsNeverMisalign) {
  sim->SetModel("QMX-71C");
  for (const auto& [part, variant, device] : {std::tuple{"93C46", 0, 1}, std::tuple{"9016", 1, 204}}) {
    ASSERT_TRUE(sim->InsertPart(part));
    ASSERT_EQ(QmxOpen(0, variant, 50, 0), 1);
    const auto size = static_cast<std::int32_t>(sim->PartContents().size());
    Bytes contents = RandomBytes(static_cast<std::size_t>(size), 31);
    contents[0] = contents[1] = 0xFF;
    ASSERT_TRUE(sim->SetPartContents(contents));
    const std::int32_t sum = std::accumulate(contents.begin(), contents.end(), 0);
    for (const std::int32_t block : {1, 3, 255}) {
      Bytes buf(static_cast<std::size_t>(size), 0xCC);
      ASSERT_EQ(QmxRead(device, 0, buf.data(), size, block), 1) << part << " block " << block;
      EXPECT_EQ(buf, contents) << part << " block " << block;
      EXPECT_EQ(QmxBlankChk(device, 0, nullptr, size, block), 0) << part << " block " << block;
      EXPECT_EQ(QmxChecksum(device, 0, nullptr, size, block), sum) << part << " block " << block;
    }
    Synced();
    const std::size_t before = sim->Log().size();
    Bytes buf(4, 0xCC);
    EXPECT_EQ(QmxRead(device, 1, buf.data(), 4, 0), 0);
    EXPECT_EQ(QmxCompare(device, 3, contents.data() + 3, 4, 0), 0);
    EXPECT_EQ(Synced().size(), before);
    EXPECT_EQ(buf, Bytes(4, 0xCC));
    // An odd length from an even start is fine: the last word is cut.
    ASSERT_EQ(QmxRead(device, 2, buf.data(), 3, 0), 1);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 3, contents.begin() + 2));
    QmxClose();
  }
}

// A range that starts inside a page is cut where the part's own page ends;
// sent from the start, the page would wrap round inside the chip.
TEST_F(QmxLibraryTest, UnalignedWritesKeepToThePartsPages) {
  sim->SetModel("QMX-71C");
  struct Case {
    const char* part;
    int family;
    int device;
    std::int32_t start, length, block;
  };
  for (const Case& c : {Case{"24C02", 1, 2, 4, 8, 8}, Case{"24C02", 1, 2, 3, 50, 8}, Case{"24C64", 1, 7, 16, 256, 256},
                        Case{"24C16", 1, 5, 250, 40, 16}, Case{"25C640", 2, 6, 8, 32, 32},
                        Case{"25C040", 2, 2, 250, 20, 16}}) {
    ASSERT_TRUE(sim->InsertPart(c.part));
    ASSERT_EQ(QmxOpen(c.family, 0, 50, 0), 1);
    const Bytes before = sim->PartContents();
    const Bytes data = RandomBytes(static_cast<std::size_t>(c.length), static_cast<unsigned>(c.start));
    ASSERT_EQ(QmxWrite(c.device, c.start, data.data(), c.length, c.block), 1) << c.part;
    Synced();
    Bytes want = before;
    std::copy(data.begin(), data.end(), want.begin() + c.start);
    EXPECT_EQ(sim->PartContents(), want) << c.part << " from " << c.start;
    EXPECT_EQ(QmxCompare(c.device, c.start, data.data(), c.length, 128), 1) << c.part;
    QmxClose();
  }
}

// Block sizes at and around their limits, seen as the READ_DATA counts sent.
TEST_F(QmxLibraryTest, ReadBlockSizesAreClampedAndDefaulted) {
  sim->SetModel("QMX-71C");
  ASSERT_TRUE(sim->InsertPart("25C640"));
  ASSERT_EQ(QmxOpen(2, 0, 50, 0), 1);
  const Bytes contents = sim->PartContents();
  auto countsFor = [&](std::int32_t length, std::int32_t block) {
    Synced();
    sim->ClearLog();
    Bytes buf(static_cast<std::size_t>(length), 0xCC);
    EXPECT_EQ(QmxRead(6, 0, buf.data(), length, block), 1);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), contents.begin())) << "block " << block;
    std::vector<int> counts;
    for (const auto& r : CommandsOf(Synced(), qmx::sim::READ_DATA)) counts.push_back(r.args.at(0));
    return counts;
  };
  EXPECT_EQ(countsFor(3, -7), (std::vector<int>{1, 1, 1}));  // negative: the default
  EXPECT_EQ(countsFor(3, 0), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(countsFor(600, 256), (std::vector<int>{0, 0, 88}));  // 256 goes as 0
  EXPECT_EQ(countsFor(600, 257), (std::vector<int>{0, 0, 88}));
  EXPECT_EQ(countsFor(5, 255), (std::vector<int>{5}));
}

TEST_F(QmxLibraryTest, LargeI2cReadBlocksGoAsTwoTransfers) {
  sim->SetModel("QMX-71C");
  ASSERT_TRUE(sim->InsertPart("24C64"));
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  Synced();
  sim->ClearLog();
  Bytes buf(300, 0xCC);
  ASSERT_EQ(QmxRead(7, 100, buf.data(), 300, 200), 1);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), sim->PartContents().begin() + 100));
  std::vector<int> counts;
  for (const auto& r : CommandsOf(Synced(), qmx::sim::READ_DATA)) counts.push_back(256 - r.args.at(0));
  EXPECT_EQ(counts, (std::vector<int>{128, 128, 44}));
}

TEST_F(QmxLibraryTest, DefaultWriteBlockIsOneByteAndLargeBlocksAreClamped) {
  sim->SetModel("QMX-71C");
  ASSERT_TRUE(sim->InsertPart("24C64"));
  ASSERT_EQ(QmxOpen(1, 0, 50, 0), 1);
  const Bytes pattern = RandomBytes(512, 77);
  Synced();
  sim->ClearLog();
  ASSERT_EQ(QmxWrite(7, 0, pattern.data(), 4, 0), 1);
  Log writes = CommandsOf(Synced(), qmx::sim::WRITE_DONE);
  ASSERT_EQ(writes.size(), 4u);
  for (const auto& w : writes) EXPECT_EQ(w.args.size(), 1u);
  sim->ClearLog();
  ASSERT_EQ(QmxWrite(7, 0, pattern.data(), 512, 5000), 1);  // 256, sent as 32-byte pages
  writes = CommandsOf(Synced(), qmx::sim::WRITE_DONE);
  EXPECT_EQ(writes.size(), 16u);
  const Bytes contents = sim->PartContents();
  EXPECT_EQ(Bytes(contents.begin(), contents.begin() + 512), pattern);
}

// Firmware that stops taking bytes during a long erase: the export fails
// within the write time-out instead of feeding batch after batch into a
// stalled port, and an open after the programmer recovers reconnects.
TEST_F(QmxLibraryTest, HungProgrammerFailsTheWriteWithinTheWriteTimeout) {
  qmx::sim::Options options;
  options.timing = qmx::sim::Timing::kReal;
  StartSim(options);
  ASSERT_TRUE(sim->InsertPart("24C64"));
  ASSERT_EQ(QmxOpen(1, 0, 10, 0), 1);
  std::thread hang([this] {
    sim->WaitForLog(200, 10s);
    sim->Hang();
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(QmxErase(7, 0, nullptr, 8192, 1), 0);
  const auto took = std::chrono::steady_clock::now() - t0;
  hang.join();
  EXPECT_LT(took, 5s);
  EXPECT_EQ(QmxFrmVer(), 0);  // the connection is closed
  // Recovered, the programmer first works through what it had taken.
  sim->Resume();
  bool reopened = false;
  for (const auto until = std::chrono::steady_clock::now() + 10s; !reopened && std::chrono::steady_clock::now() < until;) {
    reopened = QmxOpen(1, 0, 10, 0) == 1;
    if (!reopened) QmxClose();
  }
  ASSERT_TRUE(reopened);
  EXPECT_NE(QmxFrmVer(), 0);
  for (const auto& c : CommandsOf(sim->Log(), qmx::sim::WRITE_DONE)) EXPECT_LE(c.args.size(), 1u);
}

}  // namespace
}  // namespace qmxlib
