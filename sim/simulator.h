// Public entry point of the simulated programmer.
#pragma once

#include "sim/bus_device.h"   // IWYU pragma: export
#include "sim/eeprom_part.h"  // IWYU pragma: export
#include "sim/frame_codec.h"  // IWYU pragma: export
#include "sim/part_table.h"   // IWYU pragma: export
#include "sim/programmer.h"   // IWYU pragma: export
#include "sim/protocol.h"     // IWYU pragma: export
#include "sim/pty_simulator.h"  // IWYU pragma: export
