// qmx71 end to end: the real program against the simulated programmer,
// judged on what the part holds, what it prints and its exit code.
#include "tests/cli/cli_fixture.h"

namespace {

using namespace qmx::clitest;

struct PartCase {
  const char* part;
  const char* org;  // extra arguments
  const char* model;
  qmx::sim::Timing timing = qmx::sim::Timing::kInstant;
};

class CliEveryFamily : public CliTest, public ::testing::WithParamInterface<PartCase> {};

// The whole bench cycle per family: program from HEX, read back, verify,
// catch a changed byte, checksum, erase, blank check.
TEST_P(CliEveryFamily, ProgramReadVerifyEraseBlank) {
  StartSim(GetParam().model, GetParam().timing);
  ASSERT_TRUE(sim->InsertPart(GetParam().part));
  const std::string part = std::string(GetParam().part) + " " + GetParam().org;
  const std::size_t size = Contents().size();
  const Bytes pattern = RandomBytes(size, 5);
  const std::string bin = File("pattern.bin", pattern);
  const std::string hex = (dir / "pattern.hex").string();

  // A HEX file of the pattern, made by the tool itself from a part read.
  ASSERT_TRUE(sim->SetPartContents(pattern));
  EXPECT_RUN(Run("read " + part + " -o '" + hex + "'"), 0);
  EXPECT_EQ(Slurp(hex).substr(0, 1), ":");
  ASSERT_TRUE(sim->SetPartContents(Bytes(size, 0x00)));

  const Result prog = Run("program " + part + " '" + hex + "'");
  EXPECT_RUN(prog, 0);
  EXPECT_NE(prog.out.find("verify: " + std::to_string(size) + " bytes match"), std::string::npos);
  EXPECT_EQ(Contents(), pattern);

  const std::string back = (dir / "back.bin").string();
  EXPECT_RUN(Run("read " + part + " -o '" + back + "'"), 0);
  const std::string got = Slurp(back);
  EXPECT_EQ(Bytes(got.begin(), got.end()), pattern);
  EXPECT_RUN(Run("verify " + part + " '" + bin + "'"), 0);

  Bytes changed = pattern;
  changed[size / 3] ^= 0x21;
  ASSERT_TRUE(sim->SetPartContents(changed));
  const Result mismatch = Run("verify " + part + " '" + hex + "'");
  EXPECT_RUN(mismatch, 1);
  char where[96];
  std::snprintf(where, sizeof where, "first at 0x%04zX: part 0x%02X, file 0x%02X", size / 3, changed[size / 3],
                pattern[size / 3]);
  EXPECT_NE(mismatch.err.find(where), std::string::npos) << mismatch.err;

  const Result sum = Run("checksum " + part);
  EXPECT_RUN(sum, 0);
  const unsigned expected = std::accumulate(changed.begin(), changed.end(), 0u) & 0xFFFF;
  char sumText[8];
  std::snprintf(sumText, sizeof sumText, "%04X\n", expected);
  EXPECT_EQ(sum.out, sumText);

  EXPECT_RUN(Run("blank " + part), 1);
  EXPECT_RUN(Run("erase " + part), 0);
  EXPECT_EQ(Contents(), Bytes(size, 0xFF));
  EXPECT_RUN(Run("blank " + part), 0);
}

std::string CaseName(const ::testing::TestParamInfo<PartCase>& info) {
  std::string org = info.param.org;
  return std::string("P") + info.param.part + (org.find("x8") != std::string::npos ? "_x8" : "") +
         (org.find("page") != std::string::npos ? "_paged" : "");
}

INSTANTIATE_TEST_SUITE_P(Parts, CliEveryFamily,
                         ::testing::Values(PartCase{"93C46", "", "QMX-71A"}, PartCase{"93C66", "--org x8", "QMX-71C"},
                                           PartCase{"9016", "", "QMX-71C"}, PartCase{"24C02", "", "QMX-71A"},
                                           PartCase{"24C64", "--page-size 32", "QMX-71C"}, PartCase{"25C040", "", "QMX-71B"},
                                           PartCase{"25C640", "", "QMX-71C"}),
                         CaseName);
constexpr auto kReal = qmx::sim::Timing::kReal;
// Datasheet timing: a small part of each kind, and the largest I2C part, with
// the pages --page-size auto offers end to end (the simulator wraps a write
// inside its own page, so a page larger than the part's would not verify).
INSTANTIATE_TEST_SUITE_P(RealTiming, CliEveryFamily,
                         ::testing::Values(PartCase{"93C46", "--page-size auto", "QMX-71A", kReal},
                                           PartCase{"9010", "", "QMX-71C", kReal},
                                           PartCase{"24C02", "--page-size auto", "QMX-71A", kReal},
                                           PartCase{"25C010", "--page-size auto", "QMX-71B", kReal},
                                           PartCase{"24C64", "--page-size auto", "QMX-71C", kReal}),
                         CaseName);

TEST_F(CliTest, PartsListsEveryFamilyWithSizesAndNumbers) {
  const Result r = Run("parts");
  EXPECT_RUN(r, 0);
  for (const char* text : {"Microwire:", "I2C:", "SPI:", "93C86", "9016", "24C64", "25C640"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  EXPECT_NE(r.out.find("24C64      8192 bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("6 (x16), 106 (x8)"), std::string::npos) << r.out;  // 93C86
  EXPECT_NE(r.out.find("204 (Series90)"), std::string::npos) << r.out;   // 9016
}

TEST_F(CliTest, InfoShowsTheProgrammerAndWhetherAPartAnswers) {
  sim->SetVccReading(79);  // 26100 / 79 = 330 centivolts
  ASSERT_TRUE(sim->InsertPart("24C16"));
  const Result r = Run("info");
  EXPECT_RUN(r, 0);
  EXPECT_NE(r.out.find("port:       " + link), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("QMX-71C"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("firmware:   1.00"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("supply:     3.30 V"), std::string::npos) << r.out;
  // The programmer's own clock before anything set one.
  EXPECT_NE(r.out.find("I2C:        clock 100000 Hz"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("part present"), std::string::npos) << r.out;
}

TEST_F(CliTest, BinaryFilesArePlacedAtTheStartAndMustFit) {
  ASSERT_TRUE(sim->InsertPart("24C04"));  // 512 bytes
  const Bytes before = Contents();
  const Bytes piece = RandomBytes(100, 8);
  EXPECT_RUN(Run("write 24C04 '" + File("piece.bin", piece) + "' --start 300"), 0);
  Bytes want = before;
  std::copy(piece.begin(), piece.end(), want.begin() + 300);
  EXPECT_EQ(Contents(), want);

  EXPECT_RUN(Run("write 24C04 '" + File("long.bin", RandomBytes(513, 9)) + "'"), 2);
  EXPECT_RUN(Run("write 24C04 '" + File("late.bin", piece) + "' --start 450"), 2);
  EXPECT_EQ(Contents(), want);  // nothing was sent for the refused files

  const std::string out = (dir / "range.bin").string();
  EXPECT_RUN(Run("read 24C04 -o '" + out + "' --start 300 --length 100"), 0);
  const std::string got = Slurp(out);
  EXPECT_EQ(Bytes(got.begin(), got.end()), piece);
}

TEST_F(CliTest, RangedHexReadKeepsItsAddresses) {
  ASSERT_TRUE(sim->InsertPart("24C64"));
  const Bytes pattern = RandomBytes(8192, 12);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const std::string hex = (dir / "range.hex").string();
  EXPECT_RUN(Run("read 24C64 -o '" + hex + "' --start 0x100 --length 32"), 0);
  const std::string text = Slurp(hex);
  EXPECT_EQ(text.substr(0, 9), ":10010000");
  EXPECT_NE(text.find("\r\n:10011000"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 13), ":00000001FF\r\n");
  // Verifying that file checks only its range.
  EXPECT_RUN(Run("verify 24C64 '" + hex + "' --start 0x100 --length 32"), 0);
}

TEST_F(CliTest, DamagedOrOversizedFilesAreUsageErrors) {
  ASSERT_TRUE(sim->InsertPart("24C02"));  // 256 bytes
  const Bytes before = Contents();
  const std::string badSum = TextFile("bad.hex", ":0400000001020304F0\r\n:00000001FF\r\n");
  const Result r1 = Run("write 24C02 '" + badSum + "'");
  EXPECT_RUN(r1, 2);
  EXPECT_NE(r1.err.find("damaged"), std::string::npos);
  const std::string beyond = TextFile("beyond.hex", ":020100001234B7\r\n:00000001FF\r\n");
  const Result r2 = Run("program 24C02 '" + beyond + "'");
  EXPECT_RUN(r2, 2);
  EXPECT_NE(r2.err.find("beyond 24C02"), std::string::npos) << r2.err;
  EXPECT_RUN(Run("write 24C02 '" + (dir / "missing.hex").string() + "'"), 2);
  EXPECT_RUN(Run("write 24C02 '" + File("data.txt", {1, 2}) + "'"), 2);  // format unknown
  EXPECT_RUN(Run("write 24C02 '" + File("data.txt", {1, 2}) + "' --format bin"), 0);
  EXPECT_EQ(Contents()[0], 1);
  EXPECT_EQ(Contents()[2], before[2]);
}

// Files and ranges that name no data must not pass for a programmed part.
TEST_F(CliTest, FilesAndRangesThatHoldNothingAreRefused) {
  ASSERT_TRUE(sim->InsertPart("24C02"));
  const Bytes before = RandomBytes(256, 21);
  ASSERT_TRUE(sim->SetPartContents(before));
  for (const char* text : {"", "S00600004844521B\nS1130000285F245F2212226A000424290008237C2A\n",
                           "0000: 12 34 56 78\n"}) {
    const Result r = Run("program 24C02 '" + TextFile("nothing.hex", text) + "'");
    EXPECT_RUN(r, 2);
    EXPECT_NE(r.err.find("no Intel HEX data"), std::string::npos) << r.err;
    EXPECT_RUN(Run("verify 24C02 '" + TextFile("nothing.hex", text) + "'"), 2);
  }
  EXPECT_RUN(Run("program 24C02 '" + File("empty.bin", {}) + "'"), 2);
  EXPECT_RUN(Run("write 24C02 '" + File("two.bin", {1, 2}) + "' --length 0"), 2);
  EXPECT_RUN(Run("erase 24C02 --start 0x10 --length -16"), 2);
  EXPECT_RUN(Run("write 24C02 '" + File("two.bin", {1, 2}) + "' --start 9223372036854775807"), 2);
  EXPECT_RUN(Run("write 24C02 '" + File("two.bin", {1, 2}) + "' --start -1"), 2);
  EXPECT_EQ(Contents(), before);

  // A file without its end record is written, with a warning that it may be cut short.
  const Result cut = Run("write 24C02 '" + TextFile("cut.hex", ":0400000001020304F2\r\n") + "'");
  EXPECT_RUN(cut, 0);
  EXPECT_NE(cut.err.find("no end record"), std::string::npos) << cut.err;
  EXPECT_EQ(Contents()[3], 4);
}

TEST_F(CliTest, UsageErrorsAndHelp) {
  EXPECT_RUN(Run(""), 2);
  EXPECT_RUN(Run("read 24C02"), 2);         // no output file
  EXPECT_RUN(Run("erase 99C99"), 2);        // no such part
  EXPECT_RUN(Run("erase 24C02 --org x8"), 2);
  EXPECT_RUN(Run("erase 93C46 --start 1 --length 2"), 2);  // half a word
  EXPECT_RUN(Run("erase 24C02 --start 200 --length 100"), 2);
  const Result help = Run("--help");
  EXPECT_RUN(help, 0);
  EXPECT_NE(help.out.find("4  programmer error"), std::string::npos);
}

TEST_F(CliTest, NoProgrammerNoPartAndRefusedFamily) {
  const Result none = Run("blank 24C02", "QMX71_PORT=");
  EXPECT_RUN(none, 3);
  EXPECT_NE(none.err.find("no programmer"), std::string::npos);

  // A port closed to this user: say so and how to open it, not that nothing answers.
  const bool root = ::geteuid() == 0;
  if (!root) fs::permissions(fs::canonical(link), fs::perms::none);
  const Result denied = Run("info", root ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "");
  if (!root) fs::permissions(fs::canonical(link), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_RUN(denied, 3);
  EXPECT_NE(denied.err.find("permission denied on " + link +
                            ": install the udev rule or join the dialout group"),
            std::string::npos)
      << denied.err;

  sim->RemovePart();
  const Result noPart = Run("blank 24C02");
  EXPECT_RUN(noPart, 3);
  EXPECT_NE(noPart.err.find("no part"), std::string::npos);

  StartSim("QMX-71A");
  ASSERT_TRUE(sim->InsertPart("25C640"));
  const Result refused = Run("blank 25C640");
  EXPECT_RUN(refused, 3);
  EXPECT_NE(refused.err.find("does not take SPI"), std::string::npos) << refused.err;
}

TEST_F(CliTest, UnansweredReadIsAProgrammerError) {
  ASSERT_TRUE(sim->InsertPart("24C64"));
  sim->DropNextAnswer(qmx::sim::READ_DATA);
  const Result r = Run("checksum 24C64");
  EXPECT_RUN(r, 4);
  EXPECT_NE(r.err.find("reading failed at 0x"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
}

// Firmware that stops taking bytes during a long erase: the tool gives up
// within the write time-out with a programmer error, and every page it had
// sent stayed whole.
TEST_F(CliTest, HungProgrammerFailsAnEraseWithinSeconds) {
  StartSim("QMX-71C", qmx::sim::Timing::kReal);
  ASSERT_TRUE(sim->InsertPart("24C64"));
  std::thread hang([this] {
    sim->WaitForLog(200, std::chrono::seconds(10));
    sim->Hang();
  });
  const auto t0 = std::chrono::steady_clock::now();
  const Result r = Run("erase 24C64 --page-size 1");
  const auto took = std::chrono::steady_clock::now() - t0;
  hang.join();
  EXPECT_RUN(r, 4);
  EXPECT_NE(r.err.find("erasing failed"), std::string::npos) << r.err;
  EXPECT_LT(took, std::chrono::seconds(6));
  sim->Resume();
  for (const auto& c : sim->Log()) {
    if (c.code == qmx::sim::WRITE_DONE) {
      EXPECT_LE(c.args.size(), 1u);
    }
  }
}

TEST_F(CliTest, DumpPrintsWholeLinesFromTheRangeStart) {
  ASSERT_TRUE(sim->InsertPart("93C46"));  // 128 bytes
  Bytes pattern(128);
  std::iota(pattern.begin(), pattern.end(), 0);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const Result bytes = Run("dump 93C46 --start 16 --length 32");
  EXPECT_RUN(bytes, 0);
  EXPECT_EQ(bytes.out,
            "00010:10 11 12 13 14 15 16 17-18 19 1A 1B 1C 1D 1E 1F\n"
            "00020:20 21 22 23 24 25 26 27-28 29 2A 2B 2C 2D 2E 2F\n");
  const Result words = Run("dump 93C46 --layout le --length 16");
  EXPECT_RUN(words, 0);
  EXPECT_EQ(words.out, "00000:0100 0302 0504 0706-0908 0B0A 0D0C 0F0E\n");
  EXPECT_RUN(Run("dump 93C46 --start 8"), 2);
}

TEST_F(CliTest, ClockAndWriteTimeReachTheProgrammer) {
  ASSERT_TRUE(sim->InsertPart("24C02"));
  EXPECT_RUN(Run("erase 24C02 --clock 100000 --write-time 20"), 0);
  const auto log = sim->Log();
  std::vector<qmx::sim::LoggedCommand> modes, freqs;
  for (const auto& c : log) {
    if (c.code == qmx::sim::SET_MODE) modes.push_back(c);
    if (c.code == qmx::sim::SET_FREQ) freqs.push_back(c);
  }
  ASSERT_EQ(modes.size(), 1u);
  EXPECT_EQ(modes[0].args, (Bytes{1, 0, 20}));
  ASSERT_EQ(freqs.size(), 1u);
  EXPECT_EQ(Run("info --clock 100000").out.find("clock 0 Hz"), std::string::npos);
  EXPECT_RUN(Run("erase 24C02 --write-time 0"), 2);
}

TEST_F(CliTest, ProgressOnlyOnATerminalAndNotWhenQuiet) {
  ASSERT_TRUE(sim->InsertPart("24C64"));
  const Result plain = Run("erase 24C64");
  EXPECT_RUN(plain, 0);
  EXPECT_EQ(plain.err.find('%'), std::string::npos) << plain.err;  // not a terminal: no bar
  const Result shown = RunOnTerminal("erase 24C64");
  EXPECT_RUN(shown, 0);
  EXPECT_NE(shown.out.find("100% 8192/8192 bytes"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("erased 24C64"), std::string::npos) << shown.out;
  const Result quiet = RunOnTerminal("--quiet erase 24C64");
  EXPECT_RUN(quiet, 0);
  EXPECT_EQ(quiet.out.find('%'), std::string::npos) << quiet.out;
  EXPECT_EQ(quiet.out.find("erased"), std::string::npos) << quiet.out;
}

}  // namespace
