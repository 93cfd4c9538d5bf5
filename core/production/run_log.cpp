#include "core/production/run_log.h"

#include <cstdio>

#include "core/production/shared_file.h"

namespace qmx::production {

namespace {

constexpr std::size_t kTailToRead = 64 * 1024;  // longer than any line we write
constexpr auto kLockWait = std::chrono::seconds(10);

std::string Crc(const RunRecord& r) {
  if (!r.fileCrc32) return "";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(*r.fileCrc32));
  return buf;
}

std::string Address(const RunRecord& r) {
  if (!r.firstDifference) return "";
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%04llX", static_cast<long long>(*r.firstDifference));
  return buf;
}

std::string Seconds(const RunRecord& r) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(r.duration.count()) / 1000.0);
  return buf;
}

std::string CsvField(std::string text) {
  bool quote = false;
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (c == ',' || c == '"') quote = true;
  }
  if (!quote) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// Length of the valid UTF-8 sequence at `i`, 0 when there is none.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

// A JSON string; bytes that are not UTF-8 (a file name can hold any) become U+FFFD.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string JsonOrNull(const std::string& text, bool present) { return present ? JsonString(text) : "null"; }

}  // namespace

std::string IsoTimeUtc(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(time);
  const auto days = floor<std::chrono::days>(seconds);
  const year_month_day date{days};
  const hh_mm_ss clock{seconds - days};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return buf;
}

std::string CsvHeader() {
  return "time,model,port,part,file,file_crc32,serial,result,failed_step,first_difference,duration_s,detail\n";
}

std::string CsvLine(const RunRecord& r) {
  std::string line;
  for (const std::string& field :
       {IsoTimeUtc(r.time), r.model, r.port, r.part, r.file, Crc(r), r.serial ? std::to_string(*r.serial) : "",
        std::string(r.passed ? "passed" : "failed"), r.failedStep, Address(r), Seconds(r), r.detail}) {
    // Appended piece by piece: GCC 12 at -O3 takes "," + a temporary for an overlapping copy (-Wrestrict).
    if (!line.empty()) line += ',';
    line += CsvField(field);
  }
  return line + "\n";
}

std::string JsonLine(const RunRecord& r) {
  return "{\"time\":" + JsonString(IsoTimeUtc(r.time)) + ",\"model\":" + JsonString(r.model) +
         ",\"port\":" + JsonString(r.port) + ",\"part\":" + JsonString(r.part) + ",\"file\":" + JsonString(r.file) +
         ",\"file_crc32\":" + JsonOrNull(Crc(r), r.fileCrc32.has_value()) +
         ",\"serial\":" + (r.serial ? std::to_string(*r.serial) : "null") + ",\"result\":\"" +
         (r.passed ? "passed" : "failed") + "\",\"failed_step\":" + JsonOrNull(r.failedStep, !r.failedStep.empty()) +
         ",\"first_difference\":" + JsonOrNull(Address(r), r.firstDifference.has_value()) +
         ",\"duration_s\":" + Seconds(r) + ",\"detail\":" + JsonString(r.detail) + "}\n";
}

std::string RepairBeforeAppend(const std::string& tail, RunLogFormat format) {
  if (tail.empty() || tail.back() == '\n') return "";
  const std::size_t lineStart = tail.rfind('\n');
  const std::string cut = tail.substr(lineStart == std::string::npos ? 0 : lineStart + 1);
  std::size_t quotes = 0;
  for (char c : cut) quotes += c == '"' ? 1 : 0;
  return format == RunLogFormat::kCsv && quotes % 2 == 1 ? "\"\n" : "\n";
}

std::unique_ptr<RunLog> RunLog::Open(const std::string& path, RunLogFormat format, std::string* error) {
  std::string why;
  auto file = SharedFile::Open(path, &why);
  if (!file) {
    if (error) *error = "cannot open the log " + path + ": " + why;
    return nullptr;
  }
  return std::unique_ptr<RunLog>(new RunLog(path, format, std::move(file)));
}

RunLog::RunLog(std::string path, RunLogFormat format, std::unique_ptr<SharedFile> file)
    : path_(std::move(path)), format_(format), file_(std::move(file)) {}

RunLog::~RunLog() = default;

bool RunLog::Append(const RunRecord& record, std::string* error) {
  if (!file_->WaitLock(kLockWait, nullptr)) {
    if (error) *error = "another run kept the log " + path_ + " locked";
    return false;
  }
  std::string tail;
  const bool read = file_->ReadTail(kTailToRead, &tail);
  std::string text = read ? RepairBeforeAppend(tail, format_) : "";
  if (read && tail.empty() && format_ == RunLogFormat::kCsv) text += CsvHeader();
  text += format_ == RunLogFormat::kCsv ? CsvLine(record) : JsonLine(record);
  const bool written = read && file_->Append(text);
  file_->Unlock();
  if (!written && error) *error = "cannot append to the log " + path_ + ": " + LastSystemError();
  return written;
}

}  // namespace qmx::production
