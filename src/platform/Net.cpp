#include "platform/Net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/NetCommon.h"

namespace vg::platform {

using namespace netdetail;

namespace {

int LastError() { return NetErrorFromErrno(errno); }

enum class PollOutcome { Ready, TimedOut, Woken, Failed };

// Polls up to two descriptors for the given events plus the wake signal, retrying after signals.
PollOutcome PollFds(int fd1, int fd2, short events, const Deadline& deadline, const WakeSignal* wake,
                    bool ready[2], int& error) {
  ready[0] = ready[1] = false;
  for (;;) {
    pollfd fds[3];
    nfds_t n = 0;
    const int slot1 = fd1 >= 0 ? static_cast<int>(n) : -1;
    if (fd1 >= 0) fds[n++] = pollfd{fd1, events, 0};
    const int slot2 = fd2 >= 0 ? static_cast<int>(n) : -1;
    if (fd2 >= 0) fds[n++] = pollfd{fd2, events, 0};
    const int slotWake = wake && wake->Handle() >= 0 ? static_cast<int>(n) : -1;
    if (slotWake >= 0) fds[n++] = pollfd{wake->Handle(), POLLIN, 0};
    if (n == 0) {
      error = neterr::kNotSocket;
      return PollOutcome::Failed;
    }
    const int rc = ::poll(fds, n, deadline.Remaining());
    if (rc < 0) {
      if (errno == EINTR) continue;
      error = LastError();
      return PollOutcome::Failed;
    }
    if (slotWake >= 0 && fds[slotWake].revents) return PollOutcome::Woken;
    // Some systems end a poll a little before its time-out; only the deadline counts.
    if (rc == 0) {
      if (deadline.Expired()) return PollOutcome::TimedOut;
      continue;
    }
    const short seen = events | POLLHUP | POLLERR | POLLNVAL;
    if (slot1 >= 0) ready[0] = (fds[slot1].revents & seen) != 0;
    if (slot2 >= 0) ready[1] = (fds[slot2].revents & seen) != 0;
    if (ready[0] || ready[1]) return PollOutcome::Ready;
  }
}

PollOutcome PollOne(int fd, short events, const Deadline& deadline, const WakeSignal* wake, int& error) {
  bool ready[2];
  return PollFds(fd, -1, events, deadline, wake, ready, error);
}

sockaddr_in MakeAddress(Ipv4 address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  return sa;
}

bool SockName(int fd, bool peer, sockaddr_in& sa) {
  if (fd < 0) return false;
  socklen_t len = sizeof sa;
  const int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len)
                      : ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return rc == 0 && sa.sin_family == AF_INET;
}

int ResolveError(int eai) {
  switch (eai) {
    case EAI_AGAIN:
      return neterr::kTryAgain;
    case EAI_FAIL:
    case EAI_SYSTEM:
    case EAI_MEMORY:
      return neterr::kNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return neterr::kNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return neterr::kNoData;
#endif
    default:
      return neterr::kHostNotFound;
  }
}

}  // namespace

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

int ResolveIPv4(std::string_view name, std::vector<Ipv4>& addresses) {
  addresses.clear();
  // A name with a NUL inside would silently stand for its first part.
  if (name.empty() || name.find('\0') != std::string_view::npos) return neterr::kHostNotFound;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string host(name);
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (rc != 0) return ResolveError(rc);
  for (const addrinfo* ai = list; ai; ai = ai->ai_next)
    if (ai->ai_family == AF_INET && ai->ai_addr)
      AppendUnique(addresses, reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(list);
  return addresses.empty() ? neterr::kNoData : 0;
}

InterfaceLister::InterfaceLister() = default;

int InterfaceLister::List(std::vector<InterfaceEntry>& entries) const {
  entries.clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return LastError();
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)) continue;
    InterfaceEntry e;
    e.address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    if (i->ifa_netmask && i->ifa_netmask->sa_family == AF_INET)
      e.mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr;
    entries.push_back(e);
  }
  ::freeifaddrs(list);
  return 0;
}

int64_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? -1 : static_cast<int64_t>(limit.rlim_cur);
}

void SpareDescriptor::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void SpareDescriptor::Restore() {
  if (fd_ < 0) fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// One event counter rather than a pipe: every connection thread owns a signal, so each
// descriptor saved here is one per connection.
WakeSignal::WakeSignal() {
  fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ < 0) throw Exception("cannot create a wake-up signal");
}

