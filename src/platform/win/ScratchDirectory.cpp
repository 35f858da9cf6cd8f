#include "platform/ScratchDirectory.h"

#include <windows.h>

#include <filesystem>
#include <random>

#include "platform/Files.h"

namespace vg::platform {

// Windows has no memory-backed file system; the user's temporary directory serves.
ScratchDirectory::ScratchDirectory() {
  const std::string base = TempDirectory();
  std::mt19937 rng{std::random_device{}() ^ ::GetCurrentProcessId()};
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = base + "\\vg-";
    for (int i = 0; i < 6; ++i) name.push_back(digits[rng() % 36]);
    if (::CreateDirectoryA(name.c_str(), nullptr)) {
      path_ = name;
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

ScratchDirectory::~ScratchDirectory() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace vg::platform
