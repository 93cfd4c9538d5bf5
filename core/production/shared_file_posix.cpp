#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/production/shared_file.h"

namespace qmx::production {

struct SharedFile::Native {
  int fd = -1;
};

std::string LastSystemError() { return std::strerror(errno); }

std::unique_ptr<SharedFile> SharedFile::Open(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = LastSystemError();
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (error) *error = "not a regular file";
    ::close(fd);
    return nullptr;
  }
  auto native = std::make_unique<Native>();
  native->fd = fd;
  return std::unique_ptr<SharedFile>(new SharedFile(std::move(native)));
}

SharedFile::SharedFile(std::unique_ptr<Native> native) : native_(std::move(native)) {}

SharedFile::~SharedFile() { ::close(native_->fd); }

// flock, not fcntl locks: those belong to the process and any close of the
// same file by it would drop them.
bool SharedFile::TryLock() {
  while (::flock(native_->fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void SharedFile::Unlock() { (void)::flock(native_->fd, LOCK_UN); }

bool SharedFile::ReadTail(std::size_t most, std::string* tail) {
  struct stat info {};
  if (::fstat(native_->fd, &info) != 0) return false;
  const auto size = static_cast<std::size_t>(info.st_size);
  const std::size_t length = std::min(size, most);
  tail->assign(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(native_->fd, tail->data() + done, length - done,
                              static_cast<off_t>(size - length + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool SharedFile::Append(std::string_view text) {
  // One write() for the whole text: O_APPEND places it at the end as one piece.
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(native_->fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ::fsync(native_->fd) == 0;
}

}  // namespace qmx::production
