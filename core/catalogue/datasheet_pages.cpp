#include "core/catalogue/datasheet_pages.h"

#include <algorithm>
#include <array>

namespace qmx {
namespace {

struct PageRow {
  std::string_view part;
  int page;
};

// A larger figure than the part's own would wrap inside its page and
// overwrite the page's first bytes: every row is the smallest page among the
// makers' datasheets for that size.
constexpr std::array<PageRow, 14> kPages = {{
    {"24C01", 8},   {"24C02", 8},   {"24C04", 16},  {"24C08", 16},  {"24C16", 16},
    {"24C32", 32},  {"24C64", 32},  {"25C010", 16}, {"25C020", 16}, {"25C040", 16},
    {"25C080", 16}, {"25C160", 16}, {"25C320", 32}, {"25C640", 32},
}};

}  // namespace

int DatasheetPageSize(std::string_view partName) {
  const auto row = std::find_if(kPages.begin(), kPages.end(), [&](const PageRow& r) { return r.part == partName; });
  return row == kPages.end() ? 0 : row->page;
}

}  // namespace qmx
