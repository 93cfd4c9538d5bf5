// Shared set-up of the memory tests: the simulator with a part inserted,
// a connection to it, and an operator that records what the window would show.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/catalogue/catalogue.h"
#include "core/link/connection.h"
#include "core/memory/memory_ops.h"
#include "image/memory_image.h"
#include "sim/simulator.h"
#include "tests/random_bytes.h"

namespace qmx::test {

using Bytes = std::vector<std::uint8_t>;

struct RecordingOperator : Operator {
  std::vector<std::string> lines;
  int errorIndications = 0;
  int questions = 0;
  bool answerOk = true;
  int lastChecksum = -1;
  int progressCalls = 0;
  void LogLine(const std::string& line) override { lines.push_back(line); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    ++questions;
    lastQuestion = text + "|" + caption;
    return answerOk;
  }
  void StartErrorIndication() override { ++errorIndications; }
  void ShowImageChecksum(std::uint16_t sum) override { lastChecksum = sum; }
  void Progress(int, int) override { ++progressCalls; }
  int cancelAfter = -1;  // progress calls before the operator asks to stop
  bool Cancelled() override { return cancelAfter >= 0 && progressCalls >= cancelAfter; }
  std::string lastQuestion;
  std::string Last() const { return lines.empty() ? std::string() : lines.back(); }
};

using qmx::testdata::RandomBytes;

inline int RowOf(int family, const char* name) {
  for (int r = 0; r < RowCount(family); ++r)
    if (std::string(PartName(family, r)) == name) return r;
  return -1;
}

inline sim::Options SimOptions(sim::Timing timing) {
  sim::Options options;
  options.timing = timing;
  return options;
}

class MemoryFixture : public ::testing::Test {
 protected:
  explicit MemoryFixture(sim::Timing timing = sim::Timing::kInstant)
      : sim(SimOptions(timing)), realTiming(timing == sim::Timing::kReal) {}

  void SetUp() override {
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(link.OpenPort(sim.PortPath()));
    // Against the instant simulator these tests judge what reaches the part:
    // there the simulator's own speed, not the modelled programmer's, sets
    // the pace, and a sanitized one may miss a window of a long pass. Against
    // real timing the answer window stays the programmer's 50 ms.
    if (!realTiming) link.SetAnswerWindowMs(1000);
    ASSERT_TRUE(link.QueryName().has_value());
  }

  // Inserts the part and selects it in the program's settings.
  void Select(int family, int row) {
    const char* name = PartName(family, row);
    ASSERT_NE(name, nullptr);
    ASSERT_TRUE(sim.InsertPart(name)) << name;
    settings.family = family;
    settings.row = row;
    settings.model = kModel71C;
    image.SetSize(PartSize(family, row));
    image.Clear();
  }

  // What the library's open does before the memory calls: family and supply.
  void LibraryMode(int family, int variant) {
    link.SendCommand2(SET_RESTART, 0);
    link.SendCommand4(SET_MODE, static_cast<std::uint8_t>(family), static_cast<std::uint8_t>(variant), 50);
    link.SendCommand2(DEV_CTRL, DEVCTRL_SUPPLY_ON);
  }

  std::vector<sim::LoggedCommand> CommandsOf(std::uint8_t code) const {
    std::vector<sim::LoggedCommand> out;
    for (const auto& c : sim.Log())
      if (c.code == code) out.push_back(c);
    return out;
  }

  // Streamed writes have no answers: the simulator has carried out
  // everything sent before a query once that query is answered. A slow
  // (sanitized) simulator may miss one 50 ms window, so ask a few times.
  void Settle() {
    for (int i = 0; i < 40; ++i) {
      if (link.Query(GET_VERSION, RESP_VERSION)) return;
    }
    FAIL() << "the simulator never caught up";
  }

  sim::PtySimulator sim;
  const bool realTiming;
  Connection link;
  BitReversal reverse;
  MemoryImage image;
  ProgramSettings settings;
  RecordingOperator op;
};

}  // namespace qmx::test
