// The hex editor's undo and redo: every change to the image goes through
// here, which keeps the bytes it replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace qmx::app {

class EditHistory {
 public:
  // The oldest changes are forgotten past this many kept bytes (a whole-part
  // fill of the largest part keeps twice its size).
  static constexpr std::size_t kMaxBytes = std::size_t{4} << 20;

  struct Range {
    int offset = -1;  // -1: nothing was changed
    int count = 0;
  };

  // Writes `after` into data from `offset` on, keeping what it replaces; a
  // change that changes nothing is neither written nor kept. Clears the redo side.
  Range Apply(std::uint8_t* data, int offset, const std::vector<std::uint8_t>& after);
  // Puts back the bytes the last change replaced, or writes them again.
  Range Undo(std::uint8_t* data);
  Range Redo(std::uint8_t* data);
  bool CanUndo() const { return !done_.empty(); }
  bool CanRedo() const { return !undone_.empty(); }
  void Clear();
  std::size_t KeptBytes() const { return bytes_; }

 private:
  struct Change {
    int offset = 0;
    std::vector<std::uint8_t> before, after;
    std::size_t Bytes() const { return before.size() + after.size(); }
  };
  std::deque<Change> done_;
  std::vector<Change> undone_;
  std::size_t bytes_ = 0;
};

}  // namespace qmx::app
