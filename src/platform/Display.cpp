#include "platform/Display.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Environment.h"

namespace vg::platform {
namespace {

using Clock = std::chrono::steady_clock;

std::string NonEmpty(const char* name) { return ReadEnvironmentVariable(name).value_or(""); }

// Connects a fresh non-blocking socket and waits for the answer until the deadline; 0 when the
// peer accepted, else the error.
int ConnectBy(const Clock::time_point deadline, int family, const sockaddr* address, socklen_t size) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int error = 0;
  if (::connect(fd, address, size) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int rc = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) {
          error = rc == 0 ? ETIMEDOUT : errno;
          break;
        }
        socklen_t len = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        break;
      }
    }
  }
  ::close(fd);
  return error;
}

// A local socket; a name starting with '@' is in the abstract namespace.
int ConnectLocal(const Clock::time_point deadline, const std::string& name) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.empty() || name.size() >= sizeof address.sun_path) return ENAMETOOLONG;
  std::memcpy(address.sun_path, name.data(), name.size());
  if (name[0] == '@') address.sun_path[0] = '\0';
  return ConnectBy(deadline, AF_UNIX, reinterpret_cast<const sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size()));
}

int ConnectTcp(const Clock::time_point deadline, const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr)
    return EHOSTUNREACH;
  int error = EHOSTUNREACH;
  for (const addrinfo* a = found; a != nullptr && error != 0; a = a->ai_next)
    error = ConnectBy(deadline, a->ai_family, a->ai_addr, a->ai_addrlen);
  ::freeaddrinfo(found);
  return error;
}

int ConnectX(const Clock::time_point deadline, const std::string& display) {
  const std::optional<XDisplayPlace> place = ParseXDisplay(display);
  if (!place) return EINVAL;
  if (place->socketPath.empty()) return ConnectTcp(deadline, place->host, place->port);
  const int abstract = ConnectLocal(deadline, "@" + place->socketPath);
  return abstract == 0 ? 0 : ConnectLocal(deadline, place->socketPath);
}

std::string Failure(const std::string& what, int error) {
  return "the display \"" + what + "\" does not answer (" +
         (error == EINVAL ? "not a display name" : std::strerror(error)) + ")";
}

}  // namespace

// "[protocol/][host]:n[.screen]": a local socket for no host (or "unix"), else TCP on the host.
std::optional<XDisplayPlace> ParseXDisplay(const std::string& name) {
  if (!name.empty() && name[0] == '/') return XDisplayPlace{name, "", 0};
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  size_t end = colon + 1;
  int number = 0;
  while (end < name.size() && end - colon <= 6 && name[end] >= '0' && name[end] <= '9')
    number = number * 10 + (name[end++] - '0');
  if (end == colon + 1 || (end < name.size() && name[end] != '.')) return std::nullopt;
  std::string host = name.substr(0, colon);
  if (const size_t slash = host.find('/'); slash != std::string::npos) host.erase(0, slash + 1);
  if (host.empty() || host == "unix") return XDisplayPlace{"/tmp/.X11-unix/X" + std::to_string(number), "", 0};
  if (6000 + number > 65535) return std::nullopt;
  return XDisplayPlace{"", host, 6000 + number};
}

DisplayProbe ProbeDisplay(std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  const std::string platform = NonEmpty("QT_QPA_PLATFORM");
  const bool anyPlatform = platform.empty();
  if (!anyPlatform && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0) return {true, ""};

  std::string problem;
  const std::string wayland = NonEmpty("WAYLAND_DISPLAY");
  if (!wayland.empty() && (anyPlatform || platform.rfind("wayland", 0) == 0)) {
    const std::string path = wayland[0] == '/' ? wayland : NonEmpty("XDG_RUNTIME_DIR") + "/" + wayland;
    const int error = ConnectLocal(deadline, path);
    if (error == 0) return {true, ""};
    problem = Failure(wayland, error);
  }
  const std::string x = NonEmpty("DISPLAY");
  if (!x.empty() && (anyPlatform || platform.rfind("xcb", 0) == 0)) {
    const int error = ConnectX(deadline, x);
    if (error == 0) return {true, ""};
    problem = Failure(x, error);
  }
  return {false, problem};
}

}  // namespace vg::platform
