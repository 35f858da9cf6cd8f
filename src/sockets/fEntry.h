#pragma once
// A host and port as the tunnel addresses its targets, and the address tests used for routing.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Net.h"

namespace vg {

// A host name or dotted IPv4 address with a port; text form "host" or "host:port".
class THttpEntry {
 public:
  THttpEntry() = default;

  const std::string& Host() const { return host_; }
  int32_t Port() const { return port_; }
  void SetPort(int32_t port) { port_ = port; }
  // The port a text without one stands for (80 unless changed).
  int32_t DefaultPort() const { return defaultPort_; }
  void SetDefaultPort(int32_t port) { defaultPort_ = port; }

  // host := the text, trimmed and cut before its first ":"; the port stays.
  void SetHostOnly(std::string_view text);
  // "host" takes the default port; "host:port" takes the trimmed rest as a decimal port, or the
  // default port when that is not a number.
  void Parse(std::string_view text);
  // "host", or "host:port" when the port is not the default one; empty for an empty host.
  std::string AsText() const;
  // The host is a dotted IPv4 address.
  bool IsAddress() const;
  // Copies host and port.
  void Assign(const THttpEntry& other);
  // Hosts equal without regard to letter case, ports equal.
  bool SameAs(const THttpEntry& other) const;
  // Points an unconnected socket at this entry: a dotted address as its address, any other host as
  // its host name; a connected socket is left alone.
  void ApplyTo(platform::ClientSocket& socket) const;

 private:
  std::string host_;
  int32_t port_ = 80;
  int32_t defaultPort_ = 80;
};

// The dotted form: exactly four groups of decimal digits separated by ".", each at most 255, with
// nothing else; an empty group counts as 0. The first group is the lowest byte (network order).
// platform::kNoAddress (all bits set) when the text is not of that form; 255.255.255.255 gives the
// same value.
uint32_t ParseDottedAddress(std::string_view text);

// The first IPv4 address a name resolves to (network order); all bits set when it does not resolve.
uint32_t ResolveHost(std::string_view name);
// The first address of this machine's own name; 0 when it has none.
uint32_t LocalAddress();
// The address lies in the network of this machine's own address (by that interface's mask).
bool IsLocalNetwork(uint32_t address);

// A fixed set of addresses that belong to this machine.
class TOwnAddresses {
 public:
  explicit TOwnAddresses(std::vector<uint32_t> addresses) : addresses_(std::move(addresses)) {}
  bool Contains(uint32_t address) const;
  const std::vector<uint32_t>& List() const { return addresses_; }

 private:
  std::vector<uint32_t> addresses_;
};

// Builds the process's own-address list from this machine's name. The program calls it once at
// start; the first IsOwnAddress() builds it when the program did not. Later calls change nothing.
void InitOwnAddresses();
const TOwnAddresses& OwnAddresses();
// The unspecified address 0.0.0.0, every 127.x.y.z address, and every address of this machine's
// name and interfaces as listed at start.
bool IsOwnAddress(uint32_t address);

}  // namespace vg
