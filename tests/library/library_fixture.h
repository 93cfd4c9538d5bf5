// The installed-style view of the library: only its public header and the
// simulated programmer behind a pseudo-terminal found through QMX71_PORT.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "library/qmx71a.h"
#include "sim/simulator.h"
#include "tests/random_bytes.h"

namespace qmxlib {

using Bytes = std::vector<std::uint8_t>;
using Log = std::vector<qmx::sim::LoggedCommand>;
using namespace std::chrono_literals;

using qmx::testdata::RandomBytes;

class QmxLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { StartSim({}); }
  void TearDown() override {
    // The library is process-wide: leave it closed and without an event.
    QmxSetEvent(0);
    QmxClose();
    if (sim) sim->Stop();
  }

  void StartSim(qmx::sim::Options options) {
    if (sim) sim->Stop();
    sim = std::make_unique<qmx::sim::PtySimulator>(options);
    ASSERT_TRUE(sim->Start());
    linkPath = (std::filesystem::temp_directory_path() / ("qmx71a-test-" + std::to_string(::getpid()))).string();
    ASSERT_TRUE(sim->SetLinkPath(linkPath));
    ::setenv("QMX71_PORT", linkPath.c_str(), 1);
  }

  // Everything sent so far: a version query is answered only after all
  // earlier commands were taken, and is then dropped from the copy.
  // Everything sent before a query has been carried out once it is answered.
  // A slow (sanitized) simulator may miss a 50 ms window, so ask a few times;
  // the queries themselves are left out of the log returned.
  Log Synced() {
    std::size_t queries = 0;
    bool answered = false;
    while (!answered && queries < 40) {
      ++queries;
      answered = QmxFrmVer() != 0;
    }
    EXPECT_TRUE(answered);
    Log log = sim->Log();
    EXPECT_GE(log.size(), queries);
    log.resize(log.size() >= queries ? log.size() - queries : 0);
    return log;
  }
  // The commands after the connect sequence (DEV_CTRL 1, GET_NAME).
  Log SyncedAfterConnect() {
    Log log = Synced();
    EXPECT_GE(log.size(), 2u);
    return Log(log.begin() + std::min<std::ptrdiff_t>(2, static_cast<std::ptrdiff_t>(log.size())), log.end());
  }
  Log CommandsOf(const Log& log, std::uint8_t code) {
    Log out;
    for (const auto& c : log)
      if (c.code == code) out.push_back(c);
    return out;
  }

  std::unique_ptr<qmx::sim::PtySimulator> sim;
  std::string linkPath;
};

inline ::testing::AssertionResult Is(const qmx::sim::LoggedCommand& c, std::uint8_t code, Bytes args) {
  if (c.code == code && c.args == args) return ::testing::AssertionSuccess();
  auto r = ::testing::AssertionFailure() << "command " << int(c.code) << " args";
  for (auto b : c.args) r << ' ' << int(b);
  r << ", expected " << int(code) << " args";
  for (auto b : args) r << ' ' << int(b);
  return r;
}

}  // namespace qmxlib
