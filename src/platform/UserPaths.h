#pragma once
// Where the programs keep their settings and logs for the user who runs them, and the checks
// a per-user directory must pass before the programs trust it.
//
//   installation  the directory of the programs, the modules and the default "veilgate.cfg";
//                 in a system-wide installation it belongs to root and stays read-only
//   per-user      $XDG_CONFIG_HOME/qs-veilgate for the settings file (default ~/.config),
//                 $XDG_STATE_HOME/qs-veilgate for logs named relatively (default ~/.local/state);
//                 on Windows %APPDATA%\QS-Veilgate for both
#include <string>

namespace vg::platform {

struct SettingsPlace {
  std::string File;       // the settings file the programs use
  std::string Installed;  // the settings file beside the programs (the default of a new user)
  std::string LogBase;    // the directory a relative log directory name is taken against
  bool PerUser = false;   // File is the user's own copy under the configuration directory
  std::string Error;      // why the per-user copy could not be made; File still names it
};

// The one rule every program follows: the file beside the programs when this user may replace
// it (the directory must be writable too, saving replaces the file) or may make it there, else
// the per-user file, copied from the installed one when create is set and it does not exist yet.
SettingsPlace LocateSettings(const std::string& installDir, const std::string& fileName, bool create);

// 0 when the file can be read or does not exist; otherwise the errno of the failed open or read
// (a directory in its place gives EISDIR).
int UnreadableFileError(const std::string& path);

// The system's text for an errno value.
std::string ErrorText(int code);

// Checks a directory the program keeps private things in: it must be a real directory (not a
// link), owned by this user and closed to everyone else (on Windows: owned by this user). Empty
// when it passes, else the reason.
std::string PrivateDirectoryProblem(const std::string& dir);

}  // namespace vg::platform
