// The status LED, for programs that link the library's code rather than load
// it: none of the twenty exports sends it, and their table is fixed.
#pragma once

#include <cstdint>

namespace qmx {

// DEV_CTRL with an LED code (DEVCTRL_LED_OFF .. DEVCTRL_LED_ERROR) on the open
// connection; false when closed or not sent. Not exported by the shared library.
bool LibraryStatusLed(std::uint8_t code);

}  // namespace qmx
