// The serial number state file: which number the next part of a series gets.
//
// One run at a time holds a series: the run locks FILE.lock beside the state
// file (created once, never removed) for its whole length, reads the next
// number, programs the part and stores the following number only after the
// part verified. A second run on the same file, from another programmer too,
// waits for the lock, so it never gets a number the first one is using; a
// failed or killed run stores nothing, so its number is given again.
//
// The state file is replaced whole (temporary beside it, flushed, renamed)
// and carries a CRC-32 of its text, so a cut or edited file is found damaged
// and refused rather than taken for a new series.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qmx::production {

class SharedFile;

struct SerialSeries {
  std::uint64_t first = 0;  // the number the series started at; tells series apart
  std::uint64_t next = 0;
};

// The file's text, and its strict reading: every byte checked, nothing else
// tolerated (why in `error`).
std::string FormatSerialState(const SerialSeries& series);
std::optional<SerialSeries> ParseSerialState(std::string_view text, std::string* error);

enum class SerialStateError {
  kNone,
  kMissing,      // no state file, and no first number to start one
  kDamaged,      // unreadable contents, a wrong checksum, a cut file
  kOtherSeries,  // the file's series started at another number than the one given
  kBusy,         // another run held the lock for the whole wait
  kFileError,    // the system refused to read, create or replace a file
  kExhausted,    // the next number would overflow
};

struct SerialStateRequest {
  std::string path;
  // Starts a series when the file does not exist; when it does, must be the
  // series' first number. Without it, a missing file is an error.
  std::optional<std::uint64_t> start;
  std::chrono::milliseconds wait{std::chrono::seconds(120)};
  std::function<bool()> stop;  // polled while waiting for the lock
};

class SerialState {
 public:
  // The series locked for the object's life, or nothing with `code` and a message.
  static std::unique_ptr<SerialState> Open(const SerialStateRequest& request, SerialStateError* code,
                                           std::string* error);
  ~SerialState();
  SerialState(const SerialState&) = delete;
  SerialState& operator=(const SerialState&) = delete;

  std::uint64_t Next() const { return series_.next; }
  // Stores Next() + step as the next number; only once the part verified.
  bool Advance(std::uint64_t step, SerialStateError* code, std::string* error);

 private:
  SerialState(std::string path, std::unique_ptr<SharedFile> lock, SerialSeries series);
  std::string path_;
  std::unique_ptr<SharedFile> lock_;
  SerialSeries series_;
};

}  // namespace qmx::production
