// Line settings in the channel's codes, mapped onto termios.
#pragma once

#include <termios.h>

#include "core/platform/serial_backend.h"

namespace qmx {

// Makes `tio` raw and applies the settings. The speed is left as it was when
// the rate is not one termios knows (the port keeps its previous rate, as a
// driver that refuses a setting would); returns false then.
//
// What termios cannot say: stop-bit code 1 (one and a half) becomes two stop
// bits, which a 16550-style UART turns into 1.5 at five data bits; handshake
// mode 2 (output flow on DSR) has no termios form and runs without flow
// control, DTR held high; mode 1 uses CRTSCTS, which also lets RTS follow the
// input queue instead of holding it high; mode 3 uses the driver's own XON/XOFF
// characters and limits.
bool MapLineSettings(const LineSettings& s, termios& tio);

}  // namespace qmx
