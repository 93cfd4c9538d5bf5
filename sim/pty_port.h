// One pseudo-terminal standing in for the programmer's serial port.
#pragma once

#include <string>

namespace qmx::sim {

// Owns the master and one slave descriptor. Holding the slave keeps master reads
// from failing with EIO while no host has the port open, and lets the raw line
// settings stick (the default echo would bounce our answers back). Move-only.
class PtyPort {
 public:
  PtyPort() = default;
  ~PtyPort() { Close(); }
  PtyPort(PtyPort&& other) noexcept;
  PtyPort& operator=(PtyPort&& other) noexcept;
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // Opens a new pty whose slave path differs from `avoidPath`, so that a replug
  // shows up under a new name even when the kernel would reuse the number.
  bool Open(const std::string& avoidPath = {});
  // The host's slave descriptors see a hang-up; the /dev/pts node disappears.
  void Close();

  bool IsOpen() const { return master_ >= 0; }
  int MasterFd() const { return master_; }
  const std::string& Path() const { return path_; }

 private:
  bool OpenOne();

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Keeps a symbolic link at `link` pointing to `target`, replaced atomically.
// Refuses to replace anything that is not a symbolic link.
bool PointLink(const std::string& link, const std::string& target);
// Removes `link` if it is a symbolic link.
void RemoveLink(const std::string& link);

}  // namespace qmx::sim
