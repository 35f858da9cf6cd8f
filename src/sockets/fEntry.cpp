#include "sockets/fEntry.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "sockets/WS2_Imp.h"

namespace vg {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A decimal integer with an optional sign that fits 32 bits, or the fallback.
int32_t DecimalOr(std::string_view s, int32_t fallback) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return fallback;
  int64_t value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return fallback;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return fallback;
  return static_cast<int32_t>(value);
}

}  // namespace

void THttpEntry::SetHostOnly(std::string_view text) {
  text = Trim(text);
  host_ = std::string(Trim(text.substr(0, text.find(':'))));
}

void THttpEntry::Parse(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) {
    SetHostOnly(text);
    port_ = defaultPort_;
    return;
  }
  SetHostOnly(text.substr(0, colon));
  port_ = DecimalOr(Trim(text.substr(colon + 1)), defaultPort_);
}

std::string THttpEntry::AsText() const {
  if (host_.empty() || port_ == defaultPort_) return host_;
  return host_ + ":" + std::to_string(port_);
}

bool THttpEntry::IsAddress() const { return ParseDottedAddress(host_) != platform::kNoAddress; }

void THttpEntry::Assign(const THttpEntry& other) {
  host_ = other.host_;
  port_ = other.port_;
}

bool THttpEntry::SameAs(const THttpEntry& other) const {
  return port_ == other.port_ && std::equal(host_.begin(), host_.end(), other.host_.begin(), other.host_.end(),
                                            [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}

void THttpEntry::ApplyTo(platform::ClientSocket& socket) const {
  if (socket.Connected()) return;
  if (IsAddress()) {
    socket.SetAddress(host_);
    socket.SetHost({});
  } else {
    socket.SetHost(host_);
    socket.SetAddress({});
  }
  socket.SetPort(port_);
}

uint32_t ParseDottedAddress(std::string_view text) { return platform::ParseDottedIPv4(text); }

uint32_t ResolveHost(std::string_view name) {
  std::vector<platform::Ipv4> found;
  if (platform::ResolveIPv4(name, found) != 0 || found.empty()) return platform::kNoAddress;
  return found.front();
}

uint32_t LocalAddress() {
  const auto own = platform::OwnHostAddresses();
  return own.empty() ? 0 : own.front();
}

bool IsLocalNetwork(uint32_t address) {
  const uint32_t local = LocalAddress();
  if (local == 0) return false;
  const uint32_t mask = InterfaceMask(local);
  return mask != 0 && (address & mask) == (local & mask);
}

bool TOwnAddresses::Contains(uint32_t address) const {
  return std::find(addresses_.begin(), addresses_.end(), address) != addresses_.end();
}

namespace {
std::once_flag ownOnce;
const TOwnAddresses* ownList = nullptr;
}  // namespace

void InitOwnAddresses() {
  std::call_once(ownOnce, [] {
    static const TOwnAddresses list(platform::OwnHostAddresses());
    ownList = &list;
  });
}

const TOwnAddresses& OwnAddresses() {
  InitOwnAddresses();
  return *ownList;
}

bool IsOwnAddress(uint32_t address) {
  // A connection to the unspecified address reaches this machine's own listeners.
  return address == 0 || (address & 0xFF) == 127 || OwnAddresses().Contains(address);
}

}  // namespace vg
