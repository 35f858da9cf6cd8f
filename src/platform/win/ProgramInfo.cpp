#include "platform/ProgramInfo.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/win/WinError.h"

namespace vg::platform {
namespace {

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  return ::lstrcmpiA(std::string(s.substr(s.size() - suffix.size())).c_str(), std::string(suffix).c_str()) == 0;
}

// The name as given, or with the extension added when it has none.
std::string WithExtension(std::string_view name, std::string_view extension) {
  std::string out(name);
  const size_t dot = out.find_last_of(".\\/");
  if (dot == std::string::npos || out[dot] != '.') out.append(extension);
  return out;
}

}  // namespace

std::string ProgramPath() {
  std::vector<char> buf(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

std::string ProgramDir() {
  std::string dir = win::DirectoryPart(ProgramPath());
  if (!win::IsSeparator(dir.back())) dir.push_back(kPathSeparator);
  return dir;
}

std::string ProgramFileName() { return win::FileNamePart(ProgramPath()); }

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && !win::IsSeparator(out.back()) && !name.empty() && !win::IsSeparator(name.front()))
    out.push_back(kPathSeparator);
  out.append(name);
  return out;
}

std::string ModuleFileName(std::string_view systemName) {
  if (EndsWithNoCase(systemName, ".dll")) return std::string(systemName);
  return WithExtension(systemName, ".dll");
}

std::string ProgramFileNameFor(std::string_view systemName) {
  if (EndsWithNoCase(systemName, ".exe")) return std::string(systemName);
  return WithExtension(systemName, ".exe");
}

FileVersion ReadFileVersion(const std::string& path) {
  FileVersion result;
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return result;
  std::vector<char> data(size);
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return result;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
      length < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != 0xFEEF04BD)
    return result;
  result.parts = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS)};
  result.present = true;
  // The "FileVersion" string of the first language the resource lists.
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  if (::VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
      translation && length >= sizeof(Translation)) {
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\FileVersion", translation->language,
                  translation->codePage);
    char* text = nullptr;
    if (::VerQueryValueA(data.data(), query, reinterpret_cast<void**>(&text), &length) && text && length > 0)
      result.text.assign(text, strnlen(text, length));
  }
  return result;
}

}  // namespace vg::platform
