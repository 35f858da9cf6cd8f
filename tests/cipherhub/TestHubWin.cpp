#include <windows.h>

#include <array>
#include <cstdio>

#include "TestHub.h"

namespace chubtest {

bool IsLoaded(const fs::path& path) { return ::GetModuleHandleA(Normal(fs::absolute(path)).c_str()) != nullptr; }

RunResult RunProgram(const std::vector<std::string>& command) {
  // The command interpreter takes the first and the last quote of the whole line away.
  std::string line = "\"";
  for (const auto& arg : command) line += "\"" + arg + "\" ";
  line += "2>&1\"";
  RunResult result;
  FILE* pipe = ::_popen(line.c_str(), "rb");
  if (!pipe) return result;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.output.append(chunk.data(), n);
  result.status = ::_pclose(pipe);
  // The client's text-mode output ends its lines in CR LF.
  for (size_t at; (at = result.output.find("\r\n")) != std::string::npos;) result.output.erase(at, 1);
  return result;
}

}  // namespace chubtest
