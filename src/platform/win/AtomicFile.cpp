#include "platform/AtomicFile.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/win/WinError.h"

namespace vg::platform {
namespace {

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
ReplaceFaultHook& Hook() {
  static ReplaceFaultHook hook;
  return hook;
}

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void Reset(HANDLE h = nullptr) {
    if (h_) ::CloseHandle(h_);
    h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
  }
  // Closes now and tells whether the system accepted it.
  bool Close() {
    const bool ok = !h_ || ::CloseHandle(h_) != 0;
    h_ = nullptr;
    return ok;
  }

 private:
  HANDLE h_;
};

int LastErrno() { return win::ErrnoFromWin32(::GetLastError()); }

// Readers share everything, so that a writer may replace the file while it is being read.
HANDLE OpenForReading(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int ReadAll(HANDLE h, std::string& content) {
  content.clear();
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(h, &size) && size.QuadPart > 0) content.reserve(static_cast<size_t>(size.QuadPart));
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) return LastErrno();
    if (n == 0) return 0;
    content.append(buf, n);
  }
}

int WriteAll(HANDLE h, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const size_t left = data.size() - done;
    DWORD n = 0;
    if (!::WriteFile(h, data.data() + done, left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left), &n, nullptr))
      return LastErrno();
    if (n == 0) return EIO;
    done += n;
  }
  return 0;
}

// Writers of one file are serialised by a named mutex derived from its full path rather than by
// a lock on the file, because the file a lock is held on could not be replaced by a rename.
// The system releases the mutex of a writer that dies, and the next one takes it over.
class PathLock {
 public:
  explicit PathLock(const std::string& path) {
    char full[MAX_PATH * 4] = {};
    const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    std::string key = n > 0 && n < sizeof full ? std::string(full, n) : path;
    for (char& c : key) {
      if (c == '/') c = '\\';
    }
    ::CharUpperBuffA(key.data(), static_cast<DWORD>(key.size()));
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    char name[64];
    wsprintfA(name, "vg-file-lock-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xFFFFFFFFu));
    mutex_ = ::CreateMutexA(nullptr, FALSE, name);
    if (!mutex_) {
      error_ = LastErrno();
      return;
    }
    const DWORD waited = ::WaitForSingleObject(mutex_, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) error_ = LastErrno() ? LastErrno() : EIO;
  }
  ~PathLock() {
    if (mutex_) {
      if (error_ == 0) ::ReleaseMutex(mutex_);
      ::CloseHandle(mutex_);
    }
  }
  PathLock(const PathLock&) = delete;
  PathLock& operator=(const PathLock&) = delete;
  int Error() const { return error_; }

 private:
  HANDLE mutex_ = nullptr;
  int error_ = 0;
};

// Temporary files are named "<file>.~<pid>-<suffix>", so that a later writer can tell one
// left by a writer that died before its rename from one still being written.
constexpr std::string_view kTempMark = ".~";

std::string TempSuffix() {
  static std::atomic<unsigned> counter{0};
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned long long v = (static_cast<unsigned long long>(::GetCurrentProcessId()) << 20) ^
                         (static_cast<unsigned long long>(counter.fetch_add(1)) * 2654435761u) ^
                         static_cast<unsigned long long>(::GetTickCount64());
  std::string s;
  for (int i = 0; i < 8; ++i) {
    s.push_back(digits[v % 36]);
    v /= 36;
  }
  return s;
}

// A reader that opened the target without sharing its deletion holds up the rename for a moment.
bool MoveOver(const std::string& from, const std::string& to) {
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD err = ::GetLastError();
    if ((err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION) || attempt >= 40) return false;
    ::Sleep(25);
  }
}

