// The library's memory and raw exports with arbitrary arguments, against the
// simulated programmer's firmware model in this process (instant timing, over
// a loopback port: see loopback_backend.cpp). Every buffer is
// exactly as long as its call says, so ASan sees any access past it. The
// first byte picks the part in the socket and the family selected for it.
#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "library/qmx71a.h"
#include "sim/programmer.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/loopback_backend.h"

namespace {

using qmxfuzz::Check;

struct Socket {
  const char* part;
  int family;
  int variant;
};
constexpr Socket kSockets[] = {
    {"93C46", 0, 0}, {"93C86", 0, 0}, {"9040", 0, 1},   {"24C02", 1, 0},
    {"24C16", 1, 0}, {"24C64", 1, 0}, {"25C040", 2, 0}, {"25C640", 2, 0},
};

// Longest length given a buffer of its own; longer claims go with a buffer of
// this size, which a library that refuses ranges past the part never reaches.
constexpr std::int32_t kLongestBuffer = 1 << 16;

qmx::sim::Programmer* firmware = nullptr;

std::int32_t PickDevice(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: return in.ConsumeIntegralInRange(0, 15);
    case 1: return in.ConsumeIntegralInRange(100, 111);
    case 2: return in.ConsumeIntegralInRange(200, 204);
    case 3: return in.ConsumeIntegralInRange(-2, 300);
    default: return in.ConsumeIntegral<std::int32_t>();
  }
}

// Mostly sizes a part has, now and then anything at all.
// Short ones most of all: a whole 24C64 in blocks of one byte is 8,192 round
// trips, and the argument checks are the same for short and long ranges.
std::int32_t PickLength(FuzzedDataProvider& in, std::int32_t small) {
  switch (in.ConsumeIntegralInRange(0, 15)) {
    case 0: return in.ConsumeIntegral<std::int32_t>();
    case 1: return in.PickValueInArray<std::int32_t>({std::numeric_limits<std::int32_t>::max(),
                                                       std::numeric_limits<std::int32_t>::min(), -1, 8191, 8192,
                                                       8193, 2048, 65536});
    case 2:
    case 3: return in.ConsumeIntegralInRange<std::int32_t>(-2, small);
    default: return in.ConsumeIntegralInRange<std::int32_t>(-2, 40);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Never freed: the library closes its port at exit, after any static here.
  qmx::sim::Options options;
  options.model = "QMX-71C";
  options.keepLog = false;
  firmware = new qmx::sim::Programmer(options);
  Check(firmware->InsertPart("24C16"), "part refused");
  qmxfuzz::UseFirmware(*firmware);
  ::setenv("QMX71_PORT", "/dev/null", 1);  // discovery wants a path that exists
  Check(QmxOpen(1, 0, 50, 0) == 1, "library did not open");
  std::atexit([] { QmxClose(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const Socket& socket = kSockets[in.ConsumeIntegral<std::uint8_t>() % std::size(kSockets)];
  std::int32_t partSize = 0;
  {
    const auto lock = qmxfuzz::LockFirmware();
    Check(firmware->InsertPart(socket.part), "part refused");
    partSize = static_cast<std::int32_t>(firmware->PartContents().size());
  }
  Check(QmxMode(socket.family, socket.variant, 50) == 1, "mode refused");

  for (int step = 0; step < 4 && in.remaining_bytes() > 0; ++step) {
    const int op = in.ConsumeIntegralInRange(0, 7);
    if (op >= 6) {
      // Raw transfers: n up to 256 is taken, beyond that refused.
      const int flags = in.ConsumeIntegralInRange(0, 15);
      const std::int32_t n = in.ConsumeIntegralInRange<std::int32_t>(-2, 300);
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::max(n, 0)));
      const bool valid = n >= 0 && n <= 256;
      if (op == 6) {
        const std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(buffer.size());
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
        Check(QmxDWrite(flags, buffer.data(), n) == (valid ? 1 : 0), "raw write result");
      } else {
        Check(QmxDRead(flags, buffer.data(), n) == (valid ? 1 : 0), "raw read result");
      }
      continue;
    }
    const std::int32_t device = PickDevice(in);
    const std::int32_t start = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int32_t>(-2, partSize + 2)
                                                : in.ConsumeIntegral<std::int32_t>();
    std::int32_t length = PickLength(in, 520);
    const std::int32_t blockSize = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int32_t>(-2, 300)
                                                    : in.ConsumeIntegral<std::int32_t>();
    // At most 16 round trips per call: the corpus drifts towards whole parts
    // in one-byte blocks, which took the target from thousands of inputs a
    // second to hundreds without reaching any other code. Ranges past every
    // part keep their length: refusing them is what is under test. (The
    // device number may name a larger part than the one in the socket.)
    const bool microwireWrite = socket.family == 0 && (op == 4 || op == 5);
    const std::int32_t block = microwireWrite ? 1 : std::clamp(blockSize, 1, 256);
    if (start >= 0 && length > 0 && start <= 8192 - length) length = std::min(length, 16 * block);
    const bool noBuffer = in.ConsumeIntegralInRange(0, 9) == 0;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::clamp(length, 0, kLongestBuffer)));
    const std::vector<std::uint8_t> fill = in.ConsumeBytes<std::uint8_t>(std::min<std::size_t>(buffer.size(), 64));
    // The pattern repeated by doubling copies: a byte loop over a long buffer
    // costs more under coverage tracing than the calls themselves.
    std::copy(fill.begin(), fill.end(), buffer.begin());
    for (std::size_t have = fill.size(); have > 0 && have < buffer.size(); have *= 2)
      std::memcpy(buffer.data() + have, buffer.data(), std::min(have, buffer.size() - have));
    std::uint8_t* p = noBuffer ? nullptr : buffer.data();
    std::int32_t result = 0;
    switch (op) {
      case 0: result = QmxRead(device, start, p, length, blockSize); break;
      case 1: result = QmxCompare(device, start, p, length, blockSize); break;
      case 2: result = QmxBlankChk(device, start, p, length, blockSize); break;
      case 3: result = QmxChecksum(device, start, p, length, blockSize); break;
      case 4: result = QmxWrite(device, start, p, length, blockSize); break;
      default: result = QmxErase(device, start, p, length, blockSize); break;
    }
    // No range of a catalogued part reaches past 8 KiB; such calls are refused.
    const bool pastAnyPart = start < 0 || length < 0 || static_cast<std::int64_t>(start) + length > 8192;
    if (pastAnyPart) Check(result == 0, "a range past every part was accepted");
    if (op != 3) Check(result == 0 || result == 1, "result not 0 or 1");
    Check(result >= 0, "negative result");
  }
  return 0;
}
