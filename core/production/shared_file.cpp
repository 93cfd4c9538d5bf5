// What the shared file does the same way on every system.
#include <thread>

#include "core/production/shared_file.h"

namespace qmx::production {

bool SharedFile::WaitLock(std::chrono::milliseconds wait, const std::function<bool()>& stop) {
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (TryLock()) return true;
    if (std::chrono::steady_clock::now() >= until || (stop && stop())) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace qmx::production
