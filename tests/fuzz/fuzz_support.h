// Shared by the fuzz targets: invariant checks that end the run where
// libFuzzer sees them, and the per-process file for readers that take a path.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qmxfuzz {

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// One file per process, rewritten by every run and removed at exit. Under
// /dev/shm where there is one, so runs do not wait for a disk.
class TempFile {
 public:
  TempFile() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp != nullptr ? tmp : "/tmp");
    path_ = dir + "/qmx-fuzz-" + std::to_string(::getpid());
  }
  ~TempFile() { ::unlink(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& Path() const { return path_; }
  void Write(const void* bytes, std::size_t n) const {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    Check(f != nullptr, "cannot create the temporary file");
    Check(n == 0 || std::fwrite(bytes, 1, n, f) == n, "cannot write the temporary file");
    Check(std::fclose(f) == 0, "cannot close the temporary file");
  }

 private:
  std::string path_;
};

}  // namespace qmxfuzz
