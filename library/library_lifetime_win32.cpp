// A thread ending needs the loader lock, which DllMain holds: joining the
// reader during an unload would never return. So the image is never unloaded
// under an open connection (the connection holds a reference to it: a host's
// FreeLibrary without QmxClose leaves it loaded and connected until the
// process ends), and at process exit, when the system has already ended
// every other thread, the supply goes off without a join or a close.
#include <windows.h>

#include "library/library_lifetime.h"

namespace qmx {
namespace {

HMODULE held = nullptr;

}  // namespace

void HoldImageLoaded() {
  if (held != nullptr) return;
  HMODULE self = nullptr;
  if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&HoldImageLoaded),
                           &self)) {
    held = self;
  }
}

// Only from a host's call (QmxClose, a lost port found during a call): the
// host's own reference keeps the image while this returns.
void ReleaseImageHold() {
  const HMODULE module = held;
  held = nullptr;
  if (module != nullptr) ::FreeLibrary(module);
}

void ForgetImageHold() { held = nullptr; }

}  // namespace qmx
