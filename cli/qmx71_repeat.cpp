// Stable reads: the range read several times over, so that a loose contact
// (bits that change from read to read) is told apart from wrong data.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/qmx71_steps.h"

namespace qmx::tool {

namespace {

// Every value seen at one address, in the order first seen.
struct Unstable {
  std::int64_t address;
  std::vector<std::uint8_t> values;
};

std::vector<Unstable> CompareReads(const Range& range, const std::vector<Bytes>& reads) {
  std::vector<Unstable> found;
  for (std::size_t i = 0; i < reads.front().size(); ++i) {
    std::vector<std::uint8_t> values{reads.front()[i]};
    for (const Bytes& r : reads) {
      bool seen = false;
      for (std::uint8_t v : values) seen = seen || v == r[i];
      if (!seen) values.push_back(r[i]);
    }
    if (values.size() > 1) found.push_back({range.start + static_cast<std::int64_t>(i), std::move(values)});
  }
  return found;
}

}  // namespace

Bytes ReadStable(const Options& o, const PartChoice& part, const Range& range, const char* label) {
  if (o.repeat < 2) return ReadRange(o, part, range, label);
  std::vector<Bytes> reads;
  for (int n = 1; n <= o.repeat; ++n) {
    const std::string step = std::string(label) + " " + std::to_string(n) + "/" + std::to_string(o.repeat);
    reads.push_back(ReadRange(o, part, range, step.c_str()));
  }
  const std::vector<Unstable> unstable = CompareReads(range, reads);
  if (unstable.empty()) {
    Say(o, std::string(label) + ": " + std::to_string(o.repeat) + " reads agree");
    return reads.front();
  }
  std::fprintf(stderr, "%s: %zu address(es) read differently in %d reads (a loose contact?):\n", label,
               unstable.size(), o.repeat);
  for (const Unstable& u : unstable) {
    std::string line = "  " + Hex(u.address, 4) + ":";
    // Appended piece by piece: GCC 12 at -O3 takes " " + a temporary for an overlapping copy (-Wrestrict).
    for (std::uint8_t v : u.values) (line += ' ') += Hex(v, 2);
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  throw Failure(kMismatch, "the part does not read the same twice: check that it sits firmly in the socket");
}

}  // namespace qmx::tool
