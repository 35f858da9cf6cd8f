#pragma once
// Reading and writing whole HTTP messages on a socket, for the gateway and its tests.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Net.h"
#include "tunnel/httpdata.h"

namespace vggate {

enum class TReadResult { Complete, Closed, TooLarge, TimedOut, Failed, Stopped };

const char* ReadResultText(TReadResult result);

// Reads one request. carry holds bytes that arrived after the previous request; it is used first
// and receives what arrives after this one. Closed: the peer ended the stream before a byte of a
// new request arrived. waitMs bounds the wait for the first byte, partMs every later wait.
TReadResult ReadRequest(vg::platform::ClientSocket& socket, vg::THTTPData& request, std::string& carry,
                        int32_t limit, int waitMs, int partMs, const vg::platform::WakeSignal* wake);

// Reads one answer, skipping interim (1xx) answers. The answer to a HEAD request ends with its
// header block; an answer without framing ends when the peer closes the stream.
TReadResult ReadAnswer(vg::platform::ClientSocket& socket, vg::THTTPData& answer, bool headRequest, int32_t limit,
                       int timeoutMs, const vg::platform::WakeSignal* wake);

bool WriteAll(vg::platform::ClientSocket& socket, std::string_view bytes, int timeoutMs,
              const vg::platform::WakeSignal* wake);

// Connects to address:port (a dotted address or a host name); 0 or a socket error number.
int ConnectTo(vg::platform::ClientSocket& socket, const std::string& address, int port, int timeoutMs,
              const vg::platform::WakeSignal* wake);

}  // namespace vggate
