// qmx71 end to end: the real program against the simulated programmer,
// judged on what the part holds, what it prints and its exit code.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/production/serial_state.h"
#include "sim/simulator.h"
#include "tests/random_bytes.h"
#include "tests/unit/fake_sysfs.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using qmx::testdata::RandomBytes;

std::string Slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("qmx71-cli-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    StartSim("QMX-71C");
  }
  void TearDown() override {
    if (sim) sim->Stop();
    fs::remove_all(dir);
  }
  void StartSim(const std::string& model, qmx::sim::Timing timing = qmx::sim::Timing::kInstant) {
    if (sim) sim->Stop();
    qmx::sim::Options options;
    options.timing = timing;
    // Against real timing the tool itself must wait for the programmer: the
    // part is looked at the moment the tool has exited.
    settleAfterRun = timing == qmx::sim::Timing::kInstant;
    sim = std::make_unique<qmx::sim::PtySimulator>(options);
    ASSERT_TRUE(sim->Start());
    sim->SetModel(model);
    link = (dir / "port").string();
    ASSERT_TRUE(sim->SetLinkPath(link));
  }

  // Runs qmx71 with the port named through the environment, bounded in time.
  Result Run(const std::string& args, const std::string& env = "") {
    const fs::path out = dir / "stdout", err = dir / "stderr";
    const std::string command = "QMX71_SYSFS_ROOT='" + (dir / "nosys").string() + "' QMX71_PORT='" + link + "' " +
                                env + " timeout 120 '" + QMX71_EXE + "' " + args + " >'" + out.string() + "' 2>'" +
                                err.string() + "' </dev/null";
    const int status = std::system(command.c_str());
    // The program's last frames may still sit in the pseudo-terminal.
    if (settleAfterRun) {
      EXPECT_TRUE(sim->WaitIdle(std::chrono::seconds(20)));
    }
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }
  // The same with both streams on a terminal (script(1) provides one).
  Result RunOnTerminal(const std::string& args) {
    const fs::path out = dir / "terminal";
    const std::string inner = "QMX71_PORT='" + link + "' '" + std::string(QMX71_EXE) + "' " + args;
    const std::string command =
        "timeout 120 script -qec \"" + inner + "\" /dev/null >'" + out.string() + "' 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(sim->WaitIdle(std::chrono::seconds(20)));
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(out);
    return r;
  }
  // The same in the background, for runs that wait for the part or run side
  // by side; `tag` names its output files. Reap collects it within a minute.
  pid_t Spawn(const std::string& args, const std::string& env, const std::string& tag) {
    const std::string command = "QMX71_SYSFS_ROOT='" + (dir / "nosys").string() + "' QMX71_PORT='" + link + "' " +
                                env + " exec '" + QMX71_EXE + "' " + args + " >'" + (dir / (tag + ".out")).string() +
                                "' 2>'" + (dir / (tag + ".err")).string() + "' </dev/null";
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }
  Result Reap(pid_t pid, const std::string& tag) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << tag << " did not end";
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (settleAfterRun) {
      EXPECT_TRUE(sim->WaitIdle(std::chrono::seconds(20)));
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir / (tag + ".out")), Slurp(dir / (tag + ".err"))};
  }
  // Until the background run has printed `text` `times` times.
  bool WaitForOutput(const std::string& tag, const std::string& text, int times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      const std::string out = Slurp(dir / (tag + ".out"));
      int seen = 0;
      for (auto at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++seen;
      if (seen >= times) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::string File(const std::string& name, const Bytes& bytes) {
    const fs::path p = dir / name;
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  std::string TextFile(const std::string& name, const std::string& text) {
    const fs::path p = dir / name;
    std::ofstream f(p, std::ios::binary);
    f << text;
    return p.string();
  }
  Bytes Contents() { return sim->PartContents(); }
  // What python3 prints running `code` (no single quotes in it) with `input` on standard input.
  std::string Python(const std::string& code, const std::string& input = "") {
    const std::string in = TextFile("python-in", input);
    const fs::path out = dir / "python-out";
    const std::string command = "python3 -c '" + code + "' <'" + in + "' >'" + out.string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << code << "\n" << Slurp(out);
    return Slurp(out);
  }

  fs::path dir;
  std::string link;
  std::unique_ptr<qmx::sim::PtySimulator> sim;
  bool settleAfterRun = true;
};

#define EXPECT_RUN(result, expectedCode) \
  EXPECT_EQ((result).code, expectedCode) << "stdout:\n" << (result).out << "stderr:\n" << (result).err

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

// A series of serial numbers across a part that fails: the failed part does
// not use up its number, and a log line cut by a crash leaves the next line whole.
TEST_F(CliTest, SerialNumbersMoveOnOnlyAfterAPartVerified) {
  ASSERT_TRUE(sim->InsertPart("24C02"));
  ASSERT_TRUE(sim->SetPartContents(Bytes(256, 0xCC)));
  const Bytes data = RandomBytes(256, 31);
  const std::string bin = File("lot \"7\", a.bin", data);
  const std::string state = (dir / "batch.state").string(), log = (dir / "runs.csv").string();
  const std::string serial = " --serial-at 0x10 --serial-format be16 --serial-step 5 --serial-state '" + state +
                             "' --log '" + log + "'";
  EXPECT_RUN(Run("program 24C02 '" + bin + "' --serial-start 1000" + serial), 0);
  Bytes want = data;
  want[0x10] = 0x03, want[0x11] = 0xE8;
  EXPECT_EQ(Contents(), want);
  EXPECT_NE(Slurp(state).find("\nnext 1005\n"), std::string::npos) << Slurp(state);

  // A 24C04's upper half is missing from the 24C02 in the socket: verify fails there.
  EXPECT_RUN(Run("program 24C04 '" + File("two.bin", RandomBytes(512, 32)) + "'" + serial), 1);
  EXPECT_NE(Slurp(state).find("\nnext 1005\n"), std::string::npos) << Slurp(state);

  TextFile("runs.csv", Slurp(log) + "2026-01-01T00:00:00Z,QMX-71C,\"cut sh");
  ASSERT_TRUE(sim->InsertPart("24C02"));
  EXPECT_RUN(Run("program 24C02 '" + bin + "'" + serial), 0);
  want[0x10] = 0x03, want[0x11] = 0xED;
  EXPECT_EQ(Contents(), want);
  EXPECT_NE(Slurp(state).find("\nnext 1010\n"), std::string::npos) << Slurp(state);

  std::vector<std::string> lines;
  std::istringstream text(Slurp(log));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u) << Slurp(log);
  EXPECT_EQ(lines[0].substr(0, 32), "time,model,port,part,file,file_c");
  const std::string quoted = ",\"" + (dir / "lot \"\"7\"\", a.bin").string() + "\",";
  EXPECT_NE(lines[1].find(",QMX-71C," + link + ",24C02" + quoted), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find(",1000,passed,,,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(",1005,failed,verify,0x0100,"), std::string::npos) << lines[2];
  EXPECT_EQ(lines[3].back(), '"');  // the cut line's open quote closed
  EXPECT_NE(lines[4].find(quoted), std::string::npos) << lines[4];
  EXPECT_NE(lines[4].find(",1005,passed,,,"), std::string::npos) << lines[4];
}

// A state file that is missing, damaged or of another series, or a serial
// that does not fit, stops the run before the programmer is even opened.
TEST_F(CliTest, SerialStateTroubleStopsBeforeThePart) {
  ASSERT_TRUE(sim->InsertPart("24C02"));
  const Bytes before = RandomBytes(256, 33);
  ASSERT_TRUE(sim->SetPartContents(before));
  const std::string bin = File("data.bin", RandomBytes(128, 34));
  const std::string valid = qmx::production::FormatSerialState({1000, 1007});
  std::string edited = valid;
  edited.replace(edited.find("next 1007"), 9, "next 1008");
  struct Case {
    std::optional<std::string> contents;  // none: no state file
    const char* args;
    const char* message;
  } const cases[] = {
      {std::nullopt, "--serial-at 0x10", "does not exist: give --serial-start"},
      {valid.substr(0, 40), "--serial-at 0x10", "is damaged"},
      {std::string("\x89PNG\r\n\x1a\n", 8), "--serial-at 0x10", "is damaged"},
      {edited, "--serial-at 0x10", "checksum does not match"},
      {valid, "--serial-at 0x10 --serial-start 2000", "started at 1000, not 2000"},
      {valid, "--serial-at 0xFE", "does not fit in the part"},
      {valid, "--serial-at 0x7E", "outside the range"},
      {std::nullopt, "--serial-at 0x10 --serial-start 1000 --serial-format bcd:1", "does not fit the format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string state = (dir / "batch.state").string();
    fs::remove(state);
    if (c.contents) TextFile("batch.state", *c.contents);
    sim->ClearLog();
    const Result r = Run("program 24C02 '" + bin + "' --serial-state '" + state + "' " + c.args);
    EXPECT_RUN(r, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(sim->Log().empty());
    EXPECT_EQ(fs::exists(state), c.contents.has_value());
    if (c.contents) {
      EXPECT_EQ(Slurp(state), *c.contents);
    }
  }
  EXPECT_EQ(Contents(), before);
}

// Two runs at once on one state file: the second waits for the first and
// takes the number after it.
TEST_F(CliTest, RunsSharingAStateFileNeverShareANumber) {
  StartSim("QMX-71C", qmx::sim::Timing::kReal);
  ASSERT_TRUE(sim->InsertPart("24C02"));
  const std::string bin = File("data.bin", RandomBytes(256, 35));
  const std::string state = (dir / "batch.state").string(), log = (dir / "runs.jsonl").string();
  const std::string one = "QMX71_SYSFS_ROOT=/nonexistent QMX71_PORT='" + link + "' timeout 120 '" + QMX71_EXE +
                          "' -q program 24C02 '" + bin + "' --serial-at 0 --serial-start 7 --serial-state '" +
                          state + "' --log '" + log + "' --log-format jsonl </dev/null";
  const int status = std::system(("(" + one + ") & (" + one + "); s=$?; wait $! && exit $s").c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(log);
  EXPECT_EQ(qmx::production::ParseSerialState(Slurp(state), nullptr)->next, 9u);
  const std::string lines = Slurp(log);
  for (const char* serial : {"\"serial\":7,\"result\":\"passed\"", "\"serial\":8,\"result\":\"passed\""})
    EXPECT_NE(lines.find(serial), std::string::npos) << lines;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
}

// S-records through the tool both ways with srec_cat, by every name the tool knows them by.
TEST_F(CliTest, SRecordFilesWithSrecCatAndDamagedOnesRefused) {
  ASSERT_TRUE(sim->InsertPart("24C64"));
  const Bytes pattern = RandomBytes(8192, 31);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const std::string bin = File("pattern.bin", pattern);
  for (const char* name : {"ours.srec", "ours.s19", "ours.mot"}) {
    const std::string ours = (dir / name).string(), back = (dir / "back.bin").string();
    EXPECT_RUN(Run("read 24C64 -o '" + ours + "'"), 0);
    EXPECT_EQ(Slurp(ours).substr(0, 12), "S0030000FC\r\n") << name;
    ASSERT_EQ(std::system(("srec_cat '" + ours + "' -motorola -o '" + back + "' -binary").c_str()), 0) << name;
    const std::string got = Slurp(back);
    EXPECT_EQ(Bytes(got.begin(), got.end()), pattern) << name;
  }
  const Bytes other = RandomBytes(8192, 32);
  for (const char* name : {"theirs.s28", "theirs.s37", "theirs.txt --format srec"}) {
    const std::string path = (dir / std::string(name).substr(0, 10)).string();
    const std::string width = std::string(name).substr(8, 2) == "28" ? "3" : "4";
    ASSERT_EQ(std::system(("srec_cat '" + File("other.bin", other) + "' -binary -o '" + path +
                           "' -motorola -address-length=" + width).c_str()),
              0);
    ASSERT_TRUE(sim->SetPartContents(pattern));
    EXPECT_RUN(Run("program 24C64 '" + path + "'" + std::string(name).substr(10)), 0);
    EXPECT_EQ(Contents(), other) << name;
  }
  // One digit changed in a record: refused before anything is sent.
  std::string damaged = Slurp(dir / "ours.srec");
  damaged[damaged.find("\r\nS1", 100) + 14] ^= 0x01;
  const Result bad = Run("write 24C64 '" + TextFile("bad.s19", damaged) + "'");
  EXPECT_RUN(bad, 2);
  EXPECT_NE(bad.err.find("damaged"), std::string::npos) << bad.err;
  EXPECT_EQ(Contents(), other);
}

// Each algorithm against python3's zlib and hashlib over the same range, as text and as JSON.
TEST_F(CliTest, ChecksumAlgorithmsAgreeWithPython) {
  ASSERT_TRUE(sim->InsertPart("24C16"));
  const Bytes pattern = RandomBytes(2048, 33);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const std::string bin = File("part.bin", Bytes(pattern.begin() + 0x100, pattern.begin() + 0x100 + 1000));
  const std::string want = Python(
      "import zlib,hashlib; d=open(\"" + bin + "\",\"rb\").read(); "
      "print(\"%04X %08X %s\" % (sum(d) & 0xFFFF, zlib.crc32(d), hashlib.sha256(d).hexdigest()))");
  std::string got;
  for (const char* algo : {"sum16", "crc32", "sha256"}) {
    const Result r = Run(std::string("checksum 24C16 --start 0x100 --length 1000 --algo ") + algo);
    EXPECT_RUN(r, 0);
    got += (got.empty() ? "" : " ") + r.out.substr(0, r.out.size() - 1);
    const Result json = Run(std::string("checksum 24C16 --json --start 0x100 --length 1000 --algo ") + algo);
    EXPECT_RUN(json, 0);
    EXPECT_EQ(Python("import json,sys; j=json.load(sys.stdin); print(j[\"part\"], j[\"start\"], j[\"length\"], "
                     "j[\"algorithm\"], j[\"value\"])",
                     json.out),
              "24C16 256 1000 " + std::string(algo) + " " + r.out);
  }
  EXPECT_EQ(got + "\n", want);
  EXPECT_RUN(Run("checksum 24C16 --algo md5"), 2);
}

// A part against a file and two files against each other: every differing
// range with both sides' bytes, as text and as JSON.
TEST_F(CliTest, DiffListsEveryDifferingRange) {
  ASSERT_TRUE(sim->InsertPart("24C02"));
  const Bytes pattern = RandomBytes(256, 34);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  Bytes file = pattern;
  for (std::size_t i : {0x10, 0x11, 0x12, 0x13, 0x80, 0xFF}) file[i] ^= 0x5A;
  // Quote, backslash and a byte that is not UTF-8 in the name: the JSON must still parse.
  const std::string odd = File("we\"ird\\\xff.bin", file);
  const Result text = Run("diff 24C02 '" + odd + "'");
  EXPECT_RUN(text, 1);
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "0x0010..0x0013 (4 bytes)\n  0x0010 part  %02X %02X %02X %02X\n         file  %02X %02X %02X %02X\n"
                "0x0080..0x0080 (1 byte)\n  0x0080 part  %02X\n         file  %02X\n"
                "0x00FF..0x00FF (1 byte)\n  0x00FF part  %02X\n         file  %02X\n",
                pattern[0x10], pattern[0x11], pattern[0x12], pattern[0x13], file[0x10], file[0x11], file[0x12],
                file[0x13], pattern[0x80], file[0x80], pattern[0xFF], file[0xFF]);
  EXPECT_EQ(text.out, expected);
  EXPECT_NE(text.err.find("6 byte(s) differ in 3 range(s)"), std::string::npos) << text.err;

  const Result json = Run("diff --json 24C02 '" + odd + "'");
  EXPECT_RUN(json, 1);
  const std::string check =
      "import json,sys; j=json.load(sys.stdin); r=j[\"ranges\"]; "
      "print(j[\"left\"], j[\"right\"][\"name\"].endswith(\"we\\\"ird\\\\\\ufffd.bin\"), j[\"start\"], "
      "j[\"length\"], j[\"same\"], j[\"differingBytes\"], [(x[\"start\"], x[\"length\"]) for x in r], "
      "all(x[\"left\"] == [b ^ 0x5A for b in x[\"right\"]] for x in r))";
  EXPECT_EQ(Python(check, json.out),
            "{'kind': 'part', 'name': '24C02'} True 0 256 False 6 [(16, 4), (128, 1), (255, 1)] True\n");

  // Two files need no programmer: where only one names an address, the other shows none.
  const std::string hex = TextFile("gap.hex", ":0400100001020304E2\r\n:00000001FF\r\n");
  const std::string bin = File("gap.bin", Bytes(0x12, 0xFF));
  const Result files = Run("diff '" + bin + "' '" + hex + "'", "QMX71_PORT=/nonexistent");
  EXPECT_RUN(files, 1);
  EXPECT_EQ(files.out,
            "0x0000..0x0013 (20 bytes)\n"
            "  0x0000 file1 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\n"
            "         file2 -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
            "  0x0010 file1 FF FF -- --\n         file2 01 02 03 04\n");
  const Result filesJson = Run("diff --json '" + bin + "' '" + hex + "' --start 0x10", "QMX71_PORT=/nonexistent");
  EXPECT_RUN(filesJson, 1);
  EXPECT_EQ(Python("import json,sys; print(json.load(sys.stdin)[\"ranges\"])", filesJson.out),
            "[{'start': 16, 'length': 4, 'left': [255, 255, None, None], 'right': [1, 2, 3, 4]}]\n");

  ASSERT_TRUE(sim->SetPartContents(file));
  const Result same = Run("diff 24C02 '" + odd + "'");
  EXPECT_RUN(same, 0);
  EXPECT_EQ(same.out, "diff: 0x0000..0x00FF (256 bytes) the same\n");
  EXPECT_RUN(Run("diff 24C02 '" + odd + "' --json"), 0);
  EXPECT_RUN(Run("diff nosuchthing '" + odd + "'"), 2);
}

TEST_F(CliTest, InfoAndVerifyJsonParse) {
  sim->SetVccReading(79);
  ASSERT_TRUE(sim->InsertPart("93C46"));  // answers with 7 address bits before anything sets x16
  const Result info = Run("info --json");
  EXPECT_RUN(info, 0);
  EXPECT_EQ(Python("import json,sys; j=json.load(sys.stdin); print(j[\"port\"], j[\"model\"], j[\"families\"], "
                   "j[\"firmware\"], j[\"supplyCentivolts\"], j[\"buses\"][0])",
                   info.out),
            link + " QMX-71C ['Microwire', 'I2C', 'SPI'] 1.00 330 {'family': 'Microwire', "
                   "'clockHz': 100000, 'partPresent': True, 'addressBits': 7}\n");

  const Bytes pattern = RandomBytes(128, 35);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const std::string bin = File("p.bin", pattern);
  const Result match = Run("verify 93C46 '" + bin + "' --json");
  EXPECT_RUN(match, 0);
  Bytes changed = pattern;
  changed[0x41] ^= 0xFF;
  ASSERT_TRUE(sim->SetPartContents(changed));
  const Result mismatch = Run("verify 93C46 '" + bin + "' --json");
  EXPECT_RUN(mismatch, 1);
  const std::string fields = "import json,sys; j=json.load(sys.stdin); print(j[\"match\"], j[\"differingBytes\"], "
                             "j[\"firstDifference\"], j[\"length\"])";
  EXPECT_EQ(Python(fields, match.out), "True 0 None 128\n");
  EXPECT_EQ(Python(fields, mismatch.out), "False 1 {'address': 65, 'part': " + std::to_string(changed[0x41]) +
                                              ", 'file': " + std::to_string(pattern[0x41]) + "} 128\n");
}

// Repeated reads through a bad contact list the addresses that changed and
// write no file; through a good one they agree and the file is the part.
TEST_F(CliTest, RepeatedReadsTellALooseContactFromWrongData) {
  ASSERT_TRUE(sim->InsertPart("24C04"));
  const Bytes pattern = RandomBytes(512, 41);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const std::string bin = File("pattern.bin", pattern);
  const std::string out = (dir / "read.bin").string();

  EXPECT_RUN(Run("read 24C04 -o '" + out + "' --repeat 3"), 0);
  const std::string good = Slurp(out);
  EXPECT_EQ(Bytes(good.begin(), good.end()), pattern);
  fs::remove(out);

  sim->SetFlakyContact(0.02, 5);
  for (const std::string& command : {"read 24C04 -o '" + out + "' --repeat 4", "verify 24C04 '" + bin + "' --repeat 4"}) {
    const Result r = Run(command);
    EXPECT_RUN(r, 1);
    EXPECT_NE(r.err.find("read differently in 4 reads"), std::string::npos) << r.err;
    // Each listed address shows the part's true value among those seen.
    std::size_t listed = 0;
    for (auto at = r.err.find("\n  0x"); at != std::string::npos; at = r.err.find("\n  0x", at + 1), ++listed) {
      const std::size_t address = std::stoul(r.err.substr(at + 3, 6), nullptr, 16);
      const std::string line = r.err.substr(at + 1, r.err.find('\n', at + 1) - at - 1);
      ASSERT_LT(address, pattern.size()) << line;
      char value[8];
      std::snprintf(value, sizeof value, "0x%02X", pattern[address]);
      EXPECT_NE(line.find(value, 9), std::string::npos) << line;
    }
    EXPECT_GT(listed, 0u) << r.err;
  }
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(Contents(), pattern);

  // One verify cannot tell: it points at --repeat.
  const Result once = Run("verify 24C04 '" + bin + "'");
  EXPECT_RUN(once, 1);
  EXPECT_NE(once.err.find("verify --repeat"), std::string::npos) << once.err;
  EXPECT_RUN(Run("read 24C04 -o '" + out + "' --repeat 1"), 2);
  EXPECT_RUN(Run("read 24C04 -o '" + out + "' --repeat 101"), 2);
}

// The bench loop: three parts in and out, the second through a bad contact,
// then Ctrl-C while it waits; a second run interrupted in the middle of a part.
TEST_F(CliTest, LoopProgramsEachInsertedPartUntilInterrupted) {
  sim->RemovePart();
  const Bytes pattern = RandomBytes(256, 43);
  // Each part its own serial number (one that failed gives its number to the next) and log line.
  const std::string log = (dir / "loop.csv").string();
  const std::string loop = "program 24C02 '" + File("loop.bin", pattern) + "' --loop --serial-at 0xF0 --serial-format " +
                           "be16 --serial-start 500 --serial-state '" + (dir / "loop.state").string() + "' --log '" +
                           log + "'";
  const pid_t pid = Spawn(loop, "", "loop");
  const struct {
    double flaky;
    const char* report;
    int serial;
    const char* logged;
  } parts[] = {{0, "part 1: PASS; passed 1, failed 0", 500, ",500,passed,"},
               {1, "part 2: FAIL; passed 1, failed 1", 501, ",501,failed,blank,"},
               {0, "part 3: PASS; passed 2, failed 1", 501, ",501,passed,"}};
  int waits = 1;
  for (const auto& part : parts) {
    ASSERT_TRUE(WaitForOutput("loop", "waiting for a part", waits++)) << Slurp(dir / "loop.out");
    sim->SetFlakyContact(part.flaky);
    ASSERT_TRUE(sim->InsertPart("24C02"));
    ASSERT_TRUE(WaitForOutput("loop", part.report)) << Slurp(dir / "loop.out") << Slurp(dir / "loop.err");
    if (part.flaky == 0) {
      Bytes expected = pattern;
      expected[0xF0] = static_cast<std::uint8_t>(part.serial >> 8);
      expected[0xF1] = static_cast<std::uint8_t>(part.serial & 0xFF);
      EXPECT_EQ(Contents(), expected);
    }
    sim->RemovePart();
  }
  std::istringstream lines(Slurp(log));
  std::string line;
  std::getline(lines, line);  // the header
  for (const auto& part : parts) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_NE(line.find(part.logged), std::string::npos) << line;
  }
  sim->SetFlakyContact(0);
  ASSERT_TRUE(WaitForOutput("loop", "waiting for a part", waits));
  ::kill(pid, SIGINT);
  const Result between = Reap(pid, "loop");
  EXPECT_RUN(between, 1);
  EXPECT_NE(between.out.find("stopped: passed 2, failed 1"), std::string::npos) << between.out;
  EXPECT_FALSE(sim->State().supplyOn);

  // Interrupted while the part is being erased: 130, and the supply goes off.
  std::atomic<pid_t> target{0};
  sim->SetCommandObserver([&target](const qmx::sim::LoggedCommand& c) {
    if (c.code == qmx::sim::WRITE_DONE && target.load() > 0) ::kill(target.exchange(0), SIGINT);
  });
  const pid_t second = Spawn(loop, "", "second");
  target = second;
  ASSERT_TRUE(sim->InsertPart("24C02"));
  const Result mid = Reap(second, "second");
  sim->SetCommandObserver(nullptr);
  EXPECT_RUN(mid, 130);
  EXPECT_NE(mid.out.find("part 1: interrupted; passed 0, failed 0"), std::string::npos) << mid.out;
  EXPECT_FALSE(sim->State().supplyOn);
}

// Two programmers as USB discovery sees them (a fake sysfs tree, device
// nodes linked to two simulators): both listed, one held by a running loop
// listed as busy without disturbing it, and two programs at once.
TEST_F(CliTest, PortsListsEveryProgrammerAndEachRunsItsOwn) {
  qmx::test::FakeSysfs sysfs;
  sysfs.AddUsbDevice("1-1", "7e51", "0a16", "QMX71\n", {"ttyACM0"});
  sysfs.AddUsbDevice("1-2", "7e51", "0a17", "QMX71\n", {"ttyACM1"});
  qmx::sim::Options options;
  options.firmwareMinor = 0x12;
  qmx::sim::PtySimulator other(options);
  ASSERT_TRUE(other.Start());
  other.SetModel("QMX-71A");
  ASSERT_TRUE(other.InsertPart("24C64"));
  ASSERT_TRUE(sim->InsertPart("24C64"));
  fs::create_directories(dir / "dev");
  fs::create_symlink(sim->PortPath(), dir / "dev" / "ttyACM0");
  fs::create_symlink(other.PortPath(), dir / "dev" / "ttyACM1");
  const std::string env =
      "QMX71_PORT= QMX71_SYSFS_ROOT='" + sysfs.Root() + "' QMX71_DEV_ROOT='" + (dir / "dev").string() + "'";

  const Result both = Run("ports", env);
  EXPECT_RUN(both, 0);
  EXPECT_EQ(both.out, "ttyACM0  QMX-71C  firmware 1.00\nttyACM1  QMX-71A  firmware 1.12\n");

  const Bytes a = RandomBytes(8192, 45), b = RandomBytes(8192, 46);
  const std::string fileA = File("a.bin", a), fileB = File("b.bin", b);
  const pid_t loop = Spawn("--port ttyACM1 program 24C64 '" + fileB + "' --loop", env, "loop");
  ASSERT_TRUE(WaitForOutput("loop", "part 1: PASS")) << Slurp(dir / "loop.err");
  const Result busy = Run("ports", env);
  EXPECT_RUN(busy, 0);
  EXPECT_EQ(busy.out, "ttyACM0  QMX-71C  firmware 1.00\nttyACM1  busy (in use by another program)\n");
  // The loop goes on: its part out, a fresh one in.
  other.RemovePart();
  ASSERT_TRUE(WaitForOutput("loop", "waiting for a part", 2));
  ASSERT_TRUE(other.InsertPart("24C64"));
  ASSERT_TRUE(WaitForOutput("loop", "part 2: PASS; passed 2, failed 0")) << Slurp(dir / "loop.err");
  ::kill(loop, SIGINT);
  EXPECT_RUN(Reap(loop, "loop"), 0);
  EXPECT_EQ(other.PartContents(), b);

  // Two processes, each on its own programmer, at the same time.
  const pid_t first = Spawn("--port ttyACM0 program 24C64 '" + fileA + "'", env, "first");
  const pid_t second = Spawn("--port ttyACM1 program 24C64 '" + fileA + "'", env, "second");
  EXPECT_RUN(Reap(first, "first"), 0);
  EXPECT_RUN(Reap(second, "second"), 0);
  EXPECT_TRUE(other.WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(Contents(), a);
  EXPECT_EQ(other.PartContents(), a);
  other.Stop();
}

}  // namespace
