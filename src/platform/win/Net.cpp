#include "platform/Net.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <climits>

#include "platform/NetCommon.h"

namespace vg::platform {

using namespace netdetail;

namespace {

// Windows Sockets report the system's numbers themselves.
int LastError() { return ::WSAGetLastError(); }

// The socket library is started once per process and left to the process's end, since sockets
// may be in use on any thread until then.
void EnsureStarted() {
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  (void)started;
}

// A socket the process's children do not inherit, or INVALID_SOCKET with the error in error.
SOCKET NewSocket(int type, int protocol, int& error) {
  EnsureStarted();
  const SOCKET s = ::socket(AF_INET, type, protocol);
  if (s == INVALID_SOCKET) {
    error = LastError();
    return s;
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    error = LastError();
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

void CloseSocket(NativeSocket& s) {
  if (s != kNoSocket) ::closesocket(static_cast<SOCKET>(s));
  s = kNoSocket;
}

sockaddr_in MakeAddress(Ipv4 address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(static_cast<u_short>(port));
  return sa;
}

bool SockName(NativeSocket s, bool peer, sockaddr_in& sa) {
  if (s == kNoSocket) return false;
  int len = sizeof sa;
  const int rc = peer ? ::getpeername(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), &len)
                      : ::getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), &len);
  return rc == 0 && sa.sin_family == AF_INET;
}

enum class Want { Read, Write, Connect };
enum class PollOutcome { Ready, TimedOut, Woken, Failed };

// Waits with select on up to two sockets plus the wake signal. A connection attempt that failed
// shows in the exception set only, so a connect wait watches that set as well.
PollOutcome SelectSockets(NativeSocket s1, NativeSocket s2, Want want, const Deadline& deadline, const WakeSignal* wake,
                          bool ready[2], int& error) {
  ready[0] = ready[1] = false;
  const NativeSocket wakeSocket = wake ? wake->Handle() : kNoSocket;
  if (s1 == kNoSocket && s2 == kNoSocket) {
    error = neterr::kNotSocket;
    return PollOutcome::Failed;
  }
  for (;;) {
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    for (const NativeSocket s : {s1, s2}) {
      if (s == kNoSocket) continue;
      FD_SET(static_cast<SOCKET>(s), want == Want::Read ? &readSet : &writeSet);
      if (want == Want::Connect) FD_SET(static_cast<SOCKET>(s), &exceptSet);
    }
    if (wakeSocket != kNoSocket) FD_SET(static_cast<SOCKET>(wakeSocket), &readSet);
    const int remaining = deadline.Remaining();
    timeval tv{remaining / 1000, (remaining % 1000) * 1000};
    const int rc = ::select(0, &readSet, &writeSet, &exceptSet, remaining < 0 ? nullptr : &tv);
    if (rc == SOCKET_ERROR) {
      error = LastError();
      return PollOutcome::Failed;
    }
    if (wakeSocket != kNoSocket && FD_ISSET(static_cast<SOCKET>(wakeSocket), &readSet)) return PollOutcome::Woken;
    // select may end a little before its time-out; only the deadline counts.
    if (rc == 0) {
      if (deadline.Expired()) return PollOutcome::TimedOut;
      continue;
    }
    const NativeSocket sockets[2] = {s1, s2};
    for (int i = 0; i < 2; ++i) {
      if (sockets[i] == kNoSocket) continue;
      const auto s = static_cast<SOCKET>(sockets[i]);
      ready[i] = FD_ISSET(s, &readSet) || FD_ISSET(s, &writeSet) || FD_ISSET(s, &exceptSet);
    }
    if (ready[0] || ready[1]) return PollOutcome::Ready;
  }
}

PollOutcome SelectOne(NativeSocket s, Want want, const Deadline& deadline, const WakeSignal* wake, int& error) {
  bool ready[2];
  return SelectSockets(s, kNoSocket, want, deadline, wake, ready, error);
}

// getaddrinfo reports the Windows Sockets numbers of the resolver.
int ResolveError(int rc) {
  switch (rc) {
    case WSAHOST_NOT_FOUND:
    case WSATRY_AGAIN:
    case WSANO_RECOVERY:
    case WSANO_DATA: return rc;
    case WSA_NOT_ENOUGH_MEMORY: return neterr::kNoRecovery;
    default: return neterr::kHostNotFound;
  }
}

// The interface list comes from WSAIoctl, which is bound from the socket library at run time.
using WsaIoctlFunction = int(WSAAPI*)(SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED,
                                      LPWSAOVERLAPPED_COMPLETION_ROUTINE);

struct InterfaceBinding {
  HMODULE library = nullptr;
  WsaIoctlFunction ioctl = nullptr;
};

const InterfaceBinding& BindInterfaceService() {
  static const InterfaceBinding binding = [] {
    InterfaceBinding b;
    b.library = ::LoadLibraryA("ws2_32.dll");
    if (b.library)
      b.ioctl = reinterpret_cast<WsaIoctlFunction>(reinterpret_cast<void*>(::GetProcAddress(b.library, "WSAIoctl")));
    return b;
  }();
  return binding;
}

}  // namespace

