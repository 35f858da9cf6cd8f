#include "platform/Environment.h"

#include <windows.h>

#include <vector>

namespace vg::platform {

// The process's environment block, which the system's module search and child processes read;
// the C library's copy would reach neither.
std::optional<std::string> ReadEnvironmentVariable(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::vector<char> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

bool WriteEnvironmentVariable(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return ::SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0;
}

const char* SearchPathVariableName() { return "Path"; }

char SearchPathListSeparator() { return ';'; }

}  // namespace vg::platform
