#include "core/settings/ini_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <limits>
#include <system_error>

#include "image/file_io.h"

namespace qmx {

namespace {

constexpr std::string_view kLf = "\n";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

enum class LineKind { kBlank, kComment, kSection, kKey, kOther };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;    // section or key name, trimmed
  std::size_t valueAt = 0;  // key lines: just past the '='
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

ParsedLine Parse(std::string_view text) {
  ParsedLine line;
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty()) {
    line.kind = LineKind::kBlank;
  } else if (trimmed.front() == ';' || trimmed.front() == '#') {
    line.kind = LineKind::kComment;
  } else if (trimmed.front() == '[') {
    // "[name]  ; note" still opens "name"; "[name" without ']' opens nothing.
    const std::size_t close = trimmed.find(']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::kSection;
      line.name = Trim(trimmed.substr(1, close - 1));
    }
  } else if (const std::size_t eq = text.find('='); eq != std::string_view::npos) {
    line.name = Trim(text.substr(0, eq));
    if (!line.name.empty()) {
      line.kind = LineKind::kKey;
      line.valueAt = eq + 1;
    }
  }
  return line;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool AllOf(std::string_view text, bool (*test)(char)) {
  for (char c : text) {
    if (!test(c)) return false;
  }
  return !text.empty();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f'); }

// from_chars alone would also take "0x-1" and "+-1", so the digits are checked first.
std::optional<int> ParseInteger(std::string_view text) {
  int base = 10;
  std::string_view digits = text;
  bool negative = false;
  if (text.size() > 2 && text[0] == '0' && LowerAscii(text[1]) == 'x') {
    base = 16;
    digits.remove_prefix(2);
    if (!AllOf(digits, IsHexDigit)) return std::nullopt;
  } else {
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
      negative = digits.front() == '-';
      digits.remove_prefix(1);
    }
    if (!AllOf(digits, IsDigit)) return std::nullopt;
  }
  // Parsed as a magnitude so that the most negative int is still in range.
  unsigned long long magnitude = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  const unsigned long long limit =
      negative ? 0ULL + std::numeric_limits<int>::max() + 1 : 0ULL + std::numeric_limits<int>::max();
  if (magnitude > limit) return std::nullopt;
  return negative ? static_cast<int>(-static_cast<long long>(magnitude)) : static_cast<int>(magnitude);
}

}  // namespace

bool IniFile::Load(const std::string& path) {
  *this = IniFile();
  const FileContents file = ReadWholeFile(path, kIniFileLimit);
  if (file.status != FileReadStatus::kOk) {
    struct stat info {};
    return file.status == FileReadStatus::kCannotRead && ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
  }
  LoadText(std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()));
  return true;
}

void IniFile::LoadText(std::string_view rest) {
  *this = IniFile();
  if (rest.starts_with(kBom)) {
    bom_ = true;
    rest.remove_prefix(kBom.size());
  }
  bool endSeen = false;
  while (!rest.empty()) {
    const std::size_t lf = rest.find('\n');
    if (lf == std::string_view::npos) {
      lines_.push_back({std::string(rest), std::string_view()});
      break;
    }
    const bool crlf = lf > 0 && rest[lf - 1] == '\r';
    const std::string_view end = crlf ? kCrLf : kLf;
    lines_.push_back({std::string(rest.substr(0, crlf ? lf - 1 : lf)), end});
    if (!endSeen) newLine_ = end;
    endSeen = true;
    rest.remove_prefix(lf + 1);
  }
}

bool IniFile::Save(const std::string& path) const { return WriteFileReplacing(path, Text()); }

std::string IniFile::Text() const {
  std::string text(bom_ ? kBom : std::string_view());
  for (const Line& line : lines_) {
    text += line.text;
    text += line.end;
  }
  return text;
}

std::size_t IniFile::FindKey(std::string_view section, std::string_view key) const {
  section = Trim(section);
  key = Trim(key);
  bool inSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const ParsedLine line = Parse(lines_[i].text);
    if (line.kind == LineKind::kSection) {
      inSection = EqualNoCase(line.name, section);
    } else if (inSection && line.kind == LineKind::kKey && EqualNoCase(line.name, key)) {
      return i;
    }
  }
  return lines_.size();
}

std::optional<std::string> IniFile::ReadString(std::string_view section, std::string_view key) const {
  const std::size_t at = FindKey(section, key);
  if (at == lines_.size()) return std::nullopt;
  const std::string_view text = lines_[at].text;
  return std::string(Trim(text.substr(Parse(text).valueAt)));
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  // Names are trimmed like the file's own, so a new line reads back under the same name.
  section = Trim(section);
  key = Trim(key);
  if (key.empty() || key.find('=') != std::string_view::npos || HasLineBreak(key) || HasLineBreak(section) ||
      section.find(']') != std::string_view::npos) {
    return;
  }
  std::string clean(value);
  for (char& c : clean) {
    if (c == '\r' || c == '\n') c = ' ';
  }

  if (const std::size_t at = FindKey(section, key); at < lines_.size()) {
    std::string& text = lines_[at].text;
    std::size_t keep = Parse(text).valueAt;
    // An unchanged value leaves the line alone, trailing blanks and all.
    if (Trim(std::string_view(text).substr(keep)) == clean) return;
    while (keep < text.size() && IsBlank(text[keep])) ++keep;
    text.replace(keep, std::string::npos, clean);
    return;
  }

  // A line added after a last line that had no line end gives that line one.
  const auto insert = [this](std::size_t at, std::string text) {
    if (at == lines_.size() && !lines_.empty() && lines_.back().end.empty()) lines_.back().end = newLine_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), newLine_});
  };
  // Appended into one reserved string: GCC 12 at -O3 misreads the chain of
  // temporaries that operator+ makes here as an overlapping copy.
  std::string entry;
  entry.reserve(key.size() + 1 + clean.size());
  entry.append(key).append(1, '=').append(clean);

  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const ParsedLine header = Parse(lines_[i].text);
    if (header.kind != LineKind::kSection || !EqualNoCase(header.name, section)) continue;
    // After the last entry, so blank lines and comments that lead into the next
    // section stay with it.
    std::size_t after = i + 1;
    for (std::size_t j = i + 1; j < lines_.size(); ++j) {
      const LineKind kind = Parse(lines_[j].text).kind;
      if (kind == LineKind::kSection) break;
      if (kind == LineKind::kKey || kind == LineKind::kOther) after = j + 1;
    }
    insert(after, std::move(entry));
    return;
  }

  if (!lines_.empty() && Parse(lines_.back().text).kind != LineKind::kBlank) insert(lines_.size(), "");
  std::string header;
  header.reserve(section.size() + 2);
  header.append(1, '[').append(section).append(1, ']');
  insert(lines_.size(), std::move(header));
  insert(lines_.size(), std::move(entry));
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
  const std::optional<std::string> text = ReadString(section, key);
  if (!text) return defaultValue;
  return ParseInteger(*text).value_or(defaultValue);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

}  // namespace qmx
