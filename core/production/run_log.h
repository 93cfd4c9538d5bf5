// The production run log: one line per Program run, CSV with a header or
// JSON Lines, appended so that earlier lines survive a crash or a full disk.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qmx::production {

class SharedFile;

struct RunRecord {
  std::chrono::system_clock::time_point time;  // when the run started
  std::string model;                           // programmer model, e.g. "QMX-71C"
  std::string port;
  std::string part;
  std::string file;
  std::optional<std::uint32_t> fileCrc32;      // of the file's bytes as stored
  std::optional<std::uint64_t> serial;         // the number the part got (or would have)
  bool passed = false;
  std::string failedStep;                      // erase, blank, write, verify, ... when not passed
  std::optional<std::int64_t> firstDifference; // the first differing address, when a comparison failed
  std::string detail;                          // the error message, when not passed
  std::chrono::milliseconds duration{0};
};

enum class RunLogFormat { kCsv, kJsonLines };

// "2026-03-01T09:05:07Z": UTC, seconds.
std::string IsoTimeUtc(std::chrono::system_clock::time_point time);

// The CSV header line and record lines, each ending in "\n". Fields are quoted
// when they hold a comma, quote or leading/trailing space; control characters
// become spaces so a record is always one line.
std::string CsvHeader();
std::string CsvLine(const RunRecord& record);
// One JSON object on one line, ending in "\n".
std::string JsonLine(const RunRecord& record);

// What to write before the next line so that it starts a line of its own
// after a crash cut the last one: `tail` is the end of the file. Empty when
// the file ends in a newline (or is empty); a newline otherwise, with a
// closing quote first when the cut CSV line left a quoted field open.
std::string RepairBeforeAppend(const std::string& tail, RunLogFormat format);

class RunLog {
 public:
  // Opened (created when missing) at the start of a run, so that a log that
  // cannot be written stops the run before anything is programmed.
  static std::unique_ptr<RunLog> Open(const std::string& path, RunLogFormat format, std::string* error);
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // One write (header first when the file is empty), flushed to disk, under a
  // short lock so runs sharing the log do not interleave.
  bool Append(const RunRecord& record, std::string* error);

 private:
  RunLog(std::string path, RunLogFormat format, std::unique_ptr<SharedFile> file);
  std::string path_;
  RunLogFormat format_;
  std::unique_ptr<SharedFile> file_;
};

}  // namespace qmx::production
