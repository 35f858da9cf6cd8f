#pragma once
// The library root: the directory under which an installation keeps its engine modules and
// what they use, set once per library load, and the module search built on it.
#include <string>
#include <string_view>
#include <vector>

#include "platform/SysUtils.h"

namespace vg::cipherhub {

// Raised by SetRoot when a different root is already set.
class ERootPathError : public vg::Exception {
 public:
  using vg::Exception::Exception;
};

class TRootPath {
 public:
  // programDir: the directory of the running program, with a trailing separator.
  explicit TRootPath(std::string programDir);
  TRootPath();

  // Sets the root (a null path counts as empty) and adds its "EXE", "SYSTEM" and "USER"
  // subdirectories to the module search and to the program search path of the environment.
  // Setting the same root again does nothing; a different one raises ERootPathError.
  // Not synchronised: the caller serialises it against ResolveModulePath.
  void SetRoot(const char* path);

  // Where to load a module file from: a name with a directory part as it is; else the
  // program's directory, then the root subdirectories, where the file exists; else the bare
  // name for the system's own search.
  std::string ResolveModulePath(const std::string& fileName) const;

  const std::string& NorvelRoot() const { return root_; }
  const std::vector<std::string>& RootSearchDirs() const { return searchDirs_; }

 private:
  std::string programDir_;
  std::string root_;
  std::vector<std::string> searchDirs_;
};

// The search path text `current` with `dirs` appended, each after `separator`, skipping a
// directory already present as a whole entry (compared ignoring letter case against the text
// as it was). An empty text takes the first directory alone.
std::string AppendToSearchPath(std::string_view current, const std::vector<std::string>& dirs, char separator);

// Appends dirs to the process's program search path variable, writing it back only when the
// text changed; failures are not reported.
void AppendToProcessSearchPath(const std::vector<std::string>& dirs);

}  // namespace vg::cipherhub
