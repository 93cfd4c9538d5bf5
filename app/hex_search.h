// Finding bytes in the image for the hex editor: the operator's pattern as
// bytes, and a search from the cursor that goes round the part once.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qmx::app {

struct SearchPattern {
  std::vector<std::uint8_t> bytes;
  int step = 1;  // 2: only at word addresses, for words as a word view shows them
};

// Hex digits with blanks anywhere between them ("12 AB cd", "12ab"). In the
// byte view (0) each pair is a byte; in the word views (1 little-endian,
// 2 big-endian) each four digits are a word as the view shows it, stored in
// the view's byte order and found only at word addresses. Empty when the text
// holds anything else, or digits that do not make whole bytes or words.
std::optional<SearchPattern> HexPattern(std::string_view text, int view);

// The text's bytes as they are, found at any address.
SearchPattern TextPattern(std::string_view bytes);

struct SearchHit {
  int offset = -1;       // -1: nowhere in the part
  bool wrapped = false;  // found only past the end (forward) or the start (backward)
};

// Forward: the first match at `from` or after it, else the first from the
// start. Backward: the last match at `from` or before it, else the last one
// of the part. A match lies wholly inside data[0..size).
SearchHit FindPattern(const std::uint8_t* data, int size, const SearchPattern& pattern, int from, bool forward);

}  // namespace qmx::app
