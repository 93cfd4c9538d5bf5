// The host's switch notification: a descriptor (an eventfd or a pipe on
// POSIX) or an event HANDLE (Win32) the library signals on every press, from
// its reader thread. A notice never blocks that thread and never raises a
// signal in the host.
#pragma once

#include <cstdint>

namespace qmx {

// A full descriptor loses the notice (the state stays readable through
// QmxGetSwitch); a closed or invalid one is ignored.
void SendSwitchNotice(intptr_t handle);

}  // namespace qmx
