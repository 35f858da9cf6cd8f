#pragma once
// A private directory for short-lived working files. It lies in memory-backed storage where the
// system has one, so that the flushes every settings write makes cost nothing there; it is
// removed with everything in it when the object goes.
#include <string>

namespace vg::platform {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // False when no directory could be made anywhere.
  bool Ok() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace vg::platform
