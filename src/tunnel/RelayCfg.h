#pragma once
// What a relay thread takes from the tunnel settings for one request, read in one go under the
// settings lock, so that a request sees one consistent set of values.
#include <cstdint>
#include <string>
#include <vector>

#include "settings/Cfg_Comm.h"

namespace vg {

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

  // A record of the log flags' mask is written only when every bit of it is set.
  bool LogsWith(uint32_t mask) const { return (logFlags & mask) == mask; }
  // Every answer gets "close" and no connection is kept.
  bool CloseEveryConnection() const { return proxyEnable && proxyOrpc; }
};

}  // namespace vg
