// The host's answer decoder and response slot on arbitrary programmer output,
// cut into arbitrary reads. The input drives a small script: each step either
// feeds a chunk, arms a code, or drops a half-received frame.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "core/link/frame_decoder.h"
#include "core/link/response_slot.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using qmxfuzz::Check;

struct Recorder : qmx::FrameSink {
  std::vector<Bytes> frames;
  void OnFrame(const std::uint8_t* p, int n) override {
    Check(n >= 1 && n <= qmx::FrameDecoder::kMaxCounted, "frame length outside 1..257");
    frames.emplace_back(p, p + n);
  }
};

// Records each frame and passes it on to the slot, as the reader thread does.
struct Tee : qmx::FrameSink {
  explicit Tee(qmx::ResponseSlot& s) : slot(s) {}
  void OnFrame(const std::uint8_t* p, int n) override {
    record.OnFrame(p, n);
    slot.OnFrame(p, n);
  }
  qmx::ResponseSlot& slot;
  Recorder record;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  qmx::ResponseSlot slot;
  slot.OpenEvent();
  int switches = 0;
  int switchFrames = 0;
  slot.SetSwitchHandler([&](bool) { ++switches; });

  Tee split(slot);
  qmx::FrameDecoder decoder(split);
  // The same bytes in one piece: how a stream is cut must not change what it says.
  Recorder whole;
  qmx::FrameDecoder reference(whole);
  Bytes pending;

  std::optional<std::uint8_t> armed;
  std::optional<Bytes> expected;  // the first frame with the armed code since arming

  while (in.remaining_bytes() > 0) {
    const std::uint8_t op = in.ConsumeIntegral<std::uint8_t>();
    if (op < 8) {
      armed = in.ConsumeIntegral<std::uint8_t>();
      expected.reset();
      slot.Arm(*armed);
      continue;
    }
    if (op < 10) {
      reference.Feed(pending.data(), static_cast<int>(pending.size()));
      pending.clear();
      decoder.Reset();
      reference.Reset();
      Check(!decoder.InFrame(), "in a frame after Reset");
      continue;
    }
    const Bytes chunk = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300));
    const std::size_t before = split.record.frames.size();
    decoder.Feed(chunk.data(), static_cast<int>(chunk.size()));
    pending.insert(pending.end(), chunk.begin(), chunk.end());
    for (std::size_t i = before; i < split.record.frames.size(); ++i) {
      const Bytes& f = split.record.frames[i];
      if (f[0] == 0x8B) ++switchFrames;
      if (armed && !expected && f[0] == *armed) expected = f;
    }
    if (split.record.frames.size() > before) {
      // The slot always shows the newest frame, with nothing of a longer one behind it.
      const Bytes& newest = split.record.frames.back();
      const qmx::Answer last = slot.Last();
      Check(last.code == newest[0], "slot's last code");
      Check(last.length == static_cast<int>(newest.size()) - 1, "slot's last length");
      Check(std::memcmp(last.data.data(), newest.data() + 1, newest.size() - 1) == 0, "slot's last data");
      for (std::size_t j = newest.size() - 1; j < last.data.size(); ++j) Check(last.data[j] == 0, "stale tail");
    }
    // Only wait when the answer is known to be there: a wait that times out
    // would spin and slow the search down.
    if (armed && expected && (op & 1)) {
      Check(slot.WaitResponse(*armed, 0), "awaited answer not delivered");
      const qmx::Answer& got = slot.Awaited();
      Check(got.length >= 0 && got.length <= static_cast<int>(got.data.size()), "awaited length beyond its data");
      Check(got.code == *armed, "awaited code");
      Check(got.length == static_cast<int>(expected->size()) - 1, "awaited length");
      Check(std::memcmp(got.data.data(), expected->data() + 1, expected->size() - 1) == 0, "awaited data");
      // The wait consumed the arming: a later duplicate does not count.
      armed.reset();
      expected.reset();
    }
  }
  reference.Feed(pending.data(), static_cast<int>(pending.size()));
  Check(whole.frames == split.record.frames, "frames depend on how the stream was split");
  Check(switches == switchFrames, "switch handler calls");
  return 0;
}
