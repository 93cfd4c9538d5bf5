#include "sim/frame_codec.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/send_queue.h"

namespace qmx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Decode(FrameDecoder& decoder, const Bytes& bytes) {
  std::vector<Bytes> frames;
  decoder.Feed(bytes, [&](std::span<const std::uint8_t> p) { frames.emplace_back(p.begin(), p.end()); });
  return frames;
}

TEST(FrameDecoder, DropsBytesOutsideFramesAndKeepsInnerStartByteAsData) {
  FrameDecoder d;
  EXPECT_EQ(Decode(d, {0x11, 0x22, 0x0F, 0x84, 0xAA, 0x04, 0x33}), (std::vector<Bytes>{{0x84, 0xAA}}));
  EXPECT_EQ(Decode(d, {0x0F, 0x84, 0x0F, 0x01, 0x04}), (std::vector<Bytes>{{0x84, 0x0F, 0x01}}));
}

TEST(FrameDecoder, UnescapesStuffedBytes) {
  FrameDecoder d;
  EXPECT_EQ(Decode(d, {0x0F, 0x84, 0x05, 0x04, 0x05, 0x05, 0x05, 0x0F, 0x04}),
            (std::vector<Bytes>{{0x84, 0x04, 0x05, 0x0F}}));
}

TEST(FrameDecoder, JoinsFramesSplitAcrossFeedsAndSplitsFramesSharingOne) {
  FrameDecoder d;
  EXPECT_TRUE(Decode(d, {0x0F, 0x0D}).empty());
  EXPECT_TRUE(Decode(d, {0x05}).empty());  // escape pending across the cut
  EXPECT_EQ(Decode(d, {0x04, 0x04, 0x0F, 0x16, 0x04}), (std::vector<Bytes>{{0x0D, 0x04}, {0x16}}));
}

TEST(FrameDecoder, DiscardsEmptyFrame) {
  FrameDecoder d;
  EXPECT_EQ(Decode(d, {0x0F, 0x04, 0x0F, 0x01, 0x04}), (std::vector<Bytes>{{0x01}}));
}

TEST(FrameDecoder, CapsPlainBytesAt257AndEscapedBytesAt256) {
  FrameDecoder d;
  Bytes plain = {0x0F, 0x84};
  for (int i = 0; i < 300; ++i) plain.push_back(static_cast<std::uint8_t>(0x10 + i % 0x70));
  plain.push_back(0x04);
  auto frames = Decode(d, plain);
  ASSERT_EQ(frames.size(), 1U);
  ASSERT_EQ(frames[0].size(), 257U);
  EXPECT_EQ(frames[0][256], 0x10 + 255 % 0x70);

  // 255 plain bytes after the code make 256 counted; an escaped byte is then lost,
  // while a plain one still fits.
  Bytes edge = {0x0F, 0x84};
  edge.insert(edge.end(), 255, 0xCC);
  edge.insert(edge.end(), {0x05, 0x05, 0x77, 0x04});
  frames = Decode(d, edge);
  ASSERT_EQ(frames.size(), 1U);
  ASSERT_EQ(frames[0].size(), 257U);
  EXPECT_EQ(frames[0].back(), 0x77);
}

TEST(FrameDecoder, ResetForgetsHalfFrame) {
  FrameDecoder d;
  Decode(d, {0x0F, 0x16});
  d.Reset();
  EXPECT_TRUE(Decode(d, {0x01, 0x04}).empty());
}

TEST(EncodeFrame, StuffsControlBytesAndHasNoLengthLimit) {
  EXPECT_EQ(EncodeFrame(Bytes{0x0D, 0x04}), (Bytes{0x0F, 0x0D, 0x05, 0x04, 0x04}));
  EXPECT_EQ(EncodeFrame(Bytes{0x84, 0x05, 0x0F, 0x06}), (Bytes{0x0F, 0x84, 0x05, 0x05, 0x05, 0x0F, 0x06, 0x04}));
  Bytes big(257, 0xCC);
  EXPECT_EQ(EncodeFrame(big).size(), 259U);
}

TEST(EncodeFrame, RoundTripsThroughDecoder) {
  Bytes payload;
  for (int i = 0; i < 256; ++i) payload.push_back(static_cast<std::uint8_t>(i));
  FrameDecoder d;
  EXPECT_EQ(Decode(d, EncodeFrame(std::span(payload).first(200))),
            (std::vector<Bytes>{Bytes(payload.begin(), payload.begin() + 200)}));
}

TEST(SplitIntoPieces, CutsIntoNearlyEqualNonEmptyParts) {
  const Bytes frame = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(SplitIntoPieces(frame, 3), (SendQueue::Chunks{{1, 2, 3}, {4, 5}, {6, 7}}));
  EXPECT_EQ(SplitIntoPieces(frame, 20).size(), 7U);
  EXPECT_EQ(SplitIntoPieces(frame, 0), (SendQueue::Chunks{frame}));
}

class SendQueueTest : public ::testing::Test {
 protected:
  using Clock = SendQueue::Clock;
  using ms = std::chrono::milliseconds;
  // Writes everything due at `now`, whole chunks at a time.
  Bytes Drain(Clock::time_point now) {
    Bytes out;
    for (auto b = q.DueBytes(now); !b.empty(); b = q.DueBytes(now)) {
      out.insert(out.end(), b.begin(), b.end());
      q.Consumed(b.size(), now);
    }
    return out;
  }
  SendQueue q;
  Clock::time_point t0 = Clock::now();
};

TEST_F(SendQueueTest, SendsByDueTimeKeepingOrderOfTies) {
  q.Schedule(t0 + ms(10), {{0xA1}});
  q.Schedule(t0, {{0xB1}});
  q.Schedule(t0, {{0xB2}});
  EXPECT_EQ(Drain(t0), (Bytes{0xB1, 0xB2}));
  EXPECT_EQ(q.NextDue(), t0 + ms(10));
  EXPECT_TRUE(Drain(t0 + ms(9)).empty());
  EXPECT_EQ(Drain(t0 + ms(10)), (Bytes{0xA1}));
  EXPECT_TRUE(q.Empty());
}

TEST_F(SendQueueTest, SplitTransmissionIsNotInterleaved) {
  q.Schedule(t0, {{1, 2}, {3, 4}}, ms(20));
  EXPECT_EQ(Drain(t0), (Bytes{1, 2}));
  q.Schedule(t0 + ms(5), {{9}});  // due before the second piece, must wait for it
  EXPECT_EQ(q.NextDue(), t0 + ms(20));
  EXPECT_TRUE(Drain(t0 + ms(10)).empty());
  EXPECT_EQ(Drain(t0 + ms(20)), (Bytes{3, 4, 9}));
}

TEST_F(SendQueueTest, PartialWriteResumesWhereItStopped) {
  q.Schedule(t0, {{1, 2, 3}});
  q.Consumed(2, t0);
  EXPECT_EQ(Drain(t0), (Bytes{3}));
  q.Schedule(t0, {{4}, {5}});
  q.DropFront();
  EXPECT_TRUE(q.Empty());
}

}  // namespace
}  // namespace qmx::sim
