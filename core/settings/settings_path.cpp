#include "core/settings/settings_path.h"

#include <filesystem>

namespace qmx {

namespace {

namespace fs = std::filesystem;

constexpr const char* kConfigFolder = "qmx71a";
constexpr const char* kFileName = "Qmx71aApp.ini";

// "/x" on POSIX; a drive or UNC path on Win32.
bool IsAbsolute(const std::string& path) { return !path.empty() && fs::path(path).is_absolute(); }

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

}  // namespace qmx
