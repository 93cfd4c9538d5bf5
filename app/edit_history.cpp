#include "app/edit_history.h"

#include <algorithm>

namespace qmx::app {

EditHistory::Range EditHistory::Apply(std::uint8_t* data, int offset, const std::vector<std::uint8_t>& after) {
  if (offset < 0 || after.empty() || std::equal(after.begin(), after.end(), data + offset)) return {};
  Change change{offset, std::vector<std::uint8_t>(data + offset, data + offset + after.size()), after};
  std::copy(after.begin(), after.end(), data + offset);
  for (const Change& dropped : undone_) bytes_ -= dropped.Bytes();
  undone_.clear();
  bytes_ += change.Bytes();
  done_.push_back(std::move(change));
  while (bytes_ > kMaxBytes && done_.size() > 1) {
    bytes_ -= done_.front().Bytes();
    done_.pop_front();
  }
  return {offset, static_cast<int>(after.size())};
}

EditHistory::Range EditHistory::Undo(std::uint8_t* data) {
  if (done_.empty()) return {};
  Change change = std::move(done_.back());
  done_.pop_back();
  std::copy(change.before.begin(), change.before.end(), data + change.offset);
  const Range range{change.offset, static_cast<int>(change.before.size())};
  undone_.push_back(std::move(change));
  return range;
}

EditHistory::Range EditHistory::Redo(std::uint8_t* data) {
  if (undone_.empty()) return {};
  Change change = std::move(undone_.back());
  undone_.pop_back();
  std::copy(change.after.begin(), change.after.end(), data + change.offset);
  const Range range{change.offset, static_cast<int>(change.after.size())};
  done_.push_back(std::move(change));
  return range;
}

void EditHistory::Clear() {
  done_.clear();
  undone_.clear();
  bytes_ = 0;
}

}  // namespace qmx::app
