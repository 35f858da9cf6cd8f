#include "platform/FileTransfer.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

namespace vg::platform {
namespace {

bool WriteAllFd(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string SiblingTempName(const std::string& to) {
  static thread_local std::mt19937 rng{std::random_device{}()};
  const size_t slash = to.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : to.substr(0, slash);
  const std::string base = slash == std::string::npos ? to : to.substr(slash + 1);
  return dir + "/." + base + ".new-" + std::to_string(rng() % 1000000);
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileSize(const std::string& path, uint64_t& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool IsReadOnly(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

bool ClearReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool CopyFileWhole(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  std::string temp;
  int out = -1;
  for (int attempt = 0; attempt < 10 && out < 0; ++attempt) {
    temp = SiblingTempName(to);
    out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0 && errno != EEXIST) break;
  }
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!WriteAllFd(out, buffer, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  ::close(in);
  ok = ok && ::fchmod(out, st.st_mode & 07777) == 0 && ::fsync(out) == 0;
  ok = (::close(out) == 0) && ok;
  if (ok && ::rename(temp.c_str(), to.c_str()) == 0) return true;
  const int saved = errno;
  ::unlink(temp.c_str());
  errno = saved;
  return false;
}

UpdateOpen TryOpenForUpdate(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return UpdateOpen::Ok;
  }
  return (errno == ETXTBSY || errno == EACCES || errno == EPERM || errno == EBUSY) ? UpdateOpen::Busy
                                                                                   : UpdateOpen::Other;
}

namespace {

bool ListEntries(const std::string& dir, bool directories, std::vector<std::string>& names) {
  names.clear();
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::lstat((dir + "/" + name).c_str(), &st) != 0) continue;
    if (directories ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return true;
}

}  // namespace

std::vector<std::string> ListDirectories(const std::string& dir) {
  std::vector<std::string> names;
  ListEntries(dir, true, names);
  return names;
}

bool ListFilesChecked(const std::string& dir, std::vector<std::string>& names) {
  return ListEntries(dir, false, names);
}

bool RemoveEmptyDirectory(const std::string& dir) { return ::rmdir(dir.c_str()) == 0; }

CreateDirResult CreateNewDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return CreateDirResult::Created;
  return errno == EEXIST ? CreateDirResult::Exists : CreateDirResult::Failed;
}

std::string FindNameNoCase(const std::string& dir, const std::string& name) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return {};
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (name == e->d_name) {
      found = name;
      break;
    }
    if (found.empty() && ::strcasecmp(name.c_str(), e->d_name) == 0) found = e->d_name;
  }
  ::closedir(d);
  return found;
}

}  // namespace vg::platform
