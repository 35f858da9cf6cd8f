#pragma once
// File access the logs and settings need: exclusive append opens, directories, listing, deletion.
#include <cstddef>
#include <string>
#include <vector>

namespace vg::platform {

enum class OpenStatus {
  Ok,
  PathNotFound,      // the directory does not exist
  SharingViolation,  // another writer holds the file
  OtherError,
};

// An open file owned by the object; closing releases any lock taken with it.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

#ifdef _WIN32
  bool IsOpen() const { return handle_ != nullptr; }
#else
  bool IsOpen() const { return fd_ >= 0; }
#endif
  // Writes all bytes; false when not every byte could be written.
  bool WriteAll(const void* data, size_t size);
  bool SeekToEnd();
  void Close();

 private:
  friend OpenStatus OpenExclusiveWriter(const std::string&, bool, File&);
#ifdef _WIN32
  void* handle_ = nullptr;  // the system's file handle; never its invalid value
#else
  int fd_ = -1;
#endif
};

// Opens a file for writing while denying other writers (readers stay allowed), the way
// exclusive-write sharing works for the logs; creates it when create is true.
OpenStatus OpenExclusiveWriter(const std::string& path, bool create, File& out);

// Creates a directory and every missing parent; true when it exists afterwards.
bool CreateDirectories(const std::string& path);
bool DirectoryExists(const std::string& path);
// Names of the regular files in a directory, hidden ones included, sorted.
std::vector<std::string> ListFiles(const std::string& dir);
bool RemoveFile(const std::string& path);
// Puts from in the place of to in one step (to, when present, is replaced); false on failure,
// and then both stay as they were.
bool ReplaceFile(const std::string& from, const std::string& to);
// The directory for temporary files ($TMPDIR, else /tmp; the user's temporary directory on
// Windows), without a trailing separator.
std::string TempDirectory();
// The system's text for the last failed call of this thread (for messages).
std::string LastErrorText();

}  // namespace vg::platform
