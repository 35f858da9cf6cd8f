#pragma once
// The running program's identity: its file, its directory, its version information,
// and the one place where the system's Windows module names map to this platform's files.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vg::platform {

// Full path of the running executable.
std::string ProgramPath();
// Directory of the running executable, with a trailing separator.
std::string ProgramDir();
// File name of the running executable without directory.
std::string ProgramFileName();

// Directory separator of this platform and a path joiner that avoids doubled separators.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif
std::string JoinPath(std::string_view dir, std::string_view name);

// Maps a module or program name as the system names it ("cipherhub.dll", "engmod10.dll",
// "vgproxy.exe", or a bare "cipherhub") to this platform's file name ("cipherhub.so", "vgproxy";
// on Windows the names stay as they are, a bare module name gaining ".dll").
std::string ModuleFileName(std::string_view systemName);
// The platform form of a program name, e.g. "VGPROXY.EXE" -> "vgproxy" (on Windows the name as
// given, a bare one gaining ".exe").
std::string ProgramFileNameFor(std::string_view systemName);

// Fixed version information: major, minor, release, build (all 0 when the file has none).
struct FileVersion {
  std::array<uint16_t, 4> parts{0, 0, 0, 0};
  std::string text;  // the "FileVersion" string, empty when absent
  bool present = false;
};
// Reads the version record our build places in every executable it produces (on Windows the
// program's version resource).
FileVersion ReadFileVersion(const std::string& path);

}  // namespace vg::platform
