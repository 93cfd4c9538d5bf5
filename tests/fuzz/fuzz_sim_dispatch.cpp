// The simulated firmware on whatever a host may send: the first byte picks
// the part in the socket (or none), the second a few options, the rest is
// host bytes in arbitrary chunks. Every answer must be a well-formed frame.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using qmxfuzz::Check;

// Unstuffs one answer frame; aborts unless it is exactly one frame.
Bytes Unframe(const Bytes& frame) {
  using namespace qmx::sim;
  Check(frame.size() >= 3 && frame.front() == kFrameStart && frame.back() == kFrameEnd, "answer framing");
  Bytes payload;
  for (std::size_t i = 1; i + 1 < frame.size(); ++i) {
    std::uint8_t b = frame[i];
    if (b == kFrameEscape) {
      Check(i + 2 < frame.size(), "escape before the end byte");
      b = frame[++i];
      Check(b == kFrameStart || b == kFrameEnd || b == kFrameEscape, "needless escape");
    } else {
      Check(b != kFrameStart && b != kFrameEnd, "unescaped frame byte in an answer");
    }
    payload.push_back(b);
  }
  return payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qmx::sim;
  FuzzedDataProvider in(data, size);
  const auto rows = PartRows();
  const std::size_t pick = in.ConsumeIntegral<std::uint8_t>() % (rows.size() + 1);
  const std::uint8_t flags = in.ConsumeIntegral<std::uint8_t>();

  Options options;
  options.timing = (flags & 1) ? Timing::kReal : Timing::kInstant;
  options.externalSupply = (flags & 2) != 0;
  options.nameZeroTerminated = (flags & 4) == 0;
  Programmer programmer(options);
  std::size_t partSize = 0;
  if (pick < rows.size()) {
    Check(programmer.InsertPart(rows[pick].name), "catalogued part refused");
    partSize = rows[pick].size;
  }

  const auto start = Programmer::Clock::time_point{} + std::chrono::hours(1);
  auto arrival = start;
  std::vector<Answer> answers;
  while (in.remaining_bytes() > 0) {
    const Bytes chunk = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(1, 96));
    const std::size_t before = answers.size();
    programmer.Receive(chunk, answers, arrival);
    arrival += std::chrono::microseconds(in.ConsumeIntegralInRange<int>(0, 5000));
    for (std::size_t i = before; i < answers.size(); ++i) {
      const Bytes payload = Unframe(answers[i].frame);
      Check(payload.size() >= 1 && payload.size() <= 257, "answer payload length");
      Check(payload[0] >= 0x80, "answer code");
      Check(answers[i].due >= start, "answer due before anything arrived");
    }
  }
  Check(programmer.PartContents().size() == partSize, "part changed size");
  if (flags & 8) {
    // The link may go down under a frame; what follows is taken afresh.
    programmer.ResetDecoder();
    std::vector<std::uint8_t> out;
    const std::uint8_t query[] = {0x0F, 0x01, 0x04};
    programmer.Receive(query, out);
    Check(Unframe(out) == Bytes({0x80, options.firmwareMajor, options.firmwareMinor}), "version after reset");
  }
  return 0;
}
