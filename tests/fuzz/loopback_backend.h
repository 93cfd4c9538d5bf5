// Connects every port the library opens to one firmware model in this process.
#pragma once

#include <mutex>

#include "sim/programmer.h"

namespace qmxfuzz {

// The model every later open talks to; it must outlive the library's use.
void UseFirmware(qmx::sim::Programmer& programmer);
// Held while the target changes the model between calls (the part in the socket).
std::unique_lock<std::mutex> LockFirmware();

}  // namespace qmxfuzz
