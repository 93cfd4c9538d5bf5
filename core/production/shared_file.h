// A file that several runs, possibly on several programmers, share: the lock
// beside a serial state file and the run log. Opened for reading and
// appending, created when missing; the lock is advisory and between
// processes, and goes with the file when it closes (or the process dies).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qmx::production {

class SharedFile {
 public:
  // Nothing (and the system's reason in `error`) when it cannot be opened or created.
  static std::unique_ptr<SharedFile> Open(const std::string& path, std::string* error);
  ~SharedFile();
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;

  // Exclusive; false at once when another process holds it.
  bool TryLock();
  void Unlock();
  // Waits for the lock, polling, until `wait` has passed or `stop` says so.
  bool WaitLock(std::chrono::milliseconds wait, const std::function<bool()>& stop);
  // Up to `most` of the file's last bytes.
  bool ReadTail(std::size_t most, std::string* tail);
  // One write at the end of the file, then flushed to the disk.
  bool Append(std::string_view text);

 private:
  struct Native;
  explicit SharedFile(std::unique_ptr<Native> native);
  std::unique_ptr<Native> native_;
};

// The system's text for its last error (errno or GetLastError).
std::string LastSystemError();

}  // namespace qmx::production
