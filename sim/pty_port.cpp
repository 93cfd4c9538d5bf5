#include "sim/pty_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

namespace qmx::sim {

namespace {

// Gives up after this many pty numbers in a row equal to the one to avoid.
constexpr int kMaxOpenAttempts = 4;

bool SetFlag(int fd, int getCmd, int setCmd, int flag) {
  const int flags = fcntl(fd, getCmd);
  return flags >= 0 && fcntl(fd, setCmd, flags | flag) == 0;
}

bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool IsSymlinkOrAbsent(const std::string& path) {
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISLNK(st.st_mode);
}

}  // namespace

PtyPort::PtyPort(PtyPort&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      path_(std::move(other.path_)) {}

PtyPort& PtyPort::operator=(PtyPort&& other) noexcept {
  if (this != &other) {
    Close();
    master_ = std::exchange(other.master_, -1);
    slave_ = std::exchange(other.slave_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

bool PtyPort::Open(const std::string& avoidPath) {
  Close();
  // Rejected ptys stay open until a fresh number is found, then close with this vector.
  std::vector<PtyPort> rejected;
  for (int attempt = 0; attempt < kMaxOpenAttempts; ++attempt) {
    PtyPort candidate;
    if (!candidate.OpenOne()) return false;
    if (candidate.path_ != avoidPath) {
      *this = std::move(candidate);
      return true;
    }
    rejected.push_back(std::move(candidate));
  }
  return false;
}

bool PtyPort::OpenOne() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return false;
  std::array<char, 128> name{};
  bool ok = SetFlag(master_, F_GETFD, F_SETFD, FD_CLOEXEC) &&
            SetFlag(master_, F_GETFL, F_SETFL, O_NONBLOCK) && grantpt(master_) == 0 &&
            unlockpt(master_) == 0 && ptsname_r(master_, name.data(), name.size()) == 0;
  if (ok) {
    path_ = name.data();
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ok = slave_ >= 0 && MakeRaw(slave_);
  }
  if (!ok) Close();
  return ok;
}

void PtyPort::Close() {
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
  master_ = -1;
  slave_ = -1;
  path_.clear();
}

bool PointLink(const std::string& link, const std::string& target) {
  if (link.empty() || !IsSymlinkOrAbsent(link)) return false;
  const std::string temp = link + ".tmp" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0) return false;
  if (rename(temp.c_str(), link.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link) {
  struct stat st{};
  if (!link.empty() && lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(link.c_str());
}

}  // namespace qmx::sim
