// The INI reader and writer on arbitrary files (their text, parsed from memory
// as Load does after reading the file). The input is the file, up to
// its last NUL byte when it has one; what follows that byte is a script of
// reads and writes whose names mostly come from the file itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings/ini_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using qmxfuzz::Check;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool HasBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// A write the reader can find again: names the writer accepts, and a key that
// does not itself read as a comment or a section header.
bool Readable(std::string_view section, std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  return !key.empty() && key.find('=') == std::string_view::npos && !HasBreak(key) && !HasBreak(section) &&
         section.find(']') == std::string_view::npos && key.front() != ';' && key.front() != '#' &&
         key.front() != '[';
}
bool Accepted(std::string_view section, std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  return !key.empty() && key.find('=') == std::string_view::npos && !HasBreak(key) && !HasBreak(section) &&
         section.find(']') == std::string_view::npos;
}

// The integer rules written out independently of the reader.
std::optional<int> Integer(std::string_view s) {
  int base = 10;
  bool negative = false;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  } else if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  long long value = 0;
  for (char c : s) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return std::nullopt;
    value = value * base + d;
    if (value > 0x80000000LL) value = 0x80000001LL;  // saturate: out of range either way
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(value);
}

// Section and key names the file mentions, so reads and writes hit them.
std::vector<std::string> NamesIn(std::string_view text) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at < text.size() && names.size() < 32) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (const auto open = line.find('['), close = line.find(']'); open != line.npos && close != line.npos && open < close) {
      names.emplace_back(line.substr(open + 1, close - open - 1));
    } else if (const auto eq = line.find('='); eq != line.npos) {
      names.emplace_back(line.substr(0, eq));
    }
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.rfind('\0');
  const std::string_view text = nul == input.npos ? input : input.substr(0, nul);
  FuzzedDataProvider script(data + text.size() + (nul == input.npos ? 0 : 1),
                            nul == input.npos ? 0 : size - nul - 1);

  qmx::IniFile ini;
  ini.LoadText(text);
  // Nothing is lost or normalised by loading.
  Check(ini.Text() == text, "loaded text differs from the file");

  const std::vector<std::string> names = NamesIn(text);
  const auto pickName = [&]() -> std::string {
    if (!names.empty() && script.ConsumeBool()) return names[script.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)];
    return script.ConsumeRandomLengthString(12);
  };

  while (script.remaining_bytes() > 0) {
    const int op = script.ConsumeIntegralInRange(0, 3);
    const std::string section = pickName();
    const std::string key = pickName();
    // A second name pair whose value no write to a different pair may change.
    const std::string otherSection = pickName();
    const std::string otherKey = pickName();
    const std::optional<std::string> otherBefore = ini.ReadString(otherSection, otherKey);
    const bool samePair = Lower(Trim(section)) == Lower(Trim(otherSection)) && Lower(Trim(key)) == Lower(Trim(otherKey));
    const std::string before = ini.Text();

    if (op == 0) {
      const std::optional<std::string> value = ini.ReadString(section, key);
      const int sentinel = script.ConsumeIntegral<int>();
      const int alternative = sentinel ^ 1;
      const std::optional<int> expected = value ? Integer(*value) : std::nullopt;
      Check(ini.ReadInteger(section, key, sentinel) == expected.value_or(sentinel), "integer read");
      Check(ini.ReadInteger(section, key, alternative) == expected.value_or(alternative), "integer read");
      Check(ini.ReadBool(section, key, true) == (expected.value_or(1) != 0), "bool read");
      Check(!value || Trim(*value) == *value, "read value keeps its blanks");
      Check(ini.Text() == before, "a read changed the document");
      continue;
    }
    std::optional<std::string> wanted;
    if (op == 1) {
      std::string value = script.ConsumeRandomLengthString(24);
      ini.WriteString(section, key, value);
      for (char& c : value) {
        if (c == '\r' || c == '\n') c = ' ';
      }
      wanted = std::string(Trim(value));
    } else if (op == 2) {
      const int value = script.ConsumeIntegral<int>();
      ini.WriteInteger(section, key, value);
      wanted = std::to_string(value);
      if (Readable(section, key)) Check(ini.ReadInteger(section, key, value ^ 1) == value, "integer round trip");
    } else {
      const bool value = script.ConsumeBool();
      ini.WriteBool(section, key, value);
      wanted = value ? "1" : "0";
      if (Readable(section, key)) Check(ini.ReadBool(section, key, !value) == value, "bool round trip");
    }
    if (!Accepted(section, key)) {
      Check(ini.Text() == before, "a refused write changed the document");
      continue;
    }
    if (Readable(section, key)) Check(ini.ReadString(section, key) == wanted, "written value does not read back");
    if (!samePair) Check(ini.ReadString(otherSection, otherKey) == otherBefore, "a write changed another key");
  }

  // What the writer produced loads back as the same document.
  const std::string saved = ini.Text();
  if (saved.size() != text.size() || saved != text) {
    qmx::IniFile again;
    again.LoadText(saved);
    Check(again.Text() == saved, "saved document does not load back");
  }
  return 0;
}
