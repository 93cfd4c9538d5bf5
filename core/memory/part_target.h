// The part a pass works on, resolved from the program's settings or the
// library's device number, with everything its bus sequence needs.
#pragma once

#include <cstdint>
#include <optional>

namespace qmx {

struct I2cPart;
struct SpiPart;
struct ProgramSettings;

struct PartTarget {
  int family = -1;
  int row = -1;
  std::int32_t size = 0;
  bool series90 = false;          // Microwire Series90 protocol
  bool byteOrganisation = false;  // Standard Microwire in 8-bit organisation
  int addressBits = 0;            // Microwire, for the organisation used
  const I2cPart* i2c = nullptr;
  const SpiPart* spi = nullptr;

  bool WordOrganised() const { return family == 0 && !byteOrganisation; }
};

std::optional<PartTarget> ProgramTarget(const ProgramSettings& settings);
std::optional<PartTarget> LibraryTarget(int family, int deviceNumber);

// Bus address progression and block length of one read pass.
// Blocks a read keeps in flight. Measured on the real-timing simulator: 4
// brings a whole-part read of every family within about 5 % of its bus time
// (3 leaves 16-byte I2C blocks waiting on round trips); the programmer's
// buffers are small, so no more.
inline constexpr int kReadDepth = 4;
inline constexpr int kMaxReadDepth = 8;
// "0" in it sends each block only after the answer to the one before, for
// firmware that cannot keep up with reads sent ahead; 2 to kMaxReadDepth set
// the blocks in flight.
inline constexpr const char* kPipelineVariable = "QMX71_PIPELINE";

struct ReadPlan {
  std::int32_t unitStart = 0;
  std::int32_t unitStep = 0;
  std::int32_t length = 0;
  int block = 0;
  // Blocks whose commands may be sent before the oldest one's answer came.
  int depth = kReadDepth;
};

}  // namespace qmx
