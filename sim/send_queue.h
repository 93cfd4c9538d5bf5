// Scheduled writes of the serving thread: answers due later (latency, injected
// delays, frames split over several writes) must not hold up decoding.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace qmx::sim {

class SendQueue {
 public:
  using Clock = std::chrono::steady_clock;
  using Chunks = std::vector<std::vector<std::uint8_t>>;

  // A transmission writes its chunks in order, the first at `due`, each next one
  // `gap` after the previous was written. Transmissions go out by due time (ties
  // in scheduling order), and one that has begun finishes before any other
  // starts, so a split frame is never interleaved with another.
  void Schedule(Clock::time_point due, Chunks chunks, Clock::duration gap = {});

  std::optional<Clock::time_point> NextDue() const;
  // Bytes to write at `now`; empty when nothing is due.
  std::span<const std::uint8_t> DueBytes(Clock::time_point now) const;
  // `count` bytes of DueBytes() were written at `now`.
  void Consumed(std::size_t count, Clock::time_point now);
  // Gives up the transmission at the front (the port failed under it).
  void DropFront();
  void Clear() { queue_.clear(); }
  bool Empty() const { return queue_.empty(); }

 private:
  struct Transmission {
    Clock::time_point due;
    Chunks chunks;
    Clock::duration gap;
    std::size_t chunk = 0;
    std::size_t offset = 0;
    bool started = false;
  };
  std::deque<Transmission> queue_;
};

// Cuts a frame into `pieces` parts of nearly equal length (at least one byte each).
SendQueue::Chunks SplitIntoPieces(std::span<const std::uint8_t> bytes, int pieces);

}  // namespace qmx::sim
