#include "platform/ProcessMemory.h"

// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

#include <algorithm>

namespace vg::platform {

ProcessMemory CurrentProcessMemory() {
  ProcessMemory memory;
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return memory;
  memory.resident = counters.WorkingSetSize;
  // The process's address space in use (reserved or committed), as a virtual size counts it.
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (::GlobalMemoryStatusEx(&status)) memory.total = status.ullTotalVirtual - status.ullAvailVirtual;
  // Some systems count the address space short; the committed private bytes and the working
  // set are each part of a virtual size.
  memory.total = std::max<uint64_t>({memory.total, counters.PagefileUsage, memory.resident});
  return memory;
}

}  // namespace vg::platform
