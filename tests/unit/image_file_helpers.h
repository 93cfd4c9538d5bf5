// Scratch folders and whole-file helpers for the image file format tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>
#include "tests/random_bytes.h"

namespace qmx::test {

namespace fs = std::filesystem;

// A fresh folder under the test temp dir, removed with its contents.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::path(::testing::TempDir()) / "qmx-image-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (path_.empty()) return;
    // A test may have left a folder read-only; make it removable again.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool Ok() const { return !path_.empty(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& Path() const { return path_; }

  // Names in the folder, to catch temporaries left behind.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  fs::path path_;
};

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// --- Other tools on PATH, for files from and for them ---

inline std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = (end > at ? dirs.substr(at, end - at) : ".") + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return {};
}

inline std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (const char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The command's exit code, or -1 when it did not exit normally.
inline int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using qmx::testdata::RandomBytes;

}  // namespace qmx::test
