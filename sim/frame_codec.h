// The firmware side of the byte-stuffed frame format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qmx::sim {

// Incremental decoder for host-to-programmer frames. Bytes outside a frame are
// dropped, an unescaped start byte inside a frame is payload, and a frame keeps
// at most kMaxPayload counted bytes (escaped bytes only while fewer than 256 are
// counted). A frame with an empty payload is discarded.
class FrameDecoder {
 public:
  static constexpr std::size_t kMaxPayload = 257;
  using FrameSink = std::function<void(std::span<const std::uint8_t> payload)>;

  void Feed(std::span<const std::uint8_t> bytes, const FrameSink& sink);
  void Reset();

 private:
  bool inFrame_ = false;
  bool escapePending_ = false;
  std::vector<std::uint8_t> payload_;
};

// Frames a payload: start byte, payload with 0x04/0x05/0x0F escaped, end byte.
// No length limit: answers may carry up to 256 data bytes.
std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> payload);

}  // namespace qmx::sim
