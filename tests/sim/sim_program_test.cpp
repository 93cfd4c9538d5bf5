// Runs the built qmx71-sim program the way a script would.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host_port.h"
#include "sim/frame_codec.h"
#include "sim/protocol.h"

extern char** environ;

namespace qmx::sim {
namespace {

using test::Bytes;
using test::HostPort;
using std::chrono::milliseconds;

class SimProgram {
 public:
  explicit SimProgram(std::vector<std::string> args) {
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> argv;
    args.insert(args.begin(), QMX71_SIM_PATH);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, QMX71_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(in[0]);
    stdout_ = out[0];
    stdin_ = in[1];
  }
  ~SimProgram() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    CloseStdin();
    if (stdout_ >= 0) close(stdout_);
  }

  // The next line of standard output, empty after `timeout`.
  std::string ReadLine(milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (buffered_.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{stdout_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
      char c[256];
      const ssize_t n = read(stdout_, c, sizeof c);
      if (n <= 0) return {};
      buffered_.append(c, static_cast<std::size_t>(n));
    }
    const auto eol = buffered_.find('\n');
    std::string line = buffered_.substr(0, eol);
    buffered_.erase(0, eol + 1);
    return line;
  }

  void Say(const std::string& line) { ASSERT_EQ(write(stdin_, line.data(), line.size()), ssize_t(line.size())); }
  void CloseStdin() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
  }
  void Signal(int sig) { kill(pid_, sig); }

  // Exit status once the program ended within `timeout`, else -1.
  int WaitExit(milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      poll(nullptr, 0, 2);
    }
    return -1;
  }
  bool Running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  int stdin_ = -1;
  std::string buffered_;
};

bool IsCharDevice(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

TEST(SimProgram, PrintsPortAnswersModelAndReactsToSignals) {
  SimProgram prog({"--model", "QMX-71C", "--vcc-reading", "52", "--firmware", "1.12"});
  ASSERT_TRUE(prog.Running());
  const std::string path = prog.ReadLine(milliseconds(2000));
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0U) << path;
  ASSERT_TRUE(IsCharDevice(path));
  HostPort host(path);
  ASSERT_TRUE(host.Write({0x0F, 0x16, 0x04, 0x0F, 0x1C, 0x04, 0x0F, 0x01, 0x04}));
  EXPECT_EQ(host.Read(20), (Bytes{0x0F, 0x89, 'Q', 'M', 'X', '-', '7', '1', 'C', 0x00, 0x04,
                                  0x0F, 0x8C, 52, 0x04, 0x0F, 0x80, 0x01, 0x12, 0x04}));
  prog.Signal(SIGUSR1);
  EXPECT_EQ(host.Read(4), (Bytes{0x0F, 0x8B, 0x01, 0x04}));
  prog.Signal(SIGUSR2);
  EXPECT_EQ(host.Read(4), (Bytes{0x0F, 0x8B, 0x00, 0x04}));
  prog.Signal(SIGTERM);
  EXPECT_EQ(prog.WaitExit(milliseconds(1000)), 0);
  EXPECT_FALSE(IsCharDevice(path));
}

