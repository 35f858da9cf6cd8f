#include <dlfcn.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "TestHub.h"

namespace chubtest {

bool IsLoaded(const fs::path& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return false;
  ::dlclose(handle);
  return true;
}

RunResult RunProgram(const std::vector<std::string>& command) {
  std::string line;
  for (const auto& arg : command) {
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += quoted + "' ";
  }
  RunResult result;
  FILE* pipe = ::popen((line + "2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.output.append(chunk.data(), n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace chubtest
