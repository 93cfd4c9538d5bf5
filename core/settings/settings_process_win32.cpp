// This process's settings inputs and folder creation on Win32. Paths are
// narrow strings in the ANSI code page, as every other file call here takes.
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "core/discovery/port_discovery.h"
#include "core/settings/settings_path.h"

namespace qmx {

namespace {

namespace fs = std::filesystem;

std::string ProgramPath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: try a larger buffer
  }
}

// Folder rights on Win32 are ACLs that no attribute shows (a folder under
// Program Files is not read-only, yet refuses a new file): try one.
bool FolderTakesNewFile(const std::string& dir) {
  char name[MAX_PATH];
  if (::GetTempFileNameA(dir.c_str(), "qmx", 0, name) == 0) return false;
  ::DeleteFileA(name);
  return true;
}

}  // namespace

SettingsPathInputs ProcessSettingsInputs(const std::string& overridePath) {
  SettingsPathInputs in;
  in.overridePath = overridePath;
  in.programPath = ProgramPath();
  in.xdgConfigHome = ReadProcessEnv("APPDATA").value_or("");
  in.home = ReadProcessEnv("USERPROFILE").value_or("");
  in.dirWritable = FolderTakesNewFile;
  return in;
}

// The profile's ACL already keeps the folder private; no mode to give.
bool EnsureParentFolder(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  if (parent.empty()) return true;  // the current folder
  std::error_code ec;
  fs::create_directories(parent, ec);
  return fs::is_directory(parent, ec);
}

}  // namespace qmx
