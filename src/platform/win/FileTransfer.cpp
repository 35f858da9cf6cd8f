#include "platform/FileTransfer.h"

#include <windows.h>

#include <algorithm>
#include <random>

#include "platform/win/WinError.h"

namespace vg::platform {
namespace {

DWORD Attributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

std::string SiblingTempName(const std::string& to) {
  static thread_local std::mt19937 rng{std::random_device{}()};
  return win::DirectoryPart(to) + "\\~" + win::FileNamePart(to) + ".new-" + std::to_string(rng() % 1000000);
}

bool SameNameNoCase(const std::string& a, const char* b) { return ::lstrcmpiA(a.c_str(), b) == 0; }

// Links are not followed into: a linked directory is neither listed nor removed as one.
constexpr DWORD kSkipped = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

bool ListEntries(const std::string& dir, bool directories, std::vector<std::string>& names) {
  names.clear();
  WIN32_FIND_DATAA entry{};
  HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == ".." || (entry.dwFileAttributes & kSkipped) != 0) continue;
    if (((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == directories) names.push_back(name);
  } while (::FindNextFileA(find, &entry));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return true;
}

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsDirectory(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileSize(const std::string& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool IsReadOnly(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0;
}

bool ClearReadOnly(const std::string& path) {
  const DWORD a = Attributes(path);
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  if ((a & FILE_ATTRIBUTE_READONLY) == 0) return true;
  DWORD cleared = a & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (cleared == 0) cleared = FILE_ATTRIBUTE_NORMAL;
  return ::SetFileAttributesA(path.c_str(), cleared) != 0;
}

bool CopyFileWhole(const std::string& from, const std::string& to) {
  if (!FileExists(from)) return false;
  std::string temp;
  bool copied = false;
  for (int attempt = 0; attempt < 10 && !copied; ++attempt) {
    temp = SiblingTempName(to);
    copied = ::CopyFileA(from.c_str(), temp.c_str(), TRUE) != 0;
    if (!copied && ::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  if (!copied) return false;
  // The copy keeps the source's attributes; a read-only one is written to disk before it is set
  // back, and the complete file then takes the target's place.
  const DWORD attributes = Attributes(temp);
  bool ok = attributes != INVALID_FILE_ATTRIBUTES;
  if (ok && (attributes & FILE_ATTRIBUTE_READONLY)) ok = ClearReadOnly(temp);
  if (ok) {
    HANDLE h = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = h != INVALID_HANDLE_VALUE && ::FlushFileBuffers(h) != 0;
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  if (ok && (attributes & FILE_ATTRIBUTE_READONLY)) ok = ::SetFileAttributesA(temp.c_str(), attributes) != 0;
  if (ok && ::MoveFileExA(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD saved = ::GetLastError();
  ClearReadOnly(temp);
  ::DeleteFileA(temp.c_str());
  ::SetLastError(saved);
  return false;
}

UpdateOpen TryOpenForUpdate(const std::string& path) {
  // No sharing: the file can be replaced now only when nobody else has it open, and the image
  // of a running program is never open for writing.
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h);
    return UpdateOpen::Ok;
  }
  switch (::GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY: return UpdateOpen::Busy;
    default: return UpdateOpen::Other;
  }
}

std::vector<std::string> ListDirectories(const std::string& dir) {
  std::vector<std::string> names;
  ListEntries(dir, true, names);
  return names;
}

bool ListFilesChecked(const std::string& dir, std::vector<std::string>& names) {
  return ListEntries(dir, false, names);
}

bool RemoveEmptyDirectory(const std::string& dir) { return ::RemoveDirectoryA(dir.c_str()) != 0; }

CreateDirResult CreateNewDirectory(const std::string& path) {
  if (::CreateDirectoryA(path.c_str(), nullptr)) return CreateDirResult::Created;
  return ::GetLastError() == ERROR_ALREADY_EXISTS ? CreateDirResult::Exists : CreateDirResult::Failed;
}

std::string FindNameNoCase(const std::string& dir, const std::string& name) {
  WIN32_FIND_DATAA entry{};
  HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return {};
  std::string found;
  do {
    if (name == entry.cFileName) {
      found = name;
      break;
    }
    if (found.empty() && SameNameNoCase(name, entry.cFileName)) found = entry.cFileName;
  } while (::FindNextFileA(find, &entry));
  ::FindClose(find);
  return found;
}

}  // namespace vg::platform
