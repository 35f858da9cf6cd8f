#include "platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

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

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

int ReadAll(int fd, std::string& content) {
  content.clear();
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) content.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  off_t pos = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, pos);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    content.append(buf, static_cast<size_t>(n));
    pos += n;
  }
}

int WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

// A symbolic link is followed so that the linked file is replaced, not the link.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real) {
      std::string resolved(real);
      std::free(real);
      return resolved;
    }
  }
  return path;
}

// Temporary files are named "<file>.~<pid>-<suffix>", so that a later writer can tell one
// left by a writer that died before its rename from one still being written.
constexpr std::string_view kTempMark = ".~";

std::string TempSuffix() {
  static std::atomic<unsigned> counter{0};
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned long long v = (static_cast<unsigned long long>(::getpid()) << 20) ^
                         (static_cast<unsigned long long>(counter.fetch_add(1)) * 2654435761u) ^
                         static_cast<unsigned long long>(::clock());
  std::string s;
  for (int i = 0; i < 8; ++i) {
    s.push_back(digits[v % 36]);
    v /= 36;
  }
  return s;
}

int ReplaceWith(const std::string& target, const std::string& data, mode_t mode) {
  std::string temp;
  Fd out;
  for (int attempt = 0;; ++attempt) {
    temp = target + std::string(kTempMark) + std::to_string(::getpid()) + "-" + TempSuffix();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      out.Reset(fd);
      break;
    }
    if (errno != EEXIST || attempt > 100) return errno;
  }
  int err = WriteAll(out.Get(), data);
  if (err == 0 && ::fchmod(out.Get(), mode) != 0) err = errno;
  if (err == 0 && ::fdatasync(out.Get()) != 0) err = errno;
  if (err == 0) {
    if (::close(out.Release()) != 0) err = errno;
  }
  if (err == 0) {
    ReplaceFaultHook hook;
    {
      std::lock_guard<std::mutex> lock(HookMutex());
      hook = Hook();
    }
    if (hook && !hook(target, temp)) err = EIO;
  }
  if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(temp.c_str());
  return err;
}

bool ProcessGone(pid_t pid) { return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH; }

// Removes the temporaries of target left by writers that died between creating and renaming
// them. Called with target's lock held, so no live writer of this file is between those steps
// either; the process test guards against a writer that locked a file since replaced under it.
void RemoveStaleTemporaries(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const std::string prefix = (slash == std::string::npos ? target : target.substr(slash + 1)) + std::string(kTempMark);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> stale;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name(e->d_name);
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
    const std::string_view rest = name.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9) continue;
    pid_t pid = 0;
    bool digits = true;
    for (char c : rest.substr(0, dash)) {
      if (c < '0' || c > '9')
        digits = false;
      else
        pid = pid * 10 + (c - '0');
    }
    if (digits && ProcessGone(pid)) stale.emplace_back(name);
  }
  ::closedir(d);
  for (const std::string& name : stale) ::unlink((dir + "/" + name).c_str());
}

}  // namespace

int ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return errno;
  return ReadAll(fd.Get(), content);
}

int UpdateFileLocked(const std::string& path, const FileEditor& editor, bool create) {
  const std::string target = ResolveTarget(path);
  Fd fd;
  struct stat st {};
  for (;;) {
    const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
    fd.Reset(::open(target.c_str(), flags, 0666));
    if (fd.Get() < 0) {
      if (errno == ENOENT && !create) return 0;
      return errno;
    }
    while (::flock(fd.Get(), LOCK_EX) != 0) {
      if (errno != EINTR) return errno;
    }
    // The lock belongs to the file we opened; if another writer has replaced it in the
    // meantime, lock the new one instead.
    struct stat now {};
    if (::fstat(fd.Get(), &st) != 0) return errno;
    if (::stat(target.c_str(), &now) == 0) {
      if (now.st_ino == st.st_ino && now.st_dev == st.st_dev) break;
    } else if (errno == ENOENT && !create) {
      return 0;
    }
  }
  RemoveStaleTemporaries(target);
  std::string content;
  if (int err = ReadAll(fd.Get(), content)) return err;
  bool changed = false;
  if (int err = editor(content, changed)) return err;
  if (!changed) return 0;
  return ReplaceWith(target, content, st.st_mode & 07777);
}

int MakeDirectories(const std::string& dir) {
  if (dir.empty()) return 0;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  const size_t slash = dir.find_last_of('/', dir.size() > 1 ? dir.size() - 2 : 0);
  if (slash != std::string::npos && slash > 0) {
    if (int err = MakeDirectories(dir.substr(0, slash))) return err;
  }
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  return 0;
}

void SetReplaceFaultHook(ReplaceFaultHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook() = std::move(hook);
}

}  // namespace vg::platform