WakeSignal::~WakeSignal() { ::close(fd_); }

void WakeSignal::Signal() {
  const uint64_t one = 1;
  // A counter at its maximum is signalled already.
  [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void WakeSignal::Reset() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
}

bool WakeSignal::IsSignalled() const {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

ClientSocket::~ClientSocket() { Close(); }

ClientSocket::ClientSocket(ClientSocket&& other) noexcept
    : fd_(other.fd_), address_(std::move(other.address_)), host_(std::move(other.host_)), port_(other.port_) {
  other.fd_ = -1;
}

ClientSocket& ClientSocket::operator=(ClientSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
    address_ = std::move(other.address_);
    host_ = std::move(other.host_);
    port_ = other.port_;
  }
  return *this;
}

void ClientSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void ClientSocket::ShutdownSend() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

int ClientSocket::Open(int timeoutMs, const WakeSignal* wake) {
  Close();
  Ipv4 target = kNoAddress;
  if (!address_.empty()) {
    target = ParseDottedIPv4(address_);
    if (target == kNoAddress) return neterr::kAddressNotAvailable;
  } else {
    std::vector<Ipv4> found;
    if (const int rc = ResolveIPv4(host_, found)) return rc;
    target = found.front();
  }
  return Connect(target, port_, timeoutMs, wake);
}

int ClientSocket::Connect(Ipv4 address, int port, int timeoutMs, const WakeSignal* wake) {
  Close();
  if (port < 1 || port > 65535) return neterr::kAddressNotAvailable;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return LastError();
  const sockaddr_in sa = MakeAddress(address, port);
  int error = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int e = errno;
    if (e == EINPROGRESS || e == EINTR) {
      const Deadline deadline(timeoutMs);
      switch (PollOne(fd, POLLOUT, deadline, wake, error)) {
        case PollOutcome::Ready: {
          socklen_t len = sizeof error;
          int soError = 0;
          if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
          error = soError ? NetErrorFromErrno(soError) : 0;
          break;
        }
        case PollOutcome::TimedOut:
          error = neterr::kTimedOut;
          break;
        case PollOutcome::Woken:
          error = neterr::kInterrupted;
          break;
        case PollOutcome::Failed:
          break;
      }
    } else if (e == EADDRNOTAVAIL || e == EAGAIN) {
      // Out of local ports: the condition callers retry after a pause.
      error = neterr::kNoBuffers;
    } else {
      error = NetErrorFromErrno(e);
    }
  }
  if (error) {
    ::close(fd);
    return error;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fd_ = fd;
  return 0;
}

Ipv4 ClientSocket::LocalAddress() const {
  sockaddr_in sa{};
  return SockName(fd_, false, sa) ? sa.sin_addr.s_addr : 0;
}

int ClientSocket::LocalPort() const {
  sockaddr_in sa{};
  return SockName(fd_, false, sa) ? ntohs(sa.sin_port) : 0;
}

Ipv4 ClientSocket::PeerAddress() const {
  sockaddr_in sa{};
  return SockName(fd_, true, sa) ? sa.sin_addr.s_addr : 0;
}

int ClientSocket::PeerPort() const {
  sockaddr_in sa{};
  return SockName(fd_, true, sa) ? ntohs(sa.sin_port) : 0;
}

size_t ClientSocket::Pending() const {
  int n = 0;
  if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<size_t>(n);
}

namespace {
// The wait of a read or write that found nothing to do: true to try again, else r holds how it ended.
bool WaitToRetry(int fd, short events, const Deadline& deadline, const WakeSignal* wake, IoResult& r) {
  switch (PollOne(fd, events, deadline, wake, r.error)) {
    case PollOutcome::Ready:
      return true;
    case PollOutcome::TimedOut:
      r.status = IoStatus::TimedOut;
      return false;
    case PollOutcome::Woken:
      r.status = IoStatus::Woken;
      return false;
    case PollOutcome::Failed:
      break;
  }
  return false;
}
}  // namespace

IoResult ClientSocket::Read(void* buffer, size_t count, int timeoutMs, const WakeSignal* wake) {
  IoResult r;
  if (fd_ < 0) {
    r.error = neterr::kNotConnected;
    return r;
  }
  if (count == 0) {
    r.status = IoStatus::Done;
    return r;
  }
  const Deadline deadline(timeoutMs);
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, count, 0);
    if (n > 0) {
      r.status = IoStatus::Done;
      r.bytes = static_cast<size_t>(n);
      return r;
    }
    if (n == 0) {
      r.status = IoStatus::Closed;
      return r;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      r.error = LastError();
      return r;
    }
    if (!WaitToRetry(fd_, POLLIN, deadline, wake, r)) return r;
  }
}

