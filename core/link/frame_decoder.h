// Byte-at-a-time decoder of the programmer's answer frames.
#pragma once

#include <cstdint>

namespace qmx {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // payload[0] is the response code; count >= 1.
  virtual void OnFrame(const std::uint8_t* payload, int count) = 0;
};

class FrameDecoder {
 public:
  // A frame keeps at most this many counted payload bytes: the code and 256 data bytes.
  static constexpr int kMaxCounted = 257;

  explicit FrameDecoder(FrameSink& sink) : sink_(sink) {}

  void Feed(const std::uint8_t* bytes, int count);

  bool InFrame() const { return inFrame_; }
  // Forgets a frame that was cut off, so a new connection starts clean.
  void Reset() {
    inFrame_ = false;
    escapePending_ = false;
    count_ = 0;
  }

 private:
  FrameSink& sink_;
  bool inFrame_ = false;
  bool escapePending_ = false;
  int count_ = 0;
  std::uint8_t frame_[260] = {};
};

}  // namespace qmx
