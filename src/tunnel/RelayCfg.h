#pragma once
// What a relay thread takes from the tunnel settings for one request, read in one go under the
// settings lock, so that a request sees one consistent set of values.
#include <cstdint>
#include <string>
#include <vector>

namespace vg {

// Bits of "Log flags"; a record is written only when every bit of its mask is set.
namespace logflag {
constexpr uint32_t kService = 0x4;
constexpr uint32_t kRequests = 0x101;
constexpr uint32_t kAnswers = 0x10002;
constexpr uint32_t kBadAnswers = 0x20002;
inline bool Has(uint32_t flags, uint32_t mask) { return (flags & mask) == mask; }
}  // namespace logflag

struct TRelaySettings {
  uint32_t logFlags = 0xFFFFFF;
  bool errorTraceMode = false;
  int32_t selfPort = 0;
  bool proxyEnable = false;
  bool bypassLocal = false;
  std::string proxyHost;
  int32_t proxyPort = 0;
  int32_t maxDataLength = 0x200000;
  bool proxyOrpc = false;
  // 0: every client; 1: this machine only; 2: the listed addresses.
  uint8_t accessType = 1;
  // IPv4 addresses in network byte order.
  std::vector<uint32_t> allowedHosts;

  // Every answer gets "close" and no connection is kept.
  bool CloseEveryConnection() const { return proxyEnable && proxyOrpc; }
};

}  // namespace vg