IoResult ClientSocket::Write(const void* buffer, size_t count, int timeoutMs, const WakeSignal* wake) {
  IoResult r;
  if (fd_ < 0) {
    r.error = neterr::kNotConnected;
    return r;
  }
  const Deadline deadline(timeoutMs);
  const char* p = static_cast<const char*>(buffer);
  while (r.bytes < count) {
    const ssize_t n = ::send(fd_, p + r.bytes, count - r.bytes, MSG_NOSIGNAL);
    if (n > 0) {
      r.bytes += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      r.error = LastError();
      return r;
    }
    if (!WaitToRetry(fd_, POLLOUT, deadline, wake, r)) return r;
  }
  r.status = IoStatus::Done;
  return r;
}

ListenSocket::~ListenSocket() { Close(); }

void ListenSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int ListenSocket::Listen(int port, bool loopbackOnly, int backlog) {
  Close();
  if (port < 0 || port > 65535) return neterr::kAddressNotAvailable;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return LastError();
  // A listener restarted on its port must not wait for the old connections' TIME_WAIT to pass.
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in sa = MakeAddress(htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY), port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, backlog) != 0) {
    const int error = LastError();
    ::close(fd);
    return error;
  }
  fd_ = fd;
  return 0;
}

int ListenSocket::Port() const {
  sockaddr_in sa{};
  return SockName(fd_, false, sa) ? ntohs(sa.sin_port) : 0;
}

IoStatus ListenSocket::Accept(ClientSocket& accepted, int timeoutMs, const WakeSignal* wake, int* error) {
  int code = 0;
  const auto fail = [&](int e) {
    if (error) *error = e;
    return IoStatus::Failed;
  };
  if (fd_ < 0) return fail(neterr::kNotSocket);
  const Deadline deadline(timeoutMs);
  for (;;) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      accepted.Close();
      accepted.fd_ = fd;
      accepted.address_ = DottedText(peer.sin_addr.s_addr);
      accepted.host_.clear();
      accepted.port_ = ntohs(peer.sin_port);
      return IoStatus::Done;
    }
    // A connection the peer reset before it was taken is simply skipped.
    if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return fail(LastError());
    switch (PollOne(fd_, POLLIN, deadline, wake, code)) {
      case PollOutcome::Ready:
        continue;
      case PollOutcome::TimedOut:
        return IoStatus::TimedOut;
      case PollOutcome::Woken:
        return IoStatus::Woken;
      case PollOutcome::Failed:
        return fail(code);
    }
  }
}

Readiness WaitReadable(const ClientSocket& socket, int timeoutMs, const WakeSignal* wake) {
  Readiness r;
  if (!socket.Connected()) {
    r.error = neterr::kNotConnected;
    return r;
  }
  bool ready[2];
  switch (PollFds(socket.Handle(), -1, POLLIN, Deadline(timeoutMs), wake, ready, r.error)) {
    case PollOutcome::Ready:
      r.first = ready[0];
      break;
    case PollOutcome::Woken:
      r.woken = true;
      break;
    default:
      break;
  }
  return r;
}

Readiness WaitReadable(const ClientSocket& first, const ClientSocket& second, int timeoutMs, const WakeSignal* wake) {
  Readiness r;
  if (!first.Connected() && !second.Connected()) {
    r.error = neterr::kNotConnected;
    return r;
  }
  bool ready[2];
  switch (PollFds(first.Handle(), second.Handle(), POLLIN, Deadline(timeoutMs), wake, ready, r.error)) {
    case PollOutcome::Ready:
      r.first = ready[0];
      r.second = ready[1];
      break;
    case PollOutcome::Woken:
      r.woken = true;
      break;
    default:
      break;
  }
  return r;
}

}  // namespace vg::platform
