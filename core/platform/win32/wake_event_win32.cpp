#include <windows.h>

#include "core/platform/wake_event.h"

namespace qmx {

namespace {

HANDLE AsHandle(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

}  // namespace

// Manual-reset, so every wait that watches it wakes until Reset.
WakeEvent::WakeEvent() {
  const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event != nullptr) native_ = reinterpret_cast<std::intptr_t>(event);
}

WakeEvent::~WakeEvent() {
  if (Valid()) ::CloseHandle(AsHandle(native_));
}

void WakeEvent::Set() {
  if (Valid()) ::SetEvent(AsHandle(native_));
}

void WakeEvent::Reset() {
  if (Valid()) ::ResetEvent(AsHandle(native_));
}

bool WakeEvent::Wait(int timeoutMs) const {
  if (!Valid()) return false;
  const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return ::WaitForSingleObject(AsHandle(native_), limit) == WAIT_OBJECT_0;
}

}  // namespace qmx
