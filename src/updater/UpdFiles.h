#pragma once
// File routines of the update procedure. Each reports its first failure by the path it failed
// on and stops there; nothing is retried.
#include <cstdint>
#include <string>
#include <vector>

namespace vg {

// Copies names from sourceDir into targetDir (created with its parents as needed): a target
// that is a directory fails with the target's path, a read-only target is made writable first
// (failing with the target's path), a failed copy fails with the source's path. Each target is
// replaced whole, never left half-written. Returns true, or false with failedPath set.
bool CopyFileList(const std::string& sourceDir, const std::string& targetDir, const std::vector<std::string>& names,
                  std::string& failedPath);

// The plain files of sourceDir through CopyFileList (a directory that cannot be listed fails
// with its own path); with recursive, each subdirectory into the same-named one of targetDir.
bool CopyDirectory(const std::string& sourceDir, const std::string& targetDir, bool recursive, std::string& failedPath);

// Removes dir with everything in it: its files first (the first that cannot go stops the
// removal), then each subdirectory, then dir itself.
bool DeleteTree(const std::string& dir, std::string& failedPath);

// Offset of the first place in the file where pattern matches, a zero byte in the pattern
// matching any byte; -1 when there is none or the file cannot be read. The file is read in
// blocks of 512 bytes; a match may straddle blocks.
int64_t FindInFile(const std::string& file, const std::vector<uint8_t>& pattern);

}  // namespace vg
