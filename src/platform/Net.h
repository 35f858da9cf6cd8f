#pragma once
// TCP sockets, name resolution and the interface list behind one narrow interface.
//
// Error codes are the system's socket error numbers (the Windows Sockets numbering, e.g. 10061 for a
// refused connection) whatever the backend, so that messages read the same everywhere. Every
// operation that can fail returns such a code (0 = success) or a result carrying one. Only the
// interface-list binding (a missing library or function) and WakeSignal's creation (no descriptors
// left) throw.
//
// Time-outs are in milliseconds; a negative one waits without limit. Sockets belong to one thread;
// another thread ends a wait through a WakeSignal passed to it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SysUtils.h"

namespace vg::platform {

// An IPv4 address with the first dotted group in the lowest byte (network byte order in memory).
using Ipv4 = uint32_t;
// All bits set: what the resolvers and parsers return when there is no address.
constexpr Ipv4 kNoAddress = 0xFFFFFFFFu;

// The system's handle of a socket (a descriptor, or a Windows Sockets handle, which is pointer-wide).
#ifdef _WIN32
using NativeSocket = uintptr_t;
constexpr NativeSocket kNoSocket = ~uintptr_t{0};
#else
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;
#endif

namespace neterr {
constexpr int kInterrupted = 10004;
constexpr int kBadHandle = 10009;
constexpr int kAccess = 10013;
constexpr int kFault = 10014;
constexpr int kInvalid = 10022;
constexpr int kTooManySockets = 10024;
constexpr int kWouldBlock = 10035;
constexpr int kInProgress = 10036;
constexpr int kAlready = 10037;
constexpr int kNotSocket = 10038;
constexpr int kMessageSize = 10040;
constexpr int kNotSupported = 10045;
constexpr int kAddressFamily = 10047;
constexpr int kAddressInUse = 10048;
constexpr int kAddressNotAvailable = 10049;
constexpr int kNetworkDown = 10050;
constexpr int kNetworkUnreachable = 10051;
constexpr int kNetworkReset = 10052;
constexpr int kConnectionAborted = 10053;
constexpr int kConnectionReset = 10054;
constexpr int kNoBuffers = 10055;
constexpr int kIsConnected = 10056;
constexpr int kNotConnected = 10057;
constexpr int kShutdown = 10058;
constexpr int kTimedOut = 10060;
constexpr int kConnectionRefused = 10061;
constexpr int kHostDown = 10064;
constexpr int kHostUnreachable = 10065;
constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNoRecovery = 11003;
constexpr int kNoData = 11004;
}  // namespace neterr

// The system's socket error number for an errno value (unknown values pass through unchanged).
int NetErrorFromErrno(int errnoValue);
// The system's text for a socket error number ("Unknown error" for numbers it does not know).
std::string NetErrorText(int code);

// Every connection costs descriptors: raises the process's soft limit of open descriptors to
// its hard limit. Returns the soft limit now in force (0 when it cannot be read; -1 unlimited).
// Windows limits sockets by nothing of the kind; there the C runtime's table of open files is
// raised to its maximum and its size returned.
int64_t RaiseDescriptorLimit();

// A descriptor held in reserve, so that a program out of descriptors can still release one to
// write its log line about it. (On Windows: a slot of the C runtime's file table.)
class SpareDescriptor {
 public:
  SpareDescriptor() { Restore(); }
  ~SpareDescriptor() { Release(); }
  SpareDescriptor(const SpareDescriptor&) = delete;
  SpareDescriptor& operator=(const SpareDescriptor&) = delete;
  void Release();
  void Restore();

 private:
  int fd_ = -1;
};

// "a.b.c.d" for an address.
std::string DottedText(Ipv4 address);
// Exactly four groups of decimal digits separated by ".", each at most 255, nothing else; an empty
// group counts as 0. kNoAddress when the text is not of that form (and for 255.255.255.255).
Ipv4 ParseDottedIPv4(std::string_view text);

// This machine's host name; empty when it cannot be read.
std::string HostName();
// Every IPv4 address a name (or a dotted address) resolves to, in the resolver's order.
// Returns 0, or neterr::kHostNotFound / kTryAgain / kNoRecovery / kNoData.
int ResolveIPv4(std::string_view name, std::vector<Ipv4>& addresses);
// The addresses this machine's own name stands for. Where the resolver maps the host name only to
// loopback addresses, the addresses of the running non-loopback interfaces are put first, so that
// the first entry is the machine's address on its network; every interface address is included.
std::vector<Ipv4> OwnHostAddresses();

struct InterfaceEntry {
  Ipv4 address = 0;
  Ipv4 mask = 0;
};

// A backend that binds the system's socket library at run time fails with this when the library
// or one of its functions is missing.
class NetBindError : public Exception {
 public:
  enum class What { Library, Function };
  NetBindError(What what, std::string function)
      : Exception(what == What::Library ? "socket library missing" : "socket function missing: " + function),
        what_(what),
        function_(std::move(function)) {}
  What Missing() const { return what_; }
  const std::string& Function() const { return function_; }

