#include "sim/send_queue.h"

#include <algorithm>

namespace qmx::sim {

void SendQueue::Schedule(Clock::time_point due, Chunks chunks, Clock::duration gap) {
  std::erase_if(chunks, [](const std::vector<std::uint8_t>& c) { return c.empty(); });
  if (chunks.empty()) return;
  auto first = queue_.begin();
  if (first != queue_.end() && first->started) ++first;
  auto at = std::upper_bound(first, queue_.end(), due,
                             [](Clock::time_point t, const Transmission& tr) { return t < tr.due; });
  queue_.insert(at, Transmission{due, std::move(chunks), gap});
}

std::optional<SendQueue::Clock::time_point> SendQueue::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.front().due;
}

std::span<const std::uint8_t> SendQueue::DueBytes(Clock::time_point now) const {
  if (queue_.empty() || queue_.front().due > now) return {};
  const Transmission& tr = queue_.front();
  return std::span<const std::uint8_t>(tr.chunks[tr.chunk]).subspan(tr.offset);
}

void SendQueue::Consumed(std::size_t count, Clock::time_point now) {
  if (queue_.empty() || count == 0) return;
  Transmission& tr = queue_.front();
  tr.started = true;
  tr.offset += count;
  if (tr.offset < tr.chunks[tr.chunk].size()) return;
  tr.offset = 0;
  if (++tr.chunk == tr.chunks.size()) {
    queue_.pop_front();
    return;
  }
  tr.due = now + tr.gap;
}

void SendQueue::DropFront() {
  if (!queue_.empty()) queue_.pop_front();
}

SendQueue::Chunks SplitIntoPieces(std::span<const std::uint8_t> bytes, int pieces) {
  const std::size_t n = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(pieces, 1)), 1,
                                                std::max<std::size_t>(bytes.size(), 1));
  SendQueue::Chunks out;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t len = bytes.size() / n + (i < bytes.size() % n ? 1 : 0);
    out.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                     bytes.begin() + static_cast<std::ptrdiff_t>(pos + len));
    pos += len;
  }
  return out;
}

}  // namespace qmx::sim
