#include "core/link/frame_decoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Recorder : FrameSink {
  std::vector<Bytes> frames;
  void OnFrame(const std::uint8_t* p, int n) override { frames.emplace_back(p, p + n); }
};

class FrameDecoderTest : public ::testing::Test {
 protected:
  void Feed(const Bytes& b) { decoder.Feed(b.data(), static_cast<int>(b.size())); }
  Recorder sink;
  FrameDecoder decoder{sink};
};

TEST_F(FrameDecoderTest, BytesBeforeTheFrameStartAreDropped) {
  Feed({0x11, 0x22, 0x0F, 0x84, 0xAA, 0x04});
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0], (Bytes{0x84, 0xAA}));
}

TEST_F(FrameDecoderTest, EscapedFrameBytesArePayload) {
  Feed({0x0F, 0x84, 0x05, 0x04, 0x05, 0x05, 0x05, 0x0F, 0x04});
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0], (Bytes{0x84, 0x04, 0x05, 0x0F}));
}

TEST_F(FrameDecoderTest, InnerUnescapedStartIsData) {
  Feed({0x0F, 0x84, 0x0F, 0x01, 0x04});
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0], (Bytes{0x84, 0x0F, 0x01}));
}

TEST_F(FrameDecoderTest, FrameSplitOverThreeFeedsIsDispatchedOnceAtItsEnd) {
  Feed({0x0F, 0x80});
  Feed({0x01, 0x05});
  EXPECT_TRUE(sink.frames.empty());
  Feed({0x05, 0x04});
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0], (Bytes{0x80, 0x01, 0x05}));
}

TEST_F(FrameDecoderTest, TwoFramesInOneFeedComeOutInOrder) {
  Feed({0x0F, 0x8B, 0x01, 0x04, 0x99, 0x0F, 0x84, 0x10, 0x20, 0x04});
  ASSERT_EQ(sink.frames.size(), 2u);
  EXPECT_EQ(sink.frames[0], (Bytes{0x8B, 0x01}));
  EXPECT_EQ(sink.frames[1], (Bytes{0x84, 0x10, 0x20}));
}

TEST_F(FrameDecoderTest, OverlongUnescapedFrameKeepsCodeAnd256Data) {
  Bytes wire{0x0F, 0x84};
  for (int i = 0; i < 300; ++i) wire.push_back(static_cast<std::uint8_t>(0x20 + i % 0x40));
  wire.push_back(0x04);
  Feed(wire);
  ASSERT_EQ(sink.frames.size(), 1u);
  const Bytes& f = sink.frames[0];
  ASSERT_EQ(f.size(), 257u);
  EXPECT_EQ(f[0], 0x84);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(f[1 + i], static_cast<std::uint8_t>(0x20 + i % 0x40)) << i;
}

TEST_F(FrameDecoderTest, FullAnswerKeepsAnEscapedLastByte) {
  // 255 data bytes, then an escaped 0x04 as the 256th: it is data, and kept.
  Bytes wire{0x0F, 0x84};
  wire.insert(wire.end(), 255, 0x33);
  wire.insert(wire.end(), {0x05, 0x04, 0x05, 0x0F, 0x04});
  Feed(wire);
  ASSERT_EQ(sink.frames.size(), 1u);
  ASSERT_EQ(sink.frames[0].size(), 257u);
  EXPECT_EQ(sink.frames[0][255], 0x33);
  EXPECT_EQ(sink.frames[0][256], 0x04);  // the escaped 0x0F after it is beyond the limit
}

TEST_F(FrameDecoderTest, EmptyFrameIsDiscardedAndDecodingGoesOn) {
  Feed({0x0F, 0x04, 0x0F, 0x8C, 0x4F, 0x04});
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0], (Bytes{0x8C, 0x4F}));
}

TEST_F(FrameDecoderTest, EndOutsideAFrameIsNoise) {
  Feed({0x04, 0x05, 0x04, 0x0F, 0x85, 0x01, 0x06, 0x04});
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0], (Bytes{0x85, 0x01, 0x06}));
}

TEST_F(FrameDecoderTest, RandomGarbageNeverOverrunsOrCrashes) {
  // A deterministic pseudo-random stream full of frame bytes and long runs.
  std::uint32_t x = 12345;
  Bytes wire;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1103515245u + 12345u;
    const std::uint8_t r = static_cast<std::uint8_t>(x >> 16);
    wire.push_back(r % 7 == 0 ? 0x05 : (r % 11 == 0 ? 0x0F : (r % 997 == 0 ? 0x04 : r)));
  }
  Feed(wire);
  for (const Bytes& f : sink.frames) {
    EXPECT_GE(f.size(), 1u);
    EXPECT_LE(f.size(), 257u);
  }
  // The decoder recovers: a clean frame after the garbage comes through.
  sink.frames.clear();
  Feed({0x04, 0x04, 0x0F, 0x80, 0x01, 0x00, 0x04});
  ASSERT_FALSE(sink.frames.empty());
  EXPECT_EQ(sink.frames.back(), (Bytes{0x80, 0x01, 0x00}));
}

}  // namespace
}  // namespace qmx
