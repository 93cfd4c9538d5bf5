// The lines of a record file (Intel HEX, S-records), one at a time: a
// byte-order mark before the first is passed over (editors on some systems
// put one there), LF or CR LF ends a line.
#pragma once

#include <cstddef>
#include <string_view>

namespace qmx {

class TextLines {
 public:
  explicit TextLines(std::string_view text) : text_(text), at_(text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0) {}

  // The next line without its end; false once the text is used up.
  bool Next(std::string_view* line) {
    if (at_ >= text_.size()) return false;
    const std::size_t newline = text_.find('\n', at_);
    const std::size_t stop = newline == std::string_view::npos ? text_.size() : newline;
    *line = text_.substr(at_, stop - at_);
    at_ = stop + 1;
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    return true;
  }

 private:
  std::string_view text_;
  std::size_t at_;
};

// Indented records are still records: losing one would shift or drop data unnoticed.
inline std::string_view TrimRecordLine(std::string_view line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

}  // namespace qmx
