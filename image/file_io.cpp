#include "image/file_io.h"
#include "image/file_read_result.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace qmx {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// Closes on every path out of the functions below, including early returns.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  // close() reports delayed write errors on some file systems, so a save checks it.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, bytes, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

FileContents ReadWholeFile(const std::string& path, std::size_t limit, bool keepPrefix) {
  FileContents result;
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return result;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || S_ISDIR(info.st_mode)) return result;

  // One byte past the limit is enough to tell "too long" without reading it all.
  const std::size_t wanted = limit == std::numeric_limits<std::size_t>::max() ? limit : limit + 1;
  std::vector<std::uint8_t> bytes;
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes.reserve(std::min(static_cast<std::size_t>(info.st_size), wanted));
  }
  while (bytes.size() < wanted) {
    const std::size_t have = bytes.size();
    const std::size_t chunk = std::min(kReadChunk, wanted - have);
    bytes.resize(have + chunk);
    const ssize_t n = ::read(file.get(), bytes.data() + have, chunk);
    if (n < 0) {
      bytes.resize(have);
      if (errno == EINTR) continue;
      return result;
    }
    bytes.resize(have + static_cast<std::size_t>(n));
    if (n == 0) break;
  }
  return JudgeRead(std::move(bytes), limit, keepPrefix,
                   S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0);
}

bool WriteFileReplacing(const std::string& path, std::string_view contents) {
  const std::size_t slash = path.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  if (nameAt >= path.size()) return false;  // names a folder, not a file

  // Hidden and beside the target, so the rename stays within one file system.
  std::string temporary = path.substr(0, nameAt) + "." + path.substr(nameAt) + ".XXXXXX";
  Descriptor file(::mkstemp(temporary.data()));
  if (file.get() < 0) return false;

  // mkstemp makes 0600; a replaced file keeps its bits, a new one gets the usual 0644.
  // Failure here is not fatal: some removable-media file systems refuse modes.
  struct stat existing {};
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  (void)::fchmod(file.get(), mode);

  const bool written = WriteAll(file.get(), contents.data(), contents.size()) && ::fsync(file.get()) == 0;
  if (!file.Close() || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }

  // Make the rename itself durable; the new contents are in place either way.
  const std::string folder = nameAt == 0 ? "." : path.substr(0, nameAt);
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
  return true;
}

}  // namespace qmx
