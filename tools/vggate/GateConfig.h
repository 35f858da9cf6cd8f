#pragma once
// The reference gateway's settings, read from an INI file:
//   [Gateway]  Listen, Protocol, Engine, Compress, MaxDataLength, KeyIdleSeconds, RenewKeyValues
//   [Engine]   engine parameters by name, applied in file order
//   [Backends] host[:port]=address:port, one line per web server as the browser names it
//   [Faults]   Rekey591, Refuse591, CloseAfter, KeyStatus, PlainAnswers, CorruptAnswers,
//              WrongKeyAnswers, HangUp, DelayMs
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sockets/fEntry.h"

namespace vggate {

struct TBackend {
  vg::THttpEntry host;  // as the browser names the web server
  std::string address;  // where the gateway forwards
  int port = 80;
};

struct TFaults {
  static constexpr int kEveryRequest = -1;
  int rekey591 = 0;      // after this many requests under one key, the next gets 591
  int refuse591 = 0;     // the next this many protected requests get 591; kEveryRequest: all of them
  int closeAfter = 0;    // close a kept connection after this many answers
  int keyStatus = 0;     // answer key requests with this status and a plain page
  bool plainAnswers = false;
  bool corruptAnswers = false;
  bool wrongKeyAnswers = false;  // protect answers under a key the request did not carry
  bool hangUp = false;           // close every connection on its first request, unanswered
  int delayMs = 0;       // wait before every answer
};

struct TGateConfig {
  std::string listenHost = "127.0.0.1";
  int listenPort = 8591;
  std::string protocol = "1.5";
  std::string engine = "Emulation/1.0";
  int compress = 0;
  int32_t maxDataLength = 2097152;
  int keyIdleSeconds = 432;
  bool renewKeyValues = false;
  std::vector<std::pair<std::string, std::string>> engineParams;
  std::vector<TBackend> backends;
  TFaults faults;

  // The backend for a host as a request names it (port 80 when none is given), or null.
  const TBackend* FindBackend(const std::string& hostText) const;
};

// Parses the file's text; false with a message naming the line on the first error.
bool ParseGateConfig(const std::string& text, TGateConfig& config, std::string& error);
bool LoadGateConfig(const std::string& path, TGateConfig& config, std::string& error);

}  // namespace vggate
