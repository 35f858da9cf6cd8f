#include "platform/ScratchDirectory.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace vg::platform {

ScratchDirectory::ScratchDirectory() {
  std::vector<std::string> places{"/dev/shm"};
  if (const char* tmp = ::getenv("TMPDIR"); tmp && *tmp) places.emplace_back(tmp);
  places.emplace_back("/tmp");
  for (const std::string& place : places) {
    if (::access(place.c_str(), W_OK | X_OK) != 0) continue;
    std::string name = place + "/vg-XXXXXX";
    if (::mkdtemp(name.data())) {
      path_ = name;
      return;
    }
  }
}

ScratchDirectory::~ScratchDirectory() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace vg::platform
