#include "platform/ProcessMemory.h"

#include <unistd.h>

#include <cstdio>

namespace vg::platform {

ProcessMemory CurrentProcessMemory() {
  ProcessMemory memory;
  // statm counts pages: total program size first, then the resident set.
  std::FILE* file = std::fopen("/proc/self/statm", "re");
  if (!file) return memory;
  unsigned long long total = 0, resident = 0;
  if (std::fscanf(file, "%llu %llu", &total, &resident) == 2) {
    const long page = ::sysconf(_SC_PAGESIZE);
    const uint64_t pageSize = page > 0 ? static_cast<uint64_t>(page) : 4096;
    memory.total = total * pageSize;
    memory.resident = resident * pageSize;
  }
  std::fclose(file);
  return memory;
}

}  // namespace vg::platform
