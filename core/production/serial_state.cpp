#include "core/production/serial_state.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "image/digests.h"
#include "core/production/serial_number.h"
#include "core/production/shared_file.h"
#include "image/file_io.h"

namespace qmx::production {

namespace {

constexpr std::string_view kHeading = "qmx71 serial state 1\n";
constexpr std::size_t kLongest = 256;  // a valid file is far shorter

std::string CrcText(std::uint32_t crc) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(crc));
  return buf;
}

// "name value\n" at `at`, value returned and `at` moved past the line.
std::optional<std::string_view> Field(std::string_view text, std::size_t& at, std::string_view name) {
  const std::size_t end = text.find('\n', at);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view line = text.substr(at, end - at);
  if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != ' ') return std::nullopt;
  at = end + 1;
  return line.substr(name.size() + 1);
}

bool Fail(SerialStateError* code, std::string* error, SerialStateError what, std::string message) {
  if (code) *code = what;
  if (error) *error = std::move(message);
  return false;
}

}  // namespace

std::string FormatSerialState(const SerialSeries& series) {
  const std::string body = std::string(kHeading) + "first " + std::to_string(series.first) + "\nnext " +
                           std::to_string(series.next) + "\n";
  return body + "crc32 " + CrcText(qmx::Crc32(reinterpret_cast<const std::uint8_t*>(body.data()), body.size())) + "\n";
}

std::optional<SerialSeries> ParseSerialState(std::string_view text, std::string* error) {
  auto damaged = [error](const char* why) {
    if (error) *error = why;
    return std::nullopt;
  };
  if (!text.starts_with(kHeading)) return damaged("it does not start with the state file heading");
  std::size_t at = kHeading.size();
  const auto first = Field(text, at, "first");
  const auto next = Field(text, at, "next");
  const std::size_t bodyEnd = at;
  const auto crc = Field(text, at, "crc32");
  if (!first || !next || !crc) return damaged("a line is missing or cut short");
  if (at != text.size()) return damaged("there is more after the checksum line");
  const std::string_view body = text.substr(0, bodyEnd);
  if (*crc != CrcText(qmx::Crc32(reinterpret_cast<const std::uint8_t*>(body.data()), body.size())))
    return damaged("its checksum does not match its contents");
  const auto firstValue = ParseDecimal(*first);
  const auto nextValue = ParseDecimal(*next);
  if (!firstValue || !nextValue || *nextValue < *firstValue) return damaged("its numbers are not valid");
  return SerialSeries{*firstValue, *nextValue};
}

// The series stored in an existing file, or why it cannot be used.
static std::optional<SerialSeries> ReadSeries(const std::string& path, SerialStateError* code, std::string* error) {
  const qmx::FileContents file = qmx::ReadWholeFile(path, kLongest);
  if (file.status == qmx::FileReadStatus::kCannotRead) {
    Fail(code, error, SerialStateError::kFileError, "cannot read " + path);
    return std::nullopt;
  }
  const std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
  std::string why = "it is far longer than a state file";
  auto series = file.status == qmx::FileReadStatus::kOk ? ParseSerialState(text, &why) : std::nullopt;
  if (!series) Fail(code, error, SerialStateError::kDamaged, "serial state file " + path + " is damaged: " + why);
  return series;
}

std::unique_ptr<SerialState> SerialState::Open(const SerialStateRequest& request, SerialStateError* code,
                                               std::string* error) {
  const std::string& path = request.path;
  auto refuse = [&](SerialStateError what, std::string message) {
    Fail(code, error, what, std::move(message));
    return std::unique_ptr<SerialState>();
  };
  std::string why;
  auto lock = SharedFile::Open(path + ".lock", &why);
  if (!lock) return refuse(SerialStateError::kFileError, "cannot open " + path + ".lock: " + why);
  if (!lock->WaitLock(request.wait, request.stop))
    return refuse(SerialStateError::kBusy, "another run holds " + path + ".lock");

  std::error_code ec;
  if (std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found) {
    if (!request.start) return refuse(SerialStateError::kMissing, "serial state file " + path + " does not exist");
    // A new series is stored at once, so a run that fails still leaves it behind.
    const SerialSeries fresh{*request.start, *request.start};
    if (!qmx::WriteFileReplacing(path, FormatSerialState(fresh)))
      return refuse(SerialStateError::kFileError, "cannot create " + path);
    if (code) *code = SerialStateError::kNone;
    return std::unique_ptr<SerialState>(new SerialState(path, std::move(lock), fresh));
  }
  const auto series = ReadSeries(path, code, error);
  if (!series) return nullptr;
  if (request.start && *request.start != series->first)
    return refuse(SerialStateError::kOtherSeries, "serial state file " + path +
                                                      " belongs to a series that started at " +
                                                      std::to_string(series->first) + ", not " +
                                                      std::to_string(*request.start));
  if (code) *code = SerialStateError::kNone;
  return std::unique_ptr<SerialState>(new SerialState(path, std::move(lock), *series));
}

SerialState::SerialState(std::string path, std::unique_ptr<SharedFile> lock, SerialSeries series)
    : path_(std::move(path)), lock_(std::move(lock)), series_(series) {}

// Closing the lock file releases the lock.
SerialState::~SerialState() = default;

bool SerialState::Advance(std::uint64_t step, SerialStateError* code, std::string* error) {
  if (step > UINT64_MAX - series_.next)
    return Fail(code, error, SerialStateError::kExhausted, "the series has no number after " +
                                                               std::to_string(series_.next));
  const SerialSeries after{series_.first, series_.next + step};
  if (!qmx::WriteFileReplacing(path_, FormatSerialState(after)))
    return Fail(code, error, SerialStateError::kFileError, "cannot replace " + path_);
  series_ = after;
  if (code) *code = SerialStateError::kNone;
  return true;
}

}  // namespace qmx::production
