#include "sim/frame_codec.h"

#include "sim/protocol.h"

namespace qmx::sim {

namespace {

// Escaped bytes stop counting one position earlier than plain ones.
constexpr std::size_t kMaxEscapedPosition = 256;

bool NeedsEscape(std::uint8_t b) { return b == kFrameStart || b == kFrameEnd || b == kFrameEscape; }

}  // namespace

void FrameDecoder::Feed(std::span<const std::uint8_t> bytes, const FrameSink& sink) {
  for (std::uint8_t b : bytes) {
    if (!inFrame_) {
      if (b == kFrameStart) {
        inFrame_ = true;
        escapePending_ = false;
        payload_.clear();
      }
      continue;
    }
    if (escapePending_) {
      escapePending_ = false;
      if (payload_.size() < kMaxEscapedPosition) payload_.push_back(b);
    } else if (b == kFrameEnd) {
      inFrame_ = false;
      if (!payload_.empty()) sink(payload_);
      payload_.clear();
    } else if (b == kFrameEscape) {
      escapePending_ = true;
    } else if (payload_.size() < kMaxPayload) {
      payload_.push_back(b);
    }
  }
}

void FrameDecoder::Reset() {
  inFrame_ = false;
  escapePending_ = false;
  payload_.clear();
}

std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() * 2 + 2);
  frame.push_back(kFrameStart);
  for (std::uint8_t b : payload) {
    if (NeedsEscape(b)) frame.push_back(kFrameEscape);
    frame.push_back(b);
  }
  frame.push_back(kFrameEnd);
  return frame;
}

}  // namespace qmx::sim
