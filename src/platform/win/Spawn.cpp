#include "platform/Spawn.h"

#include <windows.h>

#include "platform/win/WinError.h"

namespace vg::platform {
namespace {

thread_local std::string g_lastError;

// One argument quoted so that the C runtime's parser of the new program gives it back unchanged:
// backslashes count only before a quote, where they are doubled.
void AppendQuoted(std::string& line, const std::string& arg) {
  if (!line.empty()) line.push_back(' ');
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += arg;
    return;
  }
  line.push_back('"');
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    line.push_back(c);
  }
  line.append(2 * backslashes, '\\');
  line.push_back('"');
}

}  // namespace

// Without a console and without inherited handles, in a process group of its own (so that the
// starter's Ctrl+C does not reach it): the new program's standard streams lead nowhere.
int StartDetached(const std::string& program, const std::vector<std::string>& args, const std::string& workDir) {
  std::string line;
  AppendQuoted(line, program);
  for (const std::string& a : args) AppendQuoted(line, a);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &startup, &process)) {
    g_lastError = win::Win32ErrorText(::GetLastError());
    return -1;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(process.dwProcessId);
}

std::string LastSpawnError() { return g_lastError; }

}  // namespace vg::platform
