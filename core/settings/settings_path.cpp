#include "core/settings/settings_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace qmx {

namespace {

namespace fs = std::filesystem;

constexpr const char* kConfigFolder = "qmx71a";
constexpr const char* kFileName = "Qmx71aApp.ini";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

}  // namespace

std::string SettingsFilePath(const SettingsPathInputs& in) {
  if (!in.overridePath.empty()) return in.overridePath;
  if (!in.programPath.empty()) {
    fs::path program(in.programPath);
    const fs::path folder = program.parent_path();
    if (!folder.empty() && program.has_filename() && in.dirWritable && in.dirWritable(folder.string())) {
      return program.replace_extension(".ini").string();
    }
  }
  if (IsAbsolute(in.xdgConfigHome)) return (fs::path(in.xdgConfigHome) / kConfigFolder / kFileName).string();
  if (IsAbsolute(in.home)) return (fs::path(in.home) / ".config" / kConfigFolder / kFileName).string();
  return {};
}

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
  in.xdgConfigHome = Env("XDG_CONFIG_HOME");
  in.home = Env("HOME");
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
