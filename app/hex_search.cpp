#include "app/hex_search.h"

#include <algorithm>
#include <cstring>

#include "image/hex_digits.h"

namespace qmx::app {

namespace {

bool Matches(const std::uint8_t* data, int at, const SearchPattern& pattern) {
  return std::memcmp(data + at, pattern.bytes.data(), pattern.bytes.size()) == 0;
}

}  // namespace

std::optional<SearchPattern> HexPattern(std::string_view text, int view) {
  std::vector<int> digits;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    const int value = HexValue(c);
    if (value < 0) return std::nullopt;
    digits.push_back(value);
  }
  const std::size_t group = view == 0 ? 2 : 4;
  if (digits.empty() || digits.size() % group != 0) return std::nullopt;
  SearchPattern pattern;
  pattern.step = view == 0 ? 1 : 2;
  for (std::size_t i = 0; i < digits.size(); i += 2)
    pattern.bytes.push_back(static_cast<std::uint8_t>(digits[i] << 4 | digits[i + 1]));
  // A little-endian view shows each word's second byte first.
  if (view == 1) {
    for (std::size_t i = 0; i < pattern.bytes.size(); i += 2) std::swap(pattern.bytes[i], pattern.bytes[i + 1]);
  }
  return pattern;
}

SearchPattern TextPattern(std::string_view bytes) {
  SearchPattern pattern;
  pattern.bytes.assign(bytes.begin(), bytes.end());
  return pattern;
}

SearchHit FindPattern(const std::uint8_t* data, int size, const SearchPattern& pattern, int from, bool forward) {
  const int length = static_cast<int>(pattern.bytes.size());
  const int step = std::max(pattern.step, 1);
  if (length == 0 || size < length) return {};
  const int last = (size - length) / step * step;  // the last place a match fits
  if (forward) {
    // Candidates are multiples of the step: `from` is rounded up.
    const int start = (std::max(from, 0) + step - 1) / step * step;
    for (int at = start; at <= last; at += step)
      if (Matches(data, at, pattern)) return {at, false};
    for (int at = 0; at < std::min(start, last + 1); at += step)
      if (Matches(data, at, pattern)) return {at, true};
  } else {
    // Rounded down; before the start nothing is left but the wrap.
    const int start = from < 0 ? -1 : std::min(from, last) / step * step;
    for (int at = start; at >= 0; at -= step)
      if (Matches(data, at, pattern)) return {at, false};
    for (int at = last; at > start; at -= step)
      if (Matches(data, at, pattern)) return {at, true};
  }
  return {};
}

}  // namespace qmx::app
