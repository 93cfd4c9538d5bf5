#include <windows.h>

#include "library/switch_notice.h"

namespace qmx {

// The host's event object: set on every press, never reset or closed here
// (the host owns it and decides whether it is manual- or auto-reset). A
// handle that is no longer an event makes SetEvent fail, which is harmless.
void SendSwitchNotice(intptr_t handle) {
  const HANDLE event = reinterpret_cast<HANDLE>(handle);
  if (event == nullptr || event == INVALID_HANDLE_VALUE) return;
  ::SetEvent(event);
}

}  // namespace qmx