std::string HostName() {
  EnsureStarted();
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

int ResolveIPv4(std::string_view name, std::vector<Ipv4>& addresses) {
  addresses.clear();
  // A name with a NUL inside would silently stand for its first part.
  if (name.empty() || name.find('\0') != std::string_view::npos) return neterr::kHostNotFound;
  EnsureStarted();
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

InterfaceLister::InterfaceLister() {
  EnsureStarted();
  const InterfaceBinding& b = BindInterfaceService();
  if (!b.library) throw NetBindError(NetBindError::What::Library, {});
  if (!b.ioctl) throw NetBindError(NetBindError::What::Function, "WSAIoctl");
}

int InterfaceLister::List(std::vector<InterfaceEntry>& entries) const {
  entries.clear();
  int error = 0;
  NativeSocket s = kNoSocket;
  {
    const SOCKET probe = NewSocket(SOCK_DGRAM, IPPROTO_UDP, error);
    if (probe == INVALID_SOCKET) return error;
    s = static_cast<NativeSocket>(probe);
  }
  // The list is returned whole or not at all: grow the buffer until it fits.
  std::vector<INTERFACE_INFO> list(16);
  for (;;) {
    DWORD bytes = 0;
    const DWORD size = static_cast<DWORD>(list.size() * sizeof(INTERFACE_INFO));
    if (BindInterfaceService().ioctl(static_cast<SOCKET>(s), SIO_GET_INTERFACE_LIST, nullptr, 0, list.data(), size,
                                     &bytes, nullptr, nullptr) == 0) {
      list.resize(bytes / sizeof(INTERFACE_INFO));
      break;
    }
    error = LastError();
    if (error != WSAEFAULT || list.size() >= 4096) {
      CloseSocket(s);
      return error;
    }
    list.resize(list.size() * 4);
  }
  CloseSocket(s);
  for (const INTERFACE_INFO& i : list) {
    if (i.iiAddress.Address.sa_family != AF_INET || !(i.iiFlags & IFF_UP)) continue;
    InterfaceEntry e;
    e.address = i.iiAddress.AddressIn.sin_addr.s_addr;
    e.mask = i.iiNetmask.AddressIn.sin_addr.s_addr;
    entries.push_back(e);
  }
  return 0;
}

// Sockets have no per-process limit here; the C runtime's table of open streams is the one
// limit a busy program meets (its log and settings files), so that is what is raised.
int64_t RaiseDescriptorLimit() {
  constexpr int kRuntimeMaximum = 8192;
  if (::_getmaxstdio() < kRuntimeMaximum) ::_setmaxstdio(kRuntimeMaximum);
  return ::_getmaxstdio();
}

// The reserve is one slot of the C runtime's file table, held on the null device.
void SpareDescriptor::Release() {
  if (fd_ >= 0) ::_close(fd_);
  fd_ = -1;
}

void SpareDescriptor::Restore() {
  if (fd_ < 0) fd_ = ::_open("NUL", _O_RDONLY | _O_NOINHERIT);
}

// A datagram socket bound to the loopback address that sends to itself: a datagram waiting in it
// makes it readable, which select sees beside the sockets it waits on. One socket per signal,
// where a connected pair would cost two and a listener.
WakeSignal::WakeSignal() {
  int error = 0;
  const SOCKET s = NewSocket(SOCK_DGRAM, IPPROTO_UDP, error);
  if (s == INVALID_SOCKET) throw Exception("cannot create a wake-up signal");
  sockaddr_in sa = MakeAddress(htonl(INADDR_LOOPBACK), 0);
  int len = sizeof sa;
  if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      ::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    ::closesocket(s);
    throw Exception("cannot create a wake-up signal");
  }
  fd_ = static_cast<NativeSocket>(s);
}

WakeSignal::~WakeSignal() { CloseSocket(fd_); }

void WakeSignal::Signal() {
  // One datagram waiting is enough; more would only fill the queue.
  if (IsSignalled()) return;
  const char one = 1;
  ::send(static_cast<SOCKET>(fd_), &one, 1, 0);
}

void WakeSignal::Reset() {
  char buffer[16];
  while (::recv(static_cast<SOCKET>(fd_), buffer, sizeof buffer, 0) > 0) {
  }
}

bool WakeSignal::IsSignalled() const {
  u_long pending = 0;
  return ::ioctlsocket(static_cast<SOCKET>(fd_), FIONREAD, &pending) == 0 && pending > 0;
}

ClientSocket::~ClientSocket() { Close(); }

ClientSocket::ClientSocket(ClientSocket&& other) noexcept
    : fd_(other.fd_), address_(std::move(other.address_)), host_(std::move(other.host_)), port_(other.port_) {
  other.fd_ = kNoSocket;
}

ClientSocket& ClientSocket::operator=(ClientSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = kNoSocket;
    address_ = std::move(other.address_);
    host_ = std::move(other.host_);
    port_ = other.port_;
  }
  return *this;
}

