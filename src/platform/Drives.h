#pragma once
// Mounted drives as the updater needs them: the roots of removable media (diskettes, memory
// sticks) and the free space and cluster size of the file system holding a path.
#include <cstdint>
#include <string>
#include <vector>

namespace vg::platform {

// Mount points of file systems on removable block devices, in mount order.
std::vector<std::string> RemovableDriveRoots();

struct DiskSpace {
  uint64_t clusterSize = 0;  // the file system's allocation unit in bytes
  uint64_t freeBytes = 0;    // bytes available to this user
};
// False when the file system of path cannot be asked.
bool ReadDiskSpace(const std::string& path, DiskSpace& space);

}  // namespace vg::platform
