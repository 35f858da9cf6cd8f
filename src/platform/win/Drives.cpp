#include "platform/Drives.h"

#include <windows.h>

namespace vg::platform {

std::vector<std::string> RemovableDriveRoots() {
  std::vector<std::string> roots;
  // Asking an empty diskette drive must not bring up the system's "insert a disk" box.
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const DWORD drives = ::GetLogicalDrives();
  for (int letter = 0; letter < 26; ++letter) {
    if ((drives & (1u << letter)) == 0) continue;
    const std::string root = std::string(1, static_cast<char>('A' + letter)) + ":\\";
    if (::GetDriveTypeA(root.c_str()) == DRIVE_REMOVABLE) roots.push_back(root);
  }
  ::SetErrorMode(previous);
  return roots;
}

bool ReadDiskSpace(const std::string& path, DiskSpace& space) {
  char root[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameA(path.c_str(), root, sizeof root)) return false;
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!::GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) return false;
  ULARGE_INTEGER available{}, total{}, free{};
  if (!::GetDiskFreeSpaceExA(path.c_str(), &available, &total, &free)) return false;
  space.clusterSize = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
  space.freeBytes = available.QuadPart;
  return space.clusterSize != 0;
}

}  // namespace vg::platform
