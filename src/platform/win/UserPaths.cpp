#include "platform/UserPaths.h"

#include <aclapi.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/Environment.h"
#include "platform/ProgramInfo.h"
#include "platform/win/WinError.h"

namespace vg::platform {
namespace {

constexpr char kProductDir[] = "QS-Veilgate";

DWORD Attributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

// Access rights are settled by trying: a file is writable when it opens for writing, a directory
// when a file can be made in it.
bool FileWritable(const std::string& path) {
  const DWORD a = Attributes(path);
  if (a == INVALID_FILE_ATTRIBUTES || (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
  ::CloseHandle(h);
  return true;
}

bool DirectoryWritable(const std::string& dir) {
  const std::string probe = JoinPath(
      dir, "~vg-probe-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetCurrentThreadId()));
  HANDLE h = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

std::string UserDataDirectory() {
  if (const auto value = ReadEnvironmentVariable("APPDATA"); value && !value->empty()) return *value;
  if (const auto profile = ReadEnvironmentVariable("USERPROFILE"); profile && !profile->empty())
    return JoinPath(*profile, "AppData\\Roaming");
  return ".";
}

}  // namespace

SettingsPlace LocateSettings(const std::string& installDir, const std::string& fileName, bool create) {
  SettingsPlace place;
  place.Installed = JoinPath(installDir, fileName);
  const std::string installedDir = win::DirectoryPart(place.Installed);
  const DWORD a = Attributes(place.Installed);
  const bool exists = a != INVALID_FILE_ATTRIBUTES;
  // A writable installation without the file is a per-user one too: the file is made there.
  if (DirectoryWritable(installedDir) && (!exists || FileWritable(place.Installed))) {
    place.File = place.Installed;
    place.LogBase = installedDir;
    return place;
  }
  const std::string configDir = JoinPath(UserDataDirectory(), kProductDir);
  place.File = JoinPath(configDir, fileName);
  place.LogBase = configDir;
  place.PerUser = true;
  if (!create || Attributes(place.File) != INVALID_FILE_ATTRIBUTES) return place;
  if (const int err = MakeDirectories(configDir); err != 0) {
    place.Error = "cannot create the settings directory \"" + configDir + "\": " + ErrorText(err);
    return place;
  }
  std::string content;
  if (const int err = ReadWholeFile(place.Installed, content); err != 0) {
    place.Error = "cannot read the default settings \"" + place.Installed + "\": " + ErrorText(err);
    return place;
  }
  // Another program of the same user may be making the copy at the same moment: the first wins.
  const std::string work = place.File + ".new" + std::to_string(::GetCurrentProcessId());
  HANDLE h = ::CreateFileA(work.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool written = h != INVALID_HANDLE_VALUE;
  for (size_t at = 0; written && at < content.size();) {
    DWORD n = 0;
    written = ::WriteFile(h, content.data() + at, static_cast<DWORD>(content.size() - at), &n, nullptr) && n > 0;
    at += n;
  }
  DWORD err = written ? ERROR_SUCCESS : ::GetLastError();
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  if (written && !::MoveFileExA(work.c_str(), place.File.c_str(), MOVEFILE_WRITE_THROUGH)) {
    err = ::GetLastError();
    written = err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS;
  }
  if (!written) place.Error = "cannot create the settings file \"" + place.File + "\": " + win::Win32ErrorText(err);
  ::DeleteFileA(work.c_str());
  return place;
}

int UnreadableFileError(const std::string& path) {
  const DWORD a = Attributes(path);
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const int err = win::ErrnoFromWin32(::GetLastError());
    return err == ENOENT ? 0 : err;
  }
  char byte;
  DWORD n = 0;
  const int err = ::ReadFile(h, &byte, 1, &n, nullptr) ? 0 : win::ErrnoFromWin32(::GetLastError());
  ::CloseHandle(h);
  return err;
}

std::string ErrorText(int code) { return std::strerror(code); }

std::string PrivateDirectoryProblem(const std::string& dir) {
  const DWORD a = Attributes(dir);
  if (a == INVALID_FILE_ATTRIBUTES) return win::Win32ErrorText(::GetLastError());
  if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0 || (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "it is not a directory";
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoA(dir.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
    return "its owner cannot be read";
  std::unique_ptr<void, decltype(&::LocalFree)> descriptorGuard(descriptor, &::LocalFree);
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return "this user cannot be told";
  // An elevated user's new objects belong to the token's default owner (the administrators)
  // rather than to the user; both count as this user.
  bool mine = false;
  for (TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size == 0) continue;
    std::unique_ptr<char[]> info(new char[size]);
    if (!::GetTokenInformation(token, kind, info.get(), size, &size)) continue;
    const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(info.get())->User.Sid
                                       : reinterpret_cast<TOKEN_OWNER*>(info.get())->Owner;
    if (::EqualSid(owner, sid)) mine = true;
  }
  ::CloseHandle(token);
  if (!mine) return "it belongs to another user";
  return {};
}

}  // namespace vg::platform
