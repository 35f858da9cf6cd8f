#include "platform/UserPaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/ProgramInfo.h"

namespace vg::platform {
namespace {

constexpr char kProductDir[] = "qs-veilgate";

// $name when it holds an absolute path (the base directory rules ignore relative ones), else
// $HOME/fallback.
std::string XdgDirectory(const char* name, const char* fallback) {
  if (const auto value = ReadEnvironmentVariable(name); value && !value->empty() && value->front() == '/')
    return *value;
  const auto home = ReadEnvironmentVariable("HOME");
  return JoinPath(home && !home->empty() ? *home : std::string("/"), fallback);
}

bool Writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

std::string DirectoryOf(const std::string& file) {
  const auto slash = file.rfind('/');
  return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : file.substr(0, slash));
}

}  // namespace

SettingsPlace LocateSettings(const std::string& installDir, const std::string& fileName, bool create) {
  SettingsPlace place;
  place.Installed = JoinPath(installDir, fileName);
  struct stat st {};
  const bool exists = ::stat(place.Installed.c_str(), &st) == 0;
  // A writable installation without the file is a per-user one too: the file is made there.
  if (Writable(DirectoryOf(place.Installed)) && (!exists || (S_ISREG(st.st_mode) && Writable(place.Installed)))) {
    place.File = place.Installed;
    place.LogBase = DirectoryOf(place.Installed);
    return place;
  }
  const std::string configDir = JoinPath(XdgDirectory("XDG_CONFIG_HOME", ".config"), kProductDir);
  place.File = JoinPath(configDir, fileName);
  place.LogBase = JoinPath(XdgDirectory("XDG_STATE_HOME", ".local/state"), kProductDir);
  place.PerUser = true;
  if (!create || ::access(place.File.c_str(), F_OK) == 0) return place;
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
  const std::string work = place.File + ".new" + std::to_string(::getpid());
  const int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool written = fd >= 0;
  for (size_t at = 0; written && at < content.size();) {
    const ssize_t n = ::write(fd, content.data() + at, content.size() - at);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) at += static_cast<size_t>(n);
  }
  const int err = written ? 0 : errno;
  if (fd >= 0) ::close(fd);
  if (written && ::link(work.c_str(), place.File.c_str()) != 0 && errno != EEXIST) written = false;
  if (!written) place.Error = "cannot create the settings file \"" + place.File + "\": " + ErrorText(err ? err : errno);
  ::unlink(work.c_str());
  return place;
}

int UnreadableFileError(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  char byte;
  int err = 0;
  while (::read(fd, &byte, 1) < 0) {
    if (errno == EINTR) continue;
    err = errno;
    break;
  }
  ::close(fd);
  return err;
}

std::string ErrorText(int code) { return std::strerror(code); }

std::string PrivateDirectoryProblem(const std::string& dir) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return ErrorText(errno);
  if (!S_ISDIR(st.st_mode)) return "it is not a directory";
  if (st.st_uid != ::getuid()) return "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("it is open to other users (mode ") + mode + ")";
  }
  return {};
}

}  // namespace vg::platform
