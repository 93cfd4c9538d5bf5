// This process's settings inputs and folder creation on POSIX.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "core/discovery/port_discovery.h"
#include "core/settings/settings_path.h"

namespace qmx {

namespace {

namespace fs = std::filesystem;

}  // namespace

SettingsPathInputs ProcessSettingsInputs(const std::string& overridePath) {
  SettingsPathInputs in;
  in.overridePath = overridePath;
  std::error_code ec;
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    // The kernel marks a program file replaced while it runs; the folder is still the right one.
    constexpr std::string_view kDeleted = " (deleted)";
    in.programPath = program.string();
    if (in.programPath.ends_with(kDeleted)) in.programPath.resize(in.programPath.size() - kDeleted.size());
  }
  in.xdgConfigHome = ReadProcessEnv("XDG_CONFIG_HOME").value_or("");
  in.home = ReadProcessEnv("HOME").value_or("");
  in.dirWritable = [](const std::string& dir) { return ::access(dir.c_str(), W_OK) == 0; };
  return in;
}

bool EnsureParentFolder(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  if (parent.empty()) return true;  // the current folder
  std::error_code ec;
  if (fs::is_directory(parent, ec)) return true;
  // One level at a time, so every folder made here gets 0700 rather than the umask's choice.
  fs::path made;
  for (const fs::path& part : parent) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return fs::is_directory(parent, ec);
}

}  // namespace qmx
