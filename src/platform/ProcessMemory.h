#pragma once
// How much memory the running process uses, for the about window's display.
#include <cstdint>

namespace vg::platform {

// Resident and virtual size of this process in bytes; both 0 when they cannot be read.
struct ProcessMemory {
  uint64_t resident = 0;
  uint64_t total = 0;
};
ProcessMemory CurrentProcessMemory();

}  // namespace vg::platform
