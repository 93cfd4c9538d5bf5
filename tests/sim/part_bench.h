// Drives a part in the simulated socket with command frames built as a host
// builds them, and reads the answers back through the sim's own codec.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/frame_codec.h"
#include "sim/programmer.h"
#include "sim/protocol.h"
#include "tests/random_bytes.h"

namespace qmx::sim::test {

using Bytes = std::vector<std::uint8_t>;

using qmx::testdata::RandomBytes;

inline Bytes Filled(std::size_t n, std::uint8_t value) { return Bytes(n, value); }

inline std::uint8_t Reverse(std::uint8_t b) {
  std::uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<std::uint8_t>((r << 1) | ((b >> i) & 1));
  return r;
}

class PartBench {
 public:
  explicit PartBench(const std::string& part, Options options = {}) : programmer(std::move(options)) {
    EXPECT_TRUE(programmer.InsertPart(part)) << part;
  }

  // Decoded answer payloads (answer code first) of one command.
  std::vector<Bytes> Send(std::uint8_t code, const Bytes& args = {}) {
    Bytes payload = {code};
    payload.insert(payload.end(), args.begin(), args.end());
    const Bytes frame = EncodeFrame(payload);
    Bytes answerBytes;
    programmer.Receive(frame, answerBytes);
    std::vector<Bytes> answers;
    FrameDecoder decoder;
    decoder.Feed(answerBytes, [&](std::span<const std::uint8_t> p) { answers.emplace_back(p.begin(), p.end()); });
    return answers;
  }

  // SET_MODE, supply on and (Microwire) the GPIO levels, as a host's set-up does.
  void SetUp(std::uint8_t family, std::uint8_t variant = kVariantStandard, std::uint8_t gpio = 0,
             std::uint8_t maxWriteMs = 50) {
    Send(SET_MODE, {family, variant, maxWriteMs});
    Ctrl(kCtrlSupplyOn);
    if (family == kFamilyMicrowire) Send(WR_GPIO, {gpio});
  }
  void Ctrl(std::uint8_t sub) { Send(DEV_CTRL, {sub}); }
  void Data(const Bytes& bytes) { Send(WRITE_DATA, bytes); }
  void Done(const Bytes& bytes) { Send(WRITE_DONE, bytes); }

  Bytes Read(std::uint8_t countByte) {
    const std::vector<Bytes> answers = Send(READ_DATA, {countByte});
    if (answers.size() != 1 || answers[0].empty() || answers[0][0] != kAnswerData) {
      ADD_FAILURE() << "no data answer";
      return {};
    }
    return Bytes(answers[0].begin() + 1, answers[0].end());
  }

  std::uint8_t LastError() {
    const std::vector<Bytes> answers = Send(GET_LAST_ERR);
    if (answers.size() != 1 || answers[0].size() != 3) {
      ADD_FAILURE() << "no last-error answer";
      return 0xEE;
    }
    return answers[0][2];
  }

  std::array<std::uint8_t, 2> CheckDevice() {
    const std::vector<Bytes> answers = Send(CHK_DEVICE);
    if (answers.size() != 1 || answers[0].size() != 3) {
      ADD_FAILURE() << "no device-check answer";
      return {0xEE, 0xEE};
    }
    return {answers[0][1], answers[0][2]};
  }

  Bytes Contents() const { return programmer.PartContents(); }
  void Fill(const Bytes& bytes) { EXPECT_TRUE(programmer.SetPartContents(bytes)); }

  Programmer programmer;
};

}  // namespace qmx::sim::test
