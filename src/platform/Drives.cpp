#include "platform/Drives.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace vg::platform {
namespace {

// Mount-info fields escape blanks and other bytes as \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      const std::string oct = s.substr(i + 1, 3);
      if (oct.size() == 3 && oct.find_first_not_of("01234567") == std::string::npos) {
        out.push_back(static_cast<char>(std::stoi(oct, nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

// The whole disk a block device (a partition or a disk) belongs to says whether it is removable.
bool DeviceRemovable(unsigned major, unsigned minor) {
  const std::string dev = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  for (const std::string& candidate : {dev + "/removable", dev + "/../removable"}) {
    std::ifstream in(candidate);
    int flag = 0;
    if (in >> flag) return flag == 1;
  }
  return false;
}

}  // namespace

std::vector<std::string> RemovableDriveRoots() {
  std::vector<std::string> roots;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mount-point ...
    std::istringstream fields(line);
    std::string id, parent, devno, root, mountPoint;
    if (!(fields >> id >> parent >> devno >> root >> mountPoint)) continue;
    unsigned major = 0, minor = 0;
    if (std::sscanf(devno.c_str(), "%u:%u", &major, &minor) != 2 || major == 0) continue;
    if (DeviceRemovable(major, minor)) roots.push_back(Unescape(mountPoint));
  }
  return roots;
}

bool ReadDiskSpace(const std::string& path, DiskSpace& space) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return false;
  space.clusterSize = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
  space.freeBytes = static_cast<uint64_t>(vfs.f_bavail) * space.clusterSize;
  return space.clusterSize != 0;
}

}  // namespace vg::platform
