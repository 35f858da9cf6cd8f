#include "platform/Instance.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/Files.h"
#include "platform/UserPaths.h"

namespace vg::platform {
namespace {

constexpr char kQuitRequest[] = "quit\n";

std::string SanitizedName(const std::string& name) {
  std::string out;
  for (char c : name) out.push_back((isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_');
  return out;
}

// Empty when the runtime directory cannot be used.
std::string RuntimeFile(const std::string& className, const char* suffix, std::string* problem = nullptr) {
  const std::string dir = DesktopRuntimeDir(problem);
  return dir.empty() ? dir : dir + "/" + SanitizedName(className) + suffix;
}

std::string LockPath(const std::string& className, std::string* problem = nullptr) {
  return RuntimeFile(className, ".lock", problem);
}

std::string SocketPath(const std::string& className) { return RuntimeFile(className, ".sock"); }

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

std::string DesktopRuntimeDir(std::string* problem) {
  auto refuse = [problem](const std::string& dir, const std::string& why) {
    if (problem) *problem = "the runtime directory \"" + dir + "\" cannot be used: " + why;
    return std::string();
  };
  std::string base;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0') {
    base = xdg;
    struct stat st {};
    if (::stat(base.c_str(), &st) != 0) return refuse(base, ErrorText(errno));
    if (!S_ISDIR(st.st_mode)) return refuse(base, "it is not a directory");
    if (::access(base.c_str(), W_OK | X_OK) != 0) return refuse(base, ErrorText(errno));
  } else {
    // A shared temporary directory: whoever made this name first owns it, so it is only ours
    // when it belongs to us and nobody else may enter it.
    base = TempDirectory() + "/vg-runtime-" + std::to_string(::getuid());
    if (::mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) return refuse(base, ErrorText(errno));
    if (std::string why = PrivateDirectoryProblem(base); !why.empty()) return refuse(base, why);
  }
  std::string display;
  if (const char* d = std::getenv("WAYLAND_DISPLAY"); d != nullptr && *d != '\0')
    display = d;
  else if (const char* x = std::getenv("DISPLAY"); x != nullptr && *x != '\0')
    display = x;
  std::string dir = base + "/qs-veilgate" + (display.empty() ? std::string() : "-" + SanitizedName(display));
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return refuse(dir, ErrorText(errno));
  if (std::string why = PrivateDirectoryProblem(dir); !why.empty()) return refuse(dir, why);
  return dir;
}

WindowClassInstance::WindowClassInstance(std::string className) : className_(std::move(className)) {}

WindowClassInstance::~WindowClassInstance() { Unregister(); }

bool WindowClassInstance::Register(std::function<void()> onQuit) {
  if (lockFd_ >= 0) return true;
  problem_.clear();
  const std::string lockPath = LockPath(className_, &problem_);
  if (lockPath.empty()) return false;
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    problem_ = "cannot open the instance lock \"" + lockPath + "\": " + ErrorText(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  lockFd_ = fd;
  onQuit_ = std::move(onQuit);
  // The lock makes us the owner, so a stale socket from a crashed instance can go.
  const std::string path = SocketPath(className_);
  ::unlink(path.c_str());
  sockaddr_un addr;
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ >= 0 && FillAddress(path, addr) &&
      ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(listenFd_, 8) == 0 &&
      ::pipe2(wakeFds_, O_CLOEXEC) == 0) {
    server_ = std::thread([this] { Serve(); });
  } else if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
  }
  return true;
}

void WindowClassInstance::Serve() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    char buf[16] = {};
    pollfd cf{client, POLLIN, 0};
    ssize_t n = 0;
    if (::poll(&cf, 1, 1000) > 0) n = ::read(client, buf, sizeof buf - 1);
    const bool quit = n > 0 && std::strncmp(buf, kQuitRequest, sizeof kQuitRequest - 1) == 0;
    // The handler runs before the answer, so the poster knows the quit has been delivered.
    if (quit && onQuit_) onQuit_();
    if (quit) (void)!::write(client, "ok\n", 3);
    ::close(client);
  }
}

bool WindowClassInstance::IsRegistered() const { return lockFd_ >= 0; }

void WindowClassInstance::Unregister() {
  if (server_.joinable()) {
    (void)!::write(wakeFds_[1], "x", 1);
    server_.join();
  }
  for (int& fd : wakeFds_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    ::unlink(SocketPath(className_).c_str());
  }
  if (lockFd_ >= 0) {
    ::close(lockFd_);
    lockFd_ = -1;
  }
}

bool FindWindowByClass(const std::string& className) {
  const std::string lockPath = LockPath(className);
  if (lockPath.empty()) return false;
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

bool PostQuitToWindow(const std::string& className) {
  sockaddr_un addr;
  if (!FillAddress(SocketPath(className), addr)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::write(fd, kQuitRequest, sizeof kQuitRequest - 1) == static_cast<ssize_t>(sizeof kQuitRequest - 1)) {
    char buf[4] = {};
    pollfd pf{fd, POLLIN, 0};
    ok = ::poll(&pf, 1, 2000) > 0 && ::read(fd, buf, 3) == 3 && std::strncmp(buf, "ok\n", 3) == 0;
  }
  ::close(fd);
  return ok;
}

void EventLoop::BlockTerminationSignals(bool hangup) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (hangup) sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

EventLoop::EventLoop() = default;

EventLoop::~EventLoop() {
  if (signalThread_.joinable()) {
    // The signal thread waits in sigwait; a directed SIGTERM ends it.
    pthread_kill(signalThread_.native_handle(), SIGTERM);
    signalThread_.join();
  }
}

int EventLoop::Run() {
  loopThread_ = std::this_thread::get_id();
  sigset_t blocked;
  pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
  const bool signalsBlocked = sigismember(&blocked, SIGINT) == 1 && sigismember(&blocked, SIGTERM) == 1;
  const bool hangupBlocked = sigismember(&blocked, SIGHUP) == 1;
  if (signalsBlocked && !signalThread_.joinable()) {
    signalThread_ = std::thread([this, hangupBlocked] {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, SIGINT);
      sigaddset(&set, SIGTERM);
      if (hangupBlocked) sigaddset(&set, SIGHUP);
      for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (sig != SIGHUP) break;
        if (onHangup_) Post(onHangup_);
      }
      Quit(0);
    });
  }
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
    while (!tasks_.empty()) {
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
    if (quit_) return code_;
  }
}

void EventLoop::Quit(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!quit_) code_ = code;
  quit_ = true;
  wake_.notify_all();
}

void EventLoop::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.push_back(std::move(task));
  wake_.notify_all();
}

bool EventLoop::IsLoopThread() const { return std::this_thread::get_id() == loopThread_; }

TerminationSignalWatcher::TerminationSignalWatcher(std::function<void()> onSignal) {
  thread_ = std::thread([this, onSignal = std::move(onSignal)] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int sig = 0;
    sigwait(&set, &sig);
    if (!stopping_ && onSignal) onSignal();
  });
}

TerminationSignalWatcher::~TerminationSignalWatcher() {
  stopping_ = true;
  // The thread waits in sigwait; a directed SIGTERM ends it.
  pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
}

}  // namespace vg::platform
