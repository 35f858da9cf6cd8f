#include "platform/Spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vg::platform {
namespace {

thread_local std::string g_lastError;

bool ReadFull(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int StartDetached(const std::string& program, const std::vector<std::string>& args, const std::string& workDir) {
  // The middle child reports the grandchild's id and then the exec result through the pipe,
  // which closes on a successful exec.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    g_lastError = std::strerror(errno);
    return -1;
  }
  std::vector<std::string> argvStore{program};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child < 0) {
    g_lastError = std::strerror(errno);
    ::close(report[0]);
    ::close(report[1]);
    return -1;
  }
  if (child == 0) {
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      const int id = grandchild;
      (void)!::write(report[1], &id, sizeof id);
      ::_exit(0);
    }
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      if (null > 2) ::close(null);
    }
    int err = 0;
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) err = errno;
    if (err == 0) {
      ::execv(program.c_str(), argv.data());
      err = errno;
    }
    (void)!::write(report[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(report[1]);
  int id = -1;
  int err = 0;
  const bool gotId = ReadFull(report[0], &id, sizeof id) && id > 0;
  const bool failed = ReadFull(report[0], &err, sizeof err);
  ::close(report[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!gotId) {
    g_lastError = "fork failed";
    return -1;
  }
  if (failed) {
    g_lastError = std::strerror(err);
    return -1;
  }
  return id;
}

std::string LastSpawnError() { return g_lastError; }

}  // namespace vg::platform