 private:
  What what_;
  std::string function_;
};

// Access to the list of this machine's IPv4 interfaces with their network masks.
class InterfaceLister {
 public:
  // Binds the service; throws NetBindError when it is not available.
  InterfaceLister();
  // Fills entries with every running interface's address and mask, in the system's order; 0 or an
  // error code.
  int List(std::vector<InterfaceEntry>& entries) const;
};

// A level-triggered signal that ends waits on other threads: once Signal() is called every wait
// given this object returns at once until Reset().
class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;
  void Signal();
  void Reset();
  bool IsSignalled() const;
  NativeSocket Handle() const { return fd_; }

 private:
  NativeSocket fd_ = kNoSocket;
};

enum class IoStatus { Done, TimedOut, Closed, Woken, Failed };

struct IoResult {
  IoStatus status = IoStatus::Failed;
  size_t bytes = 0;  // bytes transferred, also when the status is not Done
  int error = 0;     // the error code for Failed
};

// A connected TCP stream: an outgoing connection or one taken by a listener.
class ClientSocket {
 public:
  ClientSocket() = default;
  ~ClientSocket();
  ClientSocket(ClientSocket&& other) noexcept;
  ClientSocket& operator=(ClientSocket&& other) noexcept;
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  // Where Open() connects: a dotted address, else a host name resolved to its first IPv4 address.
  const std::string& Address() const { return address_; }
  void SetAddress(std::string address) { address_ = std::move(address); }
  const std::string& Host() const { return host_; }
  void SetHost(std::string host) { host_ = std::move(host); }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }

  // Closes any connection and connects to Address or Host on Port within timeoutMs; 0 or an error
  // code (kTimedOut when the time ran out, kInterrupted when woken).
  int Open(int timeoutMs = 60000, const WakeSignal* wake = nullptr);
  // Connects to an address directly.
  int Connect(Ipv4 address, int port, int timeoutMs = 60000, const WakeSignal* wake = nullptr);

  // A connection is established and not yet closed on this side.
  bool Connected() const { return fd_ != kNoSocket; }
  void Close();
  // Ends sending (the peer reads the end of the stream); reading stays possible.
  void ShutdownSend();

  Ipv4 LocalAddress() const;
  int LocalPort() const;
  Ipv4 PeerAddress() const;
  int PeerPort() const;

  // Bytes that can be read without waiting.
  size_t Pending() const;
  // Waits up to timeoutMs for data and reads what has arrived, at most count bytes.
  // Closed: the peer ended the stream and nothing was read.
  IoResult Read(void* buffer, size_t count, int timeoutMs, const WakeSignal* wake = nullptr);
  // Writes all count bytes, waiting at most timeoutMs in all; bytes tells how many went out.
  IoResult Write(const void* buffer, size_t count, int timeoutMs, const WakeSignal* wake = nullptr);

  NativeSocket Handle() const { return fd_; }

 private:
  friend class ListenSocket;
  NativeSocket fd_ = kNoSocket;
  std::string address_;
  std::string host_;
  int port_ = 0;
};

// A listening TCP socket.
class ListenSocket {
 public:
  ListenSocket() = default;
  ~ListenSocket();
  ListenSocket(const ListenSocket&) = delete;
  ListenSocket& operator=(const ListenSocket&) = delete;

  // Listens on port (0: any free port) on all addresses, or on the loopback address only; 0 or an
  // error code (kAddressInUse when another socket holds the port).
  int Listen(int port, bool loopbackOnly = false, int backlog = 128);
  bool IsListening() const { return fd_ != kNoSocket; }
  int Port() const;
  void Close();

  // Waits up to timeoutMs for a connection and hands it over in accepted (its Address and Port are
  // the peer's). TimedOut and Woken let an accept loop check whether it should end.
  IoStatus Accept(ClientSocket& accepted, int timeoutMs, const WakeSignal* wake = nullptr, int* error = nullptr);

 private:
  NativeSocket fd_ = kNoSocket;
};

// What a readiness wait saw. Readable also covers a stream ended or broken by the peer.
struct Readiness {
  bool first = false;
  bool second = false;
  bool woken = false;
  int error = 0;  // the wait itself failed
  bool Any() const { return first || second; }
};

// Waits up to timeoutMs until a socket has something to read (or has been ended by its peer).
Readiness WaitReadable(const ClientSocket& socket, int timeoutMs, const WakeSignal* wake = nullptr);
// The same for two sockets at once (a tunnel waits on both of its sides).
Readiness WaitReadable(const ClientSocket& first, const ClientSocket& second, int timeoutMs,
                       const WakeSignal* wake = nullptr);
// Waits in slices of sliceMs, for totalMs at most, asking keepWaiting() between slices; second may
// be null. Stops at readiness, at a wake-up, on failure or when keepWaiting() returns false.
Readiness WaitReadableSliced(const ClientSocket& first, const ClientSocket* second, int totalMs, int sliceMs,
                             const std::function<bool()>& keepWaiting, const WakeSignal* wake = nullptr);

}  // namespace vg::platform
