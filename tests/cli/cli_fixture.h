// What the qmx71 end-to-end tests share: a simulated programmer on a
// pseudo-terminal, a scratch folder, the tool run as a process and judged on
// its exit code, output and what the part holds.
#pragma once

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
#include <mutex>
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


// Named, not anonymous: the test files share one fixture type.
namespace qmx::clitest {


namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using qmx::testdata::RandomBytes;

inline std::string Slurp(const fs::path& p) {
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

}  // namespace qmx::clitest