void ClientSocket::Close() { CloseSocket(fd_); }

void ClientSocket::ShutdownSend() {
  if (fd_ != kNoSocket) ::shutdown(static_cast<SOCKET>(fd_), SD_SEND);
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
  int error = 0;
  const SOCKET s = NewSocket(SOCK_STREAM, IPPROTO_TCP, error);
  if (s == INVALID_SOCKET) return error;
  const sockaddr_in sa = MakeAddress(address, port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int e = LastError();
    if (e == WSAEWOULDBLOCK) {
      const Deadline deadline(timeoutMs);
      switch (SelectOne(static_cast<NativeSocket>(s), Want::Connect, deadline, wake, error)) {
        case PollOutcome::Ready: {
          int soError = 0;
          int len = sizeof soError;
          if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0)
            soError = LastError();
          error = soError;
          break;
        }
        case PollOutcome::TimedOut: error = neterr::kTimedOut; break;
        case PollOutcome::Woken: error = neterr::kInterrupted; break;
        case PollOutcome::Failed: break;
      }
    } else {
      error = e;
    }
  }
  if (error) {
    ::closesocket(s);
    return error;
  }
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  fd_ = static_cast<NativeSocket>(s);
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
  u_long n = 0;
  if (fd_ == kNoSocket || ::ioctlsocket(static_cast<SOCKET>(fd_), FIONREAD, &n) != 0) return 0;
  return static_cast<size_t>(n);
}

namespace {
// The wait of a read or write that found nothing to do: true to try again, else r holds how it ended.
bool WaitToRetry(NativeSocket s, Want want, const Deadline& deadline, const WakeSignal* wake, IoResult& r) {
  switch (SelectOne(s, want, deadline, wake, r.error)) {
    case PollOutcome::Ready: return true;
    case PollOutcome::TimedOut: r.status = IoStatus::TimedOut; return false;
    case PollOutcome::Woken: r.status = IoStatus::Woken; return false;
    case PollOutcome::Failed: break;
  }
  return false;
}

// send and recv count in int.
int Chunk(size_t count) { return static_cast<int>(std::min<size_t>(count, INT_MAX)); }
}  // namespace

