// One INI settings file held as its lines, so that saving after a few writes
// leaves everything else in the file (comments, sections and keys this program
// does not know, odd spacing) exactly as the user or another tool left it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmx {

// Larger files are refused by Load: a settings file is a few hundred bytes.
inline constexpr std::size_t kIniFileLimit = 1024 * 1024;

// Lookup rules, close to the platform profile functions:
// - Section and key names compare case-insensitively (ASCII only), blanks around them ignored.
// - A line whose first non-blank character is '[' and that has a ']' opens the
//   section named by the trimmed text between them; anything after ']' is ignored.
// - A key line is "key=value" with a non-empty trimmed key; only the first '='
//   splits. The value is trimmed of spaces and tabs and otherwise taken as
//   written: no quote stripping, no inline comments.
// - Lines starting with ';' or '#', and keys above the first section, are never read.
// - A section that appears more than once is searched in file order: the first
//   matching key in any of its parts wins, and writes change that same line.
class IniFile {
 public:
  // Replaces the document with the file's contents. A missing file gives an
  // empty document and true; a file that exists but cannot be read, or is
  // larger than kIniFileLimit, gives an empty document and false.
  bool Load(const std::string& path);
  // Replaces the document with this text, as Load does with a file's bytes.
  void LoadText(std::string_view text);
  // Writes the document through WriteFileReplacing; false when that fails.
  bool Save(const std::string& path) const;

  // The whole document as Save writes it.
  std::string Text() const;

  std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
  // Changes the value of the existing key in place, else adds "key=value" after
  // the section's last entry, else adds the section at the end of the file.
  // Line breaks in the value become spaces; leading and trailing blanks of the
  // value do not survive a read. Ignored when the key is empty or contains '=',
  // or either name contains a line break or the section name contains ']'.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  // Decimal with an optional sign, or "0x"/"0X" followed by at least one hex
  // digit. Anything else, including "0x" alone, a value outside int (no
  // wrapping: "0x80000000" is not -2147483648) or a missing key, gives defaultValue.
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
  void WriteInteger(std::string_view section, std::string_view key, int value);

  // An integer as above; any non-zero value is true. Written as "1" or "0".
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  void WriteBool(std::string_view section, std::string_view key, bool value);

 private:
  struct Line {
    std::string text;      // without its line end
    std::string_view end;  // "\n", "\r\n", or "" for a last line without one
  };

  // Index of the first line of the key in the named section, or lines_.size().
  std::size_t FindKey(std::string_view section, std::string_view key) const;

  std::vector<Line> lines_;
  bool bom_ = false;
  // Line end for added lines: the file's own when it had one, LF for a new file.
  std::string_view newLine_ = "\n";
};

}  // namespace qmx
