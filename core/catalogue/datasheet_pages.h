// Page sizes from the parts' datasheets: the bytes one write cycle may fill.
// The catalogue's default page stays 1, which every part takes; these are
// offered to the operator (a hint in the window, qmx71 --page-size auto),
// never applied unasked.
#pragma once

#include <string_view>

namespace qmx {

// 0 for a part without page writes (Microwire, 24C00) and for a name that
// is not catalogued.
int DatasheetPageSize(std::string_view partName);

}  // namespace qmx
