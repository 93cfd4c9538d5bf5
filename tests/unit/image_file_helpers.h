// Scratch folders and whole-file helpers for the image file format tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
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

using qmx::testdata::RandomBytes;

}  // namespace qmx::test
