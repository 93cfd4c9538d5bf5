// Where the program keeps its settings file: beside the program when it may
// write there (a portable copy carries its settings along), else in the
// user's configuration folder.
#pragma once

#include <functional>
#include <string>

namespace qmx {

// Everything the choice depends on, so it can be decided without the real process.
struct SettingsPathInputs {
  std::string overridePath;   // --settings FILE; used as is when not empty
  std::string programPath;    // full path of the running program
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME, may be empty
  std::string home;           // $HOME, may be empty
  std::function<bool(const std::string& dir)> dirWritable;  // unset counts as not writable
};

// The override; else the program path with its extension replaced by ".ini"
// when the program's folder is writable; else
// $XDG_CONFIG_HOME/qmx71a/Qmx71aApp.ini, or $HOME/.config/qmx71a/Qmx71aApp.ini
// when $XDG_CONFIG_HOME is empty or relative. "" when none of these is known
// (a relative $HOME counts as unknown too).
std::string SettingsFilePath(const SettingsPathInputs& in);

// The inputs of this process: its program path, the environment (on Win32
// %APPDATA% and %USERPROFILE% stand for the XDG folder and $HOME), and
// whether the program's folder takes a new file.
SettingsPathInputs ProcessSettingsInputs(const std::string& overridePath);

// Creates the missing folders above `path` (mode 0700, as the configuration
// folder is private). True when the parent folder exists afterwards; never throws.
bool EnsureParentFolder(const std::string& path);

}  // namespace qmx
