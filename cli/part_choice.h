// The command line's view of the catalogue: a part name (and organisation
// for Microwire) becomes the family, variant and device number the library
// takes, plus what a range over it must respect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmx::cli {

enum class Organisation { kDefault, kX8, kX16 };

struct PartChoice {
  std::string name;
  int family = 0;
  int variant = 0;  // Microwire: 1 for the Series90 protocol
  int device = 0;   // the library's device number
  int row = 0;
  std::int32_t size = 0;
  std::int32_t page = 1;      // write page (the part's default, or 64 for Microwire, which has none)
  int addressBits = 0;        // Microwire: what the part should report for this organisation
  bool wordOrganised = false; // ranges must start and end on even addresses
};

// Case-insensitive; a leading "AT" or "M" is not stripped (names are exact).
// Standard Microwire parts default to x16; Series90 parts are x16 only.
std::optional<PartChoice> ChoosePart(std::string_view name, Organisation org, std::string* error);

// --page-size: "" keeps the part's page; "auto" takes its datasheet page,
// and `note` says which page that is; else a whole number 1..256 (even for
// x16 parts). False with `error` set when the text is none of these.
bool ApplyPageSize(PartChoice& part, const std::string& text, std::string* note, std::string* error);

// Every catalogued part with the device numbers that select it, one line each.
std::vector<std::string> CatalogueLines();

// Range of a part: [start, start + length) checked against the size and the
// organisation. Length -1 means "to the end of the part".
struct Range {
  std::int32_t start = 0;
  std::int32_t length = 0;
};
std::optional<Range> CheckRange(const PartChoice& part, std::int64_t start, std::int64_t length, std::string* error);

// Pieces of a range for progress and for page alignment: each piece ends on a
// multiple of `unit` (from address 0) or at the range's end, and holds at most
// `most` bytes (rounded down to whole units, at least one unit).
std::vector<Range> SplitRange(const Range& range, std::int32_t unit, std::int32_t most);

}  // namespace qmx::cli