IoResult ClientSocket::Read(void* buffer, size_t count, int timeoutMs, const WakeSignal* wake) {
  IoResult r;
  if (fd_ == kNoSocket) {
    r.error = neterr::kNotConnected;
    return r;
  }
  if (count == 0) {
    r.status = IoStatus::Done;
    return r;
  }
  const Deadline deadline(timeoutMs);
  for (;;) {
    const int n = ::recv(static_cast<SOCKET>(fd_), static_cast<char*>(buffer), Chunk(count), 0);
    if (n > 0) {
      r.status = IoStatus::Done;
      r.bytes = static_cast<size_t>(n);
      return r;
    }
    if (n == 0) {
      r.status = IoStatus::Closed;
      return r;
    }
    if (const int e = LastError(); e != WSAEWOULDBLOCK) {
      r.error = e;
      return r;
    }
    if (!WaitToRetry(fd_, Want::Read, deadline, wake, r)) return r;
  }
}

IoResult ClientSocket::Write(const void* buffer, size_t count, int timeoutMs, const WakeSignal* wake) {
  IoResult r;
  if (fd_ == kNoSocket) {
    r.error = neterr::kNotConnected;
    return r;
  }
  const Deadline deadline(timeoutMs);
  const char* p = static_cast<const char*>(buffer);
  while (r.bytes < count) {
    const int n = ::send(static_cast<SOCKET>(fd_), p + r.bytes, Chunk(count - r.bytes), 0);
    if (n > 0) {
      r.bytes += static_cast<size_t>(n);
      continue;
    }
    if (n < 0) {
      if (const int e = LastError(); e != WSAEWOULDBLOCK) {
        r.error = e;
        return r;
      }
    }
    if (!WaitToRetry(fd_, Want::Write, deadline, wake, r)) return r;
  }
  r.status = IoStatus::Done;
  return r;
}

ListenSocket::~ListenSocket() { Close(); }

void ListenSocket::Close() { CloseSocket(fd_); }

int ListenSocket::Listen(int port, bool loopbackOnly, int backlog) {
  Close();
  if (port < 0 || port > 65535) return neterr::kAddressNotAvailable;
  int error = 0;
  const SOCKET s = NewSocket(SOCK_STREAM, IPPROTO_TCP, error);
  if (s == INVALID_SOCKET) return error;
  // No options here: a listener takes its port again at once while old connections linger, and
  // SO_REUSEADDR would let a second socket share a port in use.
  const sockaddr_in sa = MakeAddress(htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY), port);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, backlog) != 0) {
    error = LastError();
    ::closesocket(s);
    return error;
  }
  fd_ = static_cast<NativeSocket>(s);
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
  if (fd_ == kNoSocket) return fail(neterr::kNotSocket);
  const Deadline deadline(timeoutMs);
  for (;;) {
    sockaddr_in peer{};
    int len = sizeof peer;
    const SOCKET s = ::accept(static_cast<SOCKET>(fd_), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s != INVALID_SOCKET) {
      ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      u_long nonBlocking = 1;
      ::ioctlsocket(s, FIONBIO, &nonBlocking);
      const BOOL one = TRUE;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
      accepted.Close();
      accepted.fd_ = static_cast<NativeSocket>(s);
      accepted.address_ = DottedText(peer.sin_addr.s_addr);
      accepted.host_.clear();
      accepted.port_ = ntohs(peer.sin_port);
      return IoStatus::Done;
    }
    const int e = LastError();
    // A connection the peer reset before it was taken is simply skipped.
    if (e == WSAECONNRESET || e == WSAECONNABORTED) continue;
    if (e != WSAEWOULDBLOCK) return fail(e);
    switch (SelectOne(fd_, Want::Read, deadline, wake, code)) {
      case PollOutcome::Ready: continue;
      case PollOutcome::TimedOut: return IoStatus::TimedOut;
      case PollOutcome::Woken: return IoStatus::Woken;
      case PollOutcome::Failed: return fail(code);
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
  switch (SelectSockets(socket.Handle(), kNoSocket, Want::Read, Deadline(timeoutMs), wake, ready, r.error)) {
    case PollOutcome::Ready: r.first = ready[0]; break;
    case PollOutcome::Woken: r.woken = true; break;
    default: break;
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
  switch (SelectSockets(first.Handle(), second.Handle(), Want::Read, Deadline(timeoutMs), wake, ready, r.error)) {
    case PollOutcome::Ready:
      r.first = ready[0];
      r.second = ready[1];
      break;
    case PollOutcome::Woken: r.woken = true; break;
    default: break;
  }
  return r;
}

}  // namespace vg::platform
