// Pure encodings of the protocol: frame stuffing and the few multi-byte
// values the host sends or decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qmx {

// Stuffs a payload into a frame: 0x0F, payload with 0x04/0x05/0x0F escaped by
// 0x05, then 0x04. The length limit is the sender's business, not this one's.
std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> payload);

// Same, into a caller's buffer of at least 2 + 2 * payload.size() bytes;
// returns the frame length. Used on the hot send path to avoid allocation.
std::size_t EncodeFrameInto(std::span<const std::uint8_t> payload, std::uint8_t* out);

// SET_FREQ arguments for a frequency in Hz: value low, value high, unit
// (0 Hz, 1 kHz, 2 MHz). Divisions truncate; the value keeps its low 16 bits.
struct FreqArgs {
  std::uint8_t valueLow;
  std::uint8_t valueHigh;
  std::uint8_t unit;
};
FreqArgs EncodeFrequency(std::uint32_t hz);

// Frequency answer (value low, value high, unit) back to Hz; an unknown unit
// leaves the value unscaled.
std::uint32_t DecodeFrequency(std::uint8_t valueLow, std::uint8_t valueHigh, std::uint8_t unit);

// Supply in units of 10 mV from the reading r (26100 / r, truncating).
// A reading of 0 has no meaning: the result is 0 then.
int SupplyCentivolts(std::uint8_t reading);

// Version as major * 256 + minor, and as shown to the operator ("%X.%02X").
int VersionNumber(std::uint8_t major, std::uint8_t minor);
std::string VersionText(std::uint8_t major, std::uint8_t minor);

}  // namespace qmx
