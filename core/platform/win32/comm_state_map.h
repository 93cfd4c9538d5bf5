// Line settings in the channel's codes, mapped onto a Win32 DCB.
#pragma once

#include <windows.h>

#include "core/platform/serial_backend.h"

namespace qmx {

// Sets the rate, data bits, stop-bit and parity codes (their low bytes, as the
// DCB takes the same codes) and the handshake members of `dcb`; every other
// member keeps what the driver reported. Handshake modes:
//   1  output flow on CTS, RTS held on
//   2  output flow on DSR, DTR held on
//   3  XON/XOFF both ways with the driver's characters and limits
//   any other value: none, DTR and RTS off
// The driver judges the rate: an unknown one is refused by SetCommState and
// the port keeps its previous settings.
void MapLineSettings(const LineSettings& s, DCB& dcb);

}  // namespace qmx
