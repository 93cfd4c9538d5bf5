#include "core/protocol/encoding.h"

#include <cstdio>

#include "core/protocol/commands.h"

namespace qmx {

namespace {
bool NeedsEscape(std::uint8_t b) {
  return b == kFrameStart || b == kFrameEnd || b == kFrameEscape;
}
}  // namespace

std::size_t EncodeFrameInto(std::span<const std::uint8_t> payload, std::uint8_t* out) {
  std::size_t n = 0;
  out[n++] = kFrameStart;
  for (std::uint8_t b : payload) {
    if (NeedsEscape(b)) out[n++] = kFrameEscape;
    out[n++] = b;
  }
  out[n++] = kFrameEnd;
  return n;
}

std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame(2 + 2 * payload.size());
  frame.resize(EncodeFrameInto(payload, frame.data()));
  return frame;
}

FreqArgs EncodeFrequency(std::uint32_t hz) {
  std::uint32_t value = hz;
  std::uint8_t unit = 0;
  if (hz >= 1000000) {
    value = hz / 1000000;
    unit = 2;
  } else if (hz >= 1000) {
    value = hz / 1000;
    unit = 1;
  }
  return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF), unit};
}

std::uint32_t DecodeFrequency(std::uint8_t valueLow, std::uint8_t valueHigh, std::uint8_t unit) {
  const std::uint32_t value = valueLow + 256u * valueHigh;
  switch (unit) {
    case 1: return value * 1000u;
    case 2: return value * 1000000u;
    default: return value;
  }
}

int SupplyCentivolts(std::uint8_t reading) {
  return reading == 0 ? 0 : 26100 / reading;
}

int VersionNumber(std::uint8_t major, std::uint8_t minor) {
  return major * 256 + minor;
}

std::string VersionText(std::uint8_t major, std::uint8_t minor) {
  char text[16];
  std::snprintf(text, sizeof text, "%X.%02X", major, minor);
  return text;
}

}  // namespace qmx
