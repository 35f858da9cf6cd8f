#pragma once
// File services of the updater: whole-file copies that never leave a torn target, the owner's
// write permission standing in for the read-only attribute, opening a program file for update
// (busy while the program runs), directory listings and removal, unique directories.
#include <cstdint>
#include <string>
#include <vector>

namespace vg::platform {

bool FileExists(const std::string& path);  // a regular file (links followed)
bool IsDirectory(const std::string& path);
// Size of a regular file; false when it cannot be read.
bool FileSize(const std::string& path, uint64_t& size);

// The read-only attribute: a file whose owner may not write it.
bool IsReadOnly(const std::string& path);
bool ClearReadOnly(const std::string& path);

// Copies from over to: the bytes go to a new file beside the target first, which takes the
// target's place in one step only when it is complete, so a failed copy (a full disk, a removed
// medium) leaves the old target untouched. The copy keeps the source's permission bits.
bool CopyFileWhole(const std::string& from, const std::string& to);

enum class UpdateOpen {
  Ok,
  Busy,   // access denied, or the program file is running (the retry-worthy cases)
  Other,  // missing file, I/O error
};
// Opens a file for reading and writing and closes it again: whether it could be replaced now.
UpdateOpen TryOpenForUpdate(const std::string& path);

// Names of the direct subdirectories, sorted.
std::vector<std::string> ListDirectories(const std::string& dir);
// Lists the regular files of dir; false (and an empty list) when it cannot be listed.
bool ListFilesChecked(const std::string& dir, std::vector<std::string>& names);
bool RemoveEmptyDirectory(const std::string& dir);

enum class CreateDirResult { Created, Exists, Failed };
// Creates one directory (its parent must exist), telling an existing name from other failures.
CreateDirResult CreateNewDirectory(const std::string& path);

// The entry of dir whose name equals name in any letter case (exact match preferred); empty
// when there is none.
std::string FindNameNoCase(const std::string& dir, const std::string& name);

}  // namespace vg::platform
