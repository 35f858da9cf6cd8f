#include "platform/Files.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/win/WinError.h"

namespace vg::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

bool File::WriteAll(const void* data, size_t size) {
  if (!handle_) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(handle_, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

bool File::SeekToEnd() {
  LARGE_INTEGER zero{};
  return handle_ && ::SetFilePointerEx(handle_, zero, nullptr, FILE_END) != 0;
}

void File::Close() {
  if (handle_) {
    ::CloseHandle(handle_);
    handle_ = nullptr;
  }
}

OpenStatus OpenExclusiveWriter(const std::string& path, bool create, File& out) {
  out.Close();
  // Sharing read only: a second writer is refused by the system itself, readers are not.
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    switch (::GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND: return OpenStatus::PathNotFound;
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION: return OpenStatus::SharingViolation;
      default: return OpenStatus::OtherError;
    }
  }
  out.handle_ = h;
  return OpenStatus::Ok;
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  return MakeDirectories(path) == 0 && DirectoryExists(path);
}

std::vector<std::string> ListFiles(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry{};
  HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0)
      names.emplace_back(entry.cFileName);
  } while (::FindNextFileA(find, &entry));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

bool RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string TempDirectory() {
  char buffer[MAX_PATH + 2] = {};
  const DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  std::string path = n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string(".");
  while (path.size() > 1 && win::IsSeparator(path.back()) && !(path.size() == 3 && path[1] == ':')) path.pop_back();
  return path;
}

std::string LastErrorText() {
  const DWORD code = ::GetLastError();
  if (code != ERROR_SUCCESS) return win::Win32ErrorText(code);
  return std::strerror(errno);
}

}  // namespace vg::platform
