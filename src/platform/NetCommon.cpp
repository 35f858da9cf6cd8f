#include "platform/NetCommon.h"

#include <cerrno>

namespace vg::platform {

using namespace netdetail;

namespace {

struct ErrnoCode {
  int errnoValue;
  int code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {EINTR, neterr::kInterrupted},
    {EBADF, neterr::kBadHandle},
    {EACCES, neterr::kAccess},
    {EPERM, neterr::kAccess},
    {EFAULT, neterr::kFault},
    {EINVAL, neterr::kInvalid},
    {EMFILE, neterr::kTooManySockets},
    {ENFILE, neterr::kTooManySockets},
    {EAGAIN, neterr::kWouldBlock},
    {EINPROGRESS, neterr::kInProgress},
    {EALREADY, neterr::kAlready},
    {ENOTSOCK, neterr::kNotSocket},
    {EMSGSIZE, neterr::kMessageSize},
    {EOPNOTSUPP, neterr::kNotSupported},
    {EAFNOSUPPORT, neterr::kAddressFamily},
    {EADDRINUSE, neterr::kAddressInUse},
    {EADDRNOTAVAIL, neterr::kAddressNotAvailable},
    {ENETDOWN, neterr::kNetworkDown},
    {ENETUNREACH, neterr::kNetworkUnreachable},
    {ENETRESET, neterr::kNetworkReset},
    {ECONNABORTED, neterr::kConnectionAborted},
    {ECONNRESET, neterr::kConnectionReset},
    {ENOBUFS, neterr::kNoBuffers},
    {ENOMEM, neterr::kNoBuffers},
    {EISCONN, neterr::kIsConnected},
    {ENOTCONN, neterr::kNotConnected},
    {EPIPE, neterr::kShutdown},
#ifdef ESHUTDOWN
    {ESHUTDOWN, neterr::kShutdown},
#endif
    {ETIMEDOUT, neterr::kTimedOut},
    {ECONNREFUSED, neterr::kConnectionRefused},
#ifdef EHOSTDOWN
    {EHOSTDOWN, neterr::kHostDown},
#endif
    {EHOSTUNREACH, neterr::kHostUnreachable},
};

struct CodeText {
  int code;
  const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {neterr::kInterrupted, "Interrupted function call"},
    {neterr::kBadHandle, "Bad socket handle"},
    {neterr::kAccess, "Permission denied"},
    {neterr::kFault, "Bad address"},
    {neterr::kInvalid, "Invalid argument"},
    {neterr::kTooManySockets, "Too many open sockets"},
    {neterr::kWouldBlock, "Resource temporarily unavailable"},
    {neterr::kInProgress, "Operation now in progress"},
    {neterr::kAlready, "Operation already in progress"},
    {neterr::kNotSocket, "Socket operation on a non-socket"},
    {neterr::kMessageSize, "Message too long"},
    {neterr::kNotSupported, "Operation not supported"},
    {neterr::kAddressFamily, "Address family not supported by protocol family"},
    {neterr::kAddressInUse, "Address already in use"},
    {neterr::kAddressNotAvailable, "Cannot assign requested address"},
    {neterr::kNetworkDown, "Network is down"},
    {neterr::kNetworkUnreachable, "Network is unreachable"},
    {neterr::kNetworkReset, "Network dropped connection on reset"},
    {neterr::kConnectionAborted, "Software caused connection abort"},
    {neterr::kConnectionReset, "Connection reset by peer"},
    {neterr::kNoBuffers, "No buffer space available"},
    {neterr::kIsConnected, "Socket is already connected"},
    {neterr::kNotConnected, "Socket is not connected"},
    {neterr::kShutdown, "Cannot send after socket shutdown"},
    {neterr::kTimedOut, "Connection timed out"},
    {neterr::kConnectionRefused, "Connection refused"},
    {neterr::kHostDown, "Host is down"},
    {neterr::kHostUnreachable, "No route to host"},
    {neterr::kHostNotFound, "Host not found"},
    {neterr::kTryAgain, "Nonauthoritative host not found"},
    {neterr::kNoRecovery, "This is a nonrecoverable error"},
    {neterr::kNoData, "Valid name, no data record of requested type"},
};

}  // namespace

int NetErrorFromErrno(int errnoValue) {
  if (errnoValue == EWOULDBLOCK) return neterr::kWouldBlock;
  for (const auto& e : kErrnoCodes)
    if (e.errnoValue == errnoValue) return e.code;
  return errnoValue;
}

std::string NetErrorText(int code) {
  for (const auto& t : kCodeTexts)
    if (t.code == code) return t.text;
  return "Unknown error";
}

std::string DottedText(Ipv4 address) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    if (i) s.push_back('.');
    s += std::to_string((address >> (8 * i)) & 0xFF);
  }
  return s;
}

Ipv4 ParseDottedIPv4(std::string_view text) {
  Ipv4 result = 0;
  int group = 0;
  unsigned value = 0;
  for (const char c : text) {
    if (c == '.') {
      result |= value << (8 * group);
      value = 0;
      if (++group > 3) return kNoAddress;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 255) return kNoAddress;
    } else {
      return kNoAddress;
    }
  }
  if (group != 3) return kNoAddress;
  return result | (value << 24);
}

std::vector<Ipv4> OwnHostAddresses() {
  std::vector<Ipv4> resolved;
  const std::string name = HostName();
  if (!name.empty()) ResolveIPv4(name, resolved);
  std::vector<Ipv4> external;
  std::vector<InterfaceEntry> interfaces;
  if (InterfaceLister().List(interfaces) == 0)
    for (const auto& e : interfaces)
      if (!IsLoopback(e.address)) AppendUnique(external, e.address);
  const bool onlyLoopback = std::all_of(resolved.begin(), resolved.end(), IsLoopback);
  std::vector<Ipv4> result;
  for (const Ipv4 a : onlyLoopback ? external : resolved) AppendUnique(result, a);
  for (const Ipv4 a : onlyLoopback ? resolved : external) AppendUnique(result, a);
  for (const auto& e : interfaces) AppendUnique(result, e.address);
  return result;
}

Readiness WaitReadableSliced(const ClientSocket& first, const ClientSocket* second, int totalMs, int sliceMs,
                             const std::function<bool()>& keepWaiting, const WakeSignal* wake) {
  const Deadline deadline(totalMs);
  if (sliceMs <= 0) sliceMs = 100;
  for (;;) {
    int slice = deadline.Remaining();
    if (slice < 0 || slice > sliceMs) slice = sliceMs;
    const Readiness r = second ? WaitReadable(first, *second, slice, wake) : WaitReadable(first, slice, wake);
    if (r.Any() || r.woken || r.error) return r;
    if (deadline.Expired() || (keepWaiting && !keepWaiting())) return r;
  }
}

}  // namespace vg::platform
