// Hexadecimal digits as the text file formats and the hex editor spell them:
// read in either case, written in upper case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qmx {

// The digit's value, or -1.
inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The byte spelled by the two characters at `at`, or -1.
inline int HexByte(std::string_view line, std::size_t at) {
  if (at + 2 > line.size()) return -1;
  const int hi = HexValue(line[at]);
  const int lo = HexValue(line[at + 1]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

inline void AppendHexByte(std::string& out, unsigned b) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  out += kDigits[(b >> 4) & 0xF];
  out += kDigits[b & 0xF];
}

}  // namespace qmx
