#pragma once
// Helpers for driving private copies of cipherhub: every Hub loads its own copy from a
// scratch directory, so each test starts with fresh library state (no modules loaded, no root).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cipherhub/cipherhub.h"
#include "client/ExportList.h"

namespace chubtest {

namespace fs = std::filesystem;

// A directory of its own under the build tree, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& Path() const { return path_; }
  // Copies `source` to `relative` inside the directory, creating parent directories.
  fs::path Put(const fs::path& source, const fs::path& relative) const;

 private:
  fs::path path_;
};

fs::path ModuleFile(const std::string& stem);  // "engmod01" -> this system's module file name
fs::path MockModule(const std::string& name);  // a test module, e.g. "mock_full"
fs::path EmulationModule();                    // the built engmod01 module
fs::path CipherHubLibrary();                   // the built cipherhub library
fs::path TestTool(const std::string& name);    // a helper program built with the mocks, e.g. "chub_c_client"
fs::path ProgramFile(const std::string& stem);  // "c_client" -> this system's program file name
// A path as the system spells it, for comparing paths built with different separators.
std::string Normal(const fs::path& path);

struct Api {
#define CHUB_API_MEMBER(name) decltype(&::name) name = nullptr;
  CH_EXPORTS(CHUB_API_MEMBER)
#undef CHUB_API_MEMBER
};

// cipherhub copied to `relative` inside `dir` and loaded from there.
class Hub {
 public:
  explicit Hub(const ScratchDir& dir, const fs::path& relative = fs::path("lib") / ModuleFile("cipherhub"));
  ~Hub();
  Hub(const Hub&) = delete;
  Hub& operator=(const Hub&) = delete;

  const Api& operator*() const { return api_; }
  const Api* operator->() const { return &api_; }
  const fs::path& Directory() const { return directory_; }
  int ResolvedExports() const { return resolved_; }
  // Unloads the copy now (the destructor does nothing afterwards).
  void Unload();

 private:
  void* library_ = nullptr;
  fs::path directory_;
  Api api_;
  int resolved_ = 0;
};

// GetReport(handle, NULL) as text.
std::string Report(const Hub& hub, CHEngineHandle engine);
// The value of `key` in a "key=value;key=value" record, or "" when absent.
std::string Field(const std::string& record, const std::string& key);
// Keeps the process's program search path as it was around a test (setting a root appends to it).
class SearchPathGuard {
 public:
  SearchPathGuard();
  ~SearchPathGuard();
  SearchPathGuard(const SearchPathGuard&) = delete;
  SearchPathGuard& operator=(const SearchPathGuard&) = delete;

 private:
  std::optional<std::string> saved_;
};

// True while the library at `path` is loaded in this process.
bool IsLoaded(const fs::path& path);

struct RunResult {
  int status = -1;
  std::string output;  // standard output and error together
};
// Runs a program with arguments and waits for it.
RunResult RunProgram(const std::vector<std::string>& command);

}  // namespace chubtest