int ReplaceWith(const std::string& target, const std::string& data) {
  std::string temp;
  Handle out;
  for (int attempt = 0;; ++attempt) {
    temp = target + std::string(kTempMark) + std::to_string(::GetCurrentProcessId()) + "-" + TempSuffix();
    out.Reset(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out) break;
    const DWORD err = ::GetLastError();
    if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || attempt > 100) return win::ErrnoFromWin32(err);
  }
  int err = WriteAll(out.Get(), data);
  if (err == 0 && !::FlushFileBuffers(out.Get())) err = LastErrno();
  if (err == 0 && !out.Close()) err = LastErrno();
  out.Reset();
  if (err == 0) {
    ReplaceFaultHook hook;
    {
      std::lock_guard<std::mutex> lock(HookMutex());
      hook = Hook();
    }
    if (hook && !hook(target, temp)) err = EIO;
  }
  if (err == 0 && !MoveOver(temp, target)) err = LastErrno();
  if (err != 0) ::DeleteFileA(temp.c_str());
  return err;
}

bool ProcessGone(DWORD pid) {
  if (pid == 0) return false;
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  const bool exited = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return exited;
}

// Removes the temporaries of target left by writers that died between creating and renaming
// them. Called with target's lock held, so no live writer of this file is between those steps.
void RemoveStaleTemporaries(const std::string& target) {
  const std::string dir = win::DirectoryPart(target);
  const std::string prefix = win::FileNamePart(target) + std::string(kTempMark);
  WIN32_FIND_DATAA entry{};
  HANDLE find = ::FindFirstFileA((dir + "\\" + prefix + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> stale;
  do {
    const std::string_view name(entry.cFileName);
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
    const std::string_view rest = name.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 10) continue;
    unsigned long long pid = 0;
    bool digits = true;
    for (char c : rest.substr(0, dash)) {
      if (c < '0' || c > '9')
        digits = false;
      else
        pid = pid * 10 + static_cast<unsigned>(c - '0');
    }
    if (digits && pid <= 0xFFFFFFFFu && ProcessGone(static_cast<DWORD>(pid))) stale.emplace_back(name);
  } while (::FindNextFileA(find, &entry));
  ::FindClose(find);
  for (const std::string& name : stale) ::DeleteFileA((dir + "\\" + name).c_str());
}

}  // namespace

int ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  Handle h(OpenForReading(path));
  if (!h) return LastErrno();
  return ReadAll(h.Get(), content);
}

int UpdateFileLocked(const std::string& path, const FileEditor& editor, bool create) {
  PathLock lock(path);
  if (lock.Error()) return lock.Error();
  std::string content;
  bool exists = true;
  {
    Handle h(OpenForReading(path));
    if (!h) {
      const DWORD err = ::GetLastError();
      if (err != ERROR_FILE_NOT_FOUND) return win::ErrnoFromWin32(err);
      if (!create) return 0;
      exists = false;
    } else if (int err = ReadAll(h.Get(), content)) {
      return err;
    }
  }
  RemoveStaleTemporaries(path);
  bool changed = false;
  if (int err = editor(content, changed)) return err;
  if (!changed) {
    if (exists) return 0;
    // A file asked to be created exists afterwards even when nothing was written into it.
    Handle made(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return made ? 0 : LastErrno();
  }
  return ReplaceWith(path, content);
}

int MakeDirectories(const std::string& dir) {
  if (dir.empty()) return 0;
  const DWORD attributes = ::GetFileAttributesA(dir.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ENOTDIR;
  std::string trimmed = dir;
  while (trimmed.size() > 1 && win::IsSeparator(trimmed.back())) trimmed.pop_back();
  const std::string parent = win::DirectoryPart(trimmed);
  // A drive ("C:"), a root ("C:\", "\") or a share is not made here.
  const bool top = parent == "." || parent == trimmed ||
                   (parent.size() <= 3 && parent.size() >= 2 && parent[1] == ':') ||
                   (parent.size() == 1 && win::IsSeparator(parent[0])) ||
                   (parent.size() > 2 && win::IsSeparator(parent[0]) && win::IsSeparator(parent[1]) &&
                    parent.find_first_of("\\/", 2) == std::string::npos);
  if (!top) {
    if (int err = MakeDirectories(parent)) return err;
  }
  if (!::CreateDirectoryA(trimmed.c_str(), nullptr)) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_ALREADY_EXISTS) return win::ErrnoFromWin32(err);
  }
  return 0;
}

void SetReplaceFaultHook(ReplaceFaultHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook() = std::move(hook);
}

}  // namespace vg::platform
