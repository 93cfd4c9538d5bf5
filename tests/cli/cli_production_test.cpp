// qmx71 for production: serial numbers, the run log, stable reads, the
// loop over inserted parts and several programmers, against the simulator.
#include "tests/cli/cli_fixture.h"

namespace {

using namespace qmx::clitest;

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
  // The status LED codes the programmer is sent, with when they came.
  using Clock = std::chrono::steady_clock;
  std::mutex ledMutex;
  std::vector<std::pair<int, Clock::time_point>> leds;
  sim->SetCommandObserver([&](const qmx::sim::LoggedCommand& c) {
    if (c.code != qmx::sim::DEV_CTRL || c.args.empty() || c.args[0] < 12 || c.args[0] > 15) return;
    const std::lock_guard<std::mutex> lock(ledMutex);
    leds.emplace_back(c.args[0], Clock::now());
  });
  auto ledsSeen = [&] {
    const std::lock_guard<std::mutex> lock(ledMutex);
    return leds;
  };
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
  // ERROR for the failed part alone, lit as long as the desktop program
  // lights it (3 s), and ON again though the next part began within that time.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (ledsSeen().size() < 2 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto shown = ledsSeen();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].first, 15);
  EXPECT_EQ(shown[1].first, 13);
  EXPECT_GE(shown[1].second - shown[0].second, std::chrono::milliseconds(2900));
  ::kill(pid, SIGINT);
  const Result between = Reap(pid, "loop");
  EXPECT_RUN(between, 1);
  EXPECT_NE(between.out.find("stopped: passed 2, failed 1"), std::string::npos) << between.out;
  EXPECT_FALSE(sim->State().supplyOn);
  EXPECT_EQ(ledsSeen().size(), 2u);

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
