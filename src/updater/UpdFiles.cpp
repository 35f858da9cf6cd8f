#include "updater/UpdFiles.h"

#include <cstdio>
#include <memory>

#include "platform/FileTransfer.h"
#include "platform/Files.h"

namespace vg {

bool CopyFileList(const std::string& sourceDir, const std::string& targetDir, const std::vector<std::string>& names,
                  std::string& failedPath) {
  if (!platform::CreateDirectories(targetDir)) {
    failedPath = targetDir;
    return false;
  }
  for (const std::string& name : names) {
    const std::string source = sourceDir + "/" + name;
    const std::string target = targetDir + "/" + name;
    if (platform::IsDirectory(target)) {
      failedPath = target;
      return false;
    }
    if (platform::FileExists(target) && platform::IsReadOnly(target) && !platform::ClearReadOnly(target)) {
      failedPath = target;
      return false;
    }
    if (!platform::CopyFileWhole(source, target)) {
      failedPath = source;
      return false;
    }
  }
  return true;
}

bool CopyDirectory(const std::string& sourceDir, const std::string& targetDir, bool recursive,
                   std::string& failedPath) {
  std::vector<std::string> names;
  if (!platform::ListFilesChecked(sourceDir, names)) {
    failedPath = sourceDir;
    return false;
  }
  if (!CopyFileList(sourceDir, targetDir, names, failedPath)) return false;
  if (!recursive) return true;
  for (const std::string& sub : platform::ListDirectories(sourceDir)) {
    if (!CopyDirectory(sourceDir + "/" + sub, targetDir + "/" + sub, true, failedPath)) return false;
  }
  return true;
}

bool DeleteTree(const std::string& dir, std::string& failedPath) {
  std::vector<std::string> names;
  if (!platform::ListFilesChecked(dir, names)) {
    failedPath = dir;
    return false;
  }
  for (const std::string& name : names) {
    if (!platform::RemoveFile(dir + "/" + name)) {
      failedPath = dir + "/" + name;
      return false;
    }
  }
  for (const std::string& sub : platform::ListDirectories(dir)) {
    if (!DeleteTree(dir + "/" + sub, failedPath)) return false;
  }
  if (!platform::RemoveEmptyDirectory(dir)) {
    failedPath = dir;
    return false;
  }
  return true;
}

int64_t FindInFile(const std::string& file, const std::vector<uint8_t>& pattern) {
  if (pattern.empty()) return -1;
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.c_str(), "rb"), std::fclose);
  if (!in) return -1;
  constexpr size_t kBlock = 512;
  // The window holds the tail of the previous blocks that could still begin a match.
  std::vector<uint8_t> window;
  int64_t windowStart = 0;
  uint8_t block[kBlock];
  for (;;) {
    const size_t n = std::fread(block, 1, kBlock, in.get());
    if (n == 0) return -1;
    window.insert(window.end(), block, block + n);
    size_t pos = 0;
    for (; pos + pattern.size() <= window.size(); ++pos) {
      size_t i = 0;
      while (i < pattern.size() && (pattern[i] == 0 || pattern[i] == window[pos + i])) ++i;
      if (i == pattern.size()) return windowStart + static_cast<int64_t>(pos);
    }
    window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(pos));
    windowStart += static_cast<int64_t>(pos);
  }
}

}  // namespace vg