TEST(SimProgram, StandardInputControlsItAndItsEndDoesNotStopIt) {
  const std::string link =
      (std::filesystem::temp_directory_path() / ("qmx-sim-prog-" + std::to_string(getpid()))).string();
  SimProgram prog({"--link", link});
  const std::string first = prog.ReadLine(milliseconds(2000));
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), first);
  {
    HostPort host(link);
    prog.Say("vcc 100\npress\n");  // the switch report proves the reading was taken
    EXPECT_EQ(host.Read(4), (Bytes{0x0F, 0x8B, 0x01, 0x04}));
    ASSERT_TRUE(host.Write({0x0F, 0x1C, 0x04}));
    EXPECT_EQ(host.Read(4), (Bytes{0x0F, 0x8C, 100, 0x04}));
  }
  prog.Say("unplug\nreplug\n");
  const std::string second = prog.ReadLine(milliseconds(2000));
  ASSERT_EQ(second.rfind("/dev/pts/", 0), 0U) << second;
  EXPECT_NE(second, first);
  prog.CloseStdin();
  HostPort host(second);
  ASSERT_TRUE(host.Write({0x0F, 0x16, 0x04}));
  EXPECT_EQ(host.Read(11).size(), 11U);
  EXPECT_EQ(prog.WaitExit(milliseconds(50)), -1);  // still serving after end of input
  prog.Signal(SIGINT);
  EXPECT_EQ(prog.WaitExit(milliseconds(1000)), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(SimProgram, QuitEndsIt) {
  SimProgram prog({"--log"});
  ASSERT_FALSE(prog.ReadLine(milliseconds(2000)).empty());
  prog.Say("quit\n");
  EXPECT_EQ(prog.WaitExit(milliseconds(1000)), 0);
}

std::filesystem::path TempPath(const std::string& stem) {
  return std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(getpid()));
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Frames(const std::vector<Bytes>& payloads) {
  Bytes out;
  for (const Bytes& p : payloads) {
    const Bytes f = EncodeFrame(p);
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

// Standard input and the port are served apart: ask until the line has taken effect.
bool CheckDeviceBecomes(HostPort& host, const Bytes& expected) {
  const auto deadline = std::chrono::steady_clock::now() + milliseconds(2000);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!host.Write(Frames({{CHK_DEVICE}}))) return false;
    if (host.Read(expected.size()) == expected) return true;
    poll(nullptr, 0, 5);
  }
  return false;
}

// Loads a short file, changes one page over the port, saves on SIGTERM.
TEST(SimProgram, PartIsLoadedServedAndSavedOnExit) {
  const auto load = TempPath("qmx-sim-load"), save = TempPath("qmx-sim-save");
  Bytes image(200);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  WriteFile(load, image);
  SimProgram prog({"--part", "24C02", "--load", load.string(), "--save", save.string()});
  const std::string path = prog.ReadLine(milliseconds(2000));
  ASSERT_FALSE(path.empty());
  HostPort host(path);
  ASSERT_TRUE(host.Write(Frames({{SET_MODE, kFamilyI2c, 0, 50}, {DEV_CTRL, kCtrlSupplyOn},
                                 {DEV_CTRL, kCtrlI2cStart}, {WRITE_DATA, 0xA0}, {WRITE_DATA, 0xC4},
                                 {WRITE_DONE, 0x01, 0x02, 0x03}, {DEV_CTRL, kCtrlI2cStop},
                                 {DEV_CTRL, kCtrlI2cStart}, {WRITE_DATA, 0xA0}, {WRITE_DATA, 0x10},
                                 {DEV_CTRL, kCtrlI2cRestart}, {WRITE_DATA, 0xA1}, {READ_DATA, 0xFE},
                                 {DEV_CTRL, kCtrlI2cStop}})));
  EXPECT_EQ(host.Read(5), (Bytes{0x0F, 0x84, image[0x10], image[0x11], 0x04}));
  prog.Signal(SIGTERM);
  EXPECT_EQ(prog.WaitExit(milliseconds(1000)), 0);
  Bytes expected = image;
  expected.resize(256, 0xFF);
  expected[0xC4] = 0x01, expected[0xC5] = 0x02, expected[0xC6] = 0x03;
  EXPECT_EQ(ReadFile(save), expected);
  std::filesystem::remove(load);
  std::filesystem::remove(save);
}

TEST(SimProgram, PartsAreSwappedAndRemovedFromStandardInput) {
  const auto save = TempPath("qmx-sim-swap");
  SimProgram prog({"--part", "93C46", "--save", save.string()});
  const std::string path = prog.ReadLine(milliseconds(2000));
  ASSERT_FALSE(path.empty());
  HostPort host(path);
  ASSERT_TRUE(host.Write(Frames({{CHK_DEVICE}})));
  EXPECT_EQ(host.Read(5), (Bytes{0x0F, 0x85, 0x01, 0x07, 0x04}));  // 93C46 in byte organisation
  prog.Say("part 9016\n");
  EXPECT_TRUE(CheckDeviceBecomes(host, {0x0F, 0x85, 0x01, 0x01, 0x04}));
  prog.Say("quit\n");
  EXPECT_EQ(prog.WaitExit(milliseconds(1000)), 0);
  EXPECT_EQ(ReadFile(save), Bytes(2048, 0xFF));  // the part in the socket at exit
  std::filesystem::remove(save);

  SimProgram removed({"--part", "93C46"});
  HostPort second(removed.ReadLine(milliseconds(2000)));
  removed.Say("remove\n");
  EXPECT_TRUE(CheckDeviceBecomes(second, {0x0F, 0x85, 0x00, 0x01, 0x04}));
}

// Real timing shows in the bus time; a hung programmer leaves a query
// unanswered until it resumes.
TEST(SimProgram, RealTimingAndHungFirmwareFromStandardInput) {
  SimProgram prog({"--timing", "real"});
  HostPort host(prog.ReadLine(milliseconds(2000)));
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(host.Write(Frames({{SET_FREQ, 10, 0, 1}, {READ_DATA, 50}})));
  EXPECT_EQ(host.Read(53).size(), 53U);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, milliseconds(41));  // 400 bits at 10 kHz, 1 ms latency
  prog.Say("hang\n");
  // Standard input and the port are served apart: ask until a query goes unanswered.
  bool hung = false;
  for (int i = 0; i < 40 && !hung; ++i) {
    ASSERT_TRUE(host.Write(Frames({{GET_VOLTAGE}})));
    hung = host.Read(4, milliseconds(50)).empty();
  }
  ASSERT_TRUE(hung);
  prog.Say("resume\n");
  EXPECT_EQ(host.Read(4), (Bytes{0x0F, 0x8C, 79, 0x04}));
}

TEST(SimProgram, UnknownPartOrOversizedFileIsAUsageError) {
  const auto big = TempPath("qmx-sim-big");
  WriteFile(big, Bytes(129, 0x3C));
  for (std::vector<std::string> bad : {std::vector<std::string>{"--part", "93C47"},
                                       {"--part", "93C46", "--load", big.string()},
                                       {"--load", big.string()},
                                       {"--part", "24C02", "--load", (big.string() + ".missing")}}) {
    SimProgram prog(bad);
    EXPECT_EQ(prog.WaitExit(milliseconds(1000)), 2) << bad.back();
  }
  std::filesystem::remove(big);
}

TEST(SimProgram, InvalidArgumentsExitWithUsage) {
  for (std::vector<std::string> bad : {std::vector<std::string>{"--vcc-reading", "300"},
                                       {"--firmware", "1"}, {"--model"}, {"--bogus"}, {"--latency-us", "-1"},
                                       {"--timing", "bogus"}, {"--timing"}}) {
    SimProgram prog(bad);
    EXPECT_EQ(prog.WaitExit(milliseconds(1000)), 2) << bad[0];
  }
}

}  // namespace
}  // namespace qmx::sim
