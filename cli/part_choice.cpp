#include "cli/part_choice.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "core/catalogue/catalogue.h"
#include "core/catalogue/datasheet_pages.h"

namespace qmx::cli {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The library's numbers for one family, in the order a listing shows them.
std::vector<int> DeviceNumbers(int family) {
  std::vector<int> numbers;
  auto add = [&](int from, int to) {
    for (int d = from; d <= to; ++d)
      if (ResolveDeviceNumber(family, d)) numbers.push_back(d);
  };
  if (family == kFamilyMicrowire) {
    add(0, 11);
    add(100, 111);
    add(200, 204);
  } else {
    add(0, 11);
  }
  return numbers;
}

const char* FamilyName(int family) {
  switch (family) {
    case kFamilyMicrowire: return "Microwire";
    case kFamilyI2c: return "I2C";
    case kFamilySpi: return "SPI";
    default: return "?";
  }
}

}  // namespace

std::optional<PartChoice> ChoosePart(std::string_view name, Organisation org, std::string* error) {
  for (int family : {kFamilyMicrowire, kFamilyI2c, kFamilySpi}) {
    std::optional<PartChoice> match;
    for (int d : DeviceNumbers(family)) {
      const auto dev = ResolveDeviceNumber(family, d);
      if (!SameName(PartName(family, dev->row), name)) continue;
      if (family == kFamilyMicrowire) {
        // Series90 rows take their own protocol only; standard rows the
        // organisation asked for.
        const bool series90Row = MicrowireParts()[static_cast<std::size_t>(dev->row)].variant == kSeries90;
        if (dev->series90Protocol != series90Row) continue;
        if (!series90Row && dev->byteOrganisation != (org == Organisation::kX8)) continue;
      }
      if (family == kFamilyMicrowire && dev->series90Protocol && org == Organisation::kX8) {
        if (error) *error = std::string(PartName(family, dev->row)) + " is organised in 16-bit words only";
        return std::nullopt;
      }
      PartChoice c;
      c.name = PartName(family, dev->row);
      c.family = family;
      c.variant = dev->series90Protocol ? 1 : 0;
      c.device = d;
      c.row = dev->row;
      c.size = dev->size;
      c.page = family == kFamilyMicrowire ? 64 : DefaultPageSize(family, dev->row);
      c.addressBits = dev->addressBits;
      c.wordOrganised = family == kFamilyMicrowire && !dev->byteOrganisation;
      match = c;
      break;
    }
    if (match) {
      if (org != Organisation::kDefault && family != kFamilyMicrowire) {
        if (error) *error = "--org applies to Microwire parts only";
        return std::nullopt;
      }
      return match;
    }
  }
  if (error) *error = "unknown part \"" + std::string(name) + "\" (qmx71 parts lists them)";
  return std::nullopt;
}

std::vector<std::string> CatalogueLines() {
  std::vector<std::string> lines;
  for (int family : {kFamilyMicrowire, kFamilyI2c, kFamilySpi}) {
    lines.push_back(std::string(FamilyName(family)) + ":");
    for (int row = 0; row < RowCount(family); ++row) {
      std::string numbers;
      for (int d : DeviceNumbers(family)) {
        const auto dev = ResolveDeviceNumber(family, d);
        if (dev->row != row) continue;
        char piece[48];
        const char* how = "";
        if (family == kFamilyMicrowire) how = dev->series90Protocol ? " (Series90)" : dev->byteOrganisation ? " (x8)" : " (x16)";
        std::snprintf(piece, sizeof piece, "%s%d%s", numbers.empty() ? "" : ", ", d, how);
        numbers += piece;
      }
      // Microwire parts take one unit per write command: no page to show.
      const std::string page =
          family == kFamilyMicrowire ? "-" : std::to_string(DefaultPageSize(family, row));
      char line[160];
      std::snprintf(line, sizeof line, "  %-8s %6d bytes  page %3s  device %s", PartName(family, row),
                    static_cast<int>(PartSize(family, row)), page.c_str(), numbers.empty() ? "-" : numbers.c_str());
      lines.emplace_back(line);
    }
  }
  return lines;
}

bool ApplyPageSize(PartChoice& part, const std::string& text, std::string* note, std::string* error) {
  if (text.empty()) return true;
  if (text == "auto") {
    const int page = DatasheetPageSize(part.name);
    if (page > 0) {
      part.page = page;
      *note = "page size " + std::to_string(page) + ": the datasheet page of " + part.name;
    } else {
      *note = part.name + " has no page writes: written a unit at a time, as without --page-size";
    }
    return true;
  }
  const bool digits = text.size() <= 3 && std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return std::isdigit(c) != 0;
  });
  const int page = digits ? std::stoi(text) : 0;
  if (page < 1 || page > 256) {
    *error = "--page-size takes 1 to 256, or auto";
    return false;
  }
  if (part.wordOrganised && page % 2 != 0) {
    *error = "x16 parts take an even --page-size";
    return false;
  }
  part.page = page;
  return true;
}

std::optional<Range> CheckRange(const PartChoice& part, std::int64_t start, std::int64_t length, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<Range> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (start < 0 || start > part.size) return fail("--start is outside the part (0.." + std::to_string(part.size) + ")");
  if (length < 0) length = part.size - start;
  if (length > part.size - start) return fail("the range runs past the end of the part");
  if (part.wordOrganised && (start % 2 != 0 || length % 2 != 0))
    return fail(part.name + " in x16 takes whole words: start and length must be even");
  return Range{static_cast<std::int32_t>(start), static_cast<std::int32_t>(length)};
}

std::vector<Range> SplitRange(const Range& range, std::int32_t unit, std::int32_t most) {
  std::vector<Range> pieces;
  unit = std::max<std::int32_t>(unit, 1);
  most = std::max<std::int32_t>(most / unit * unit, unit);
  const std::int64_t end = static_cast<std::int64_t>(range.start) + range.length;
  std::int64_t at = range.start;
  while (at < end) {
    // Up to the next unit boundary first, so later pieces start on one.
    std::int64_t next = (at / unit + 1) * unit;
    if (at % unit == 0) next = at + most;
    next = std::min(next, end);
    pieces.push_back({static_cast<std::int32_t>(at), static_cast<std::int32_t>(next - at)});
    at = next;
  }
  return pieces;
}

}  // namespace qmx::cli
