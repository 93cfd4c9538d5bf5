#include "core/link/frame_decoder.h"

#include "core/protocol/commands.h"

namespace qmx {

void FrameDecoder::Feed(const std::uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    if (!inFrame_) {
      if (b == kFrameStart) {
        inFrame_ = true;
        count_ = 0;
      }
      continue;
    }
    if (escapePending_) {
      // Escaped bytes count like any other: a full 256-byte answer whose last
      // byte needs an escape must not lose that byte.
      frame_[count_] = b;
      escapePending_ = false;
      if (count_ <= 256) ++count_;
    } else if (b == kFrameEnd) {
      // A frame with no payload carries no response code: drop it.
      if (count_ > 0) sink_.OnFrame(frame_, count_);
      inFrame_ = false;
      count_ = 0;
    } else if (b == kFrameEscape) {
      escapePending_ = true;
    } else {
      // An unescaped 0x0F inside a frame is payload, not a restart.
      frame_[count_] = b;
      if (count_ <= 256) ++count_;
    }
  }
}

}  // namespace qmx
