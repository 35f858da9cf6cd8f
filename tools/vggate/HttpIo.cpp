#include "HttpIo.h"

#include <algorithm>

namespace vggate {
namespace {

using vg::platform::ClientSocket;
using vg::platform::IoStatus;
using vg::platform::WakeSignal;

constexpr size_t kReadSize = 65536;

TReadResult FromStatus(IoStatus status) {
  switch (status) {
    case IoStatus::TimedOut: return TReadResult::TimedOut;
    case IoStatus::Woken: return TReadResult::Stopped;
    case IoStatus::Closed: return TReadResult::Closed;
    default: return TReadResult::Failed;
  }
}

// Appends what the next read brings; Complete stands for "some bytes arrived".
TReadResult ReadMore(ClientSocket& socket, vg::THTTPData& message, int32_t limit, int timeoutMs,
                     const WakeSignal* wake) {
  char buffer[kReadSize];
  // The first part of a message usually has yet to arrive: waiting before reading saves the
  // read that would only find nothing.
  if (message.IsEmpty()) {
    const vg::platform::Readiness ready = vg::platform::WaitReadable(socket, timeoutMs, wake);
    if (ready.woken) return TReadResult::Stopped;
    if (!ready.first) return ready.error ? TReadResult::Failed : TReadResult::TimedOut;
  }
  const vg::platform::IoResult r = socket.Read(buffer, sizeof buffer, timeoutMs, wake);
  if (r.status != IoStatus::Done) return FromStatus(r.status);
  if (static_cast<int64_t>(message.Length()) + static_cast<int64_t>(r.bytes) > limit) return TReadResult::TooLarge;
  if (!message.Append(std::string_view(buffer, r.bytes))) return TReadResult::Failed;
  return TReadResult::Complete;
}

}  // namespace

const char* ReadResultText(TReadResult result) {
  switch (result) {
    case TReadResult::Complete: return "complete";
    case TReadResult::Closed: return "connection closed";
    case TReadResult::TooLarge: return "message too large";
    case TReadResult::TimedOut: return "timed out";
    case TReadResult::Failed: return "read failed";
    case TReadResult::Stopped: return "stopped";
  }
  return "?";
}

TReadResult ReadRequest(ClientSocket& socket, vg::THTTPData& request, std::string& carry, int32_t limit, int waitMs,
                        int partMs, const WakeSignal* wake) {
  request.Assign(carry);
  carry.clear();
  while (!request.IsCompleteRequest()) {
    const TReadResult r = ReadMore(socket, request, limit, request.IsEmpty() ? waitMs : partMs, wake);
    if (r == TReadResult::Closed && !request.IsEmpty()) return TReadResult::Failed;
    if (r != TReadResult::Complete) return r;
  }
  // What follows the request's end is the start of the next one.
  const int32_t end = request.RequestEnd();
  if (end < request.Length()) {
    carry.assign(request.View().substr(static_cast<size_t>(end)));
    request.SetLength(end);
  }
  return TReadResult::Complete;
}

TReadResult ReadAnswer(ClientSocket& socket, vg::THTTPData& answer, bool headRequest, int32_t limit, int timeoutMs,
                       const WakeSignal* wake) {
  answer.Assign("");
  for (;;) {
    const bool complete = answer.IsCompleteResponse() || (headRequest && answer.HeaderLength() > 0);
    if (complete && answer.IsInformational()) {
      const std::string rest(answer.View().substr(static_cast<size_t>(answer.HeaderLength())));
      answer.Assign(rest);
      continue;
    }
    if (complete) return TReadResult::Complete;
    const TReadResult r = ReadMore(socket, answer, limit, timeoutMs, wake);
    if (r == TReadResult::Closed) {
      // Only an answer that announces no length may end with the stream.
      const bool unframed = answer.HeaderLength() > 0 && !answer.HasHeader("Content-Length") &&
                            !answer.HasHeader("Transfer-Encoding") && !answer.IsInformational();
      return unframed ? TReadResult::Complete : answer.IsEmpty() ? TReadResult::Closed : TReadResult::Failed;
    }
    if (r != TReadResult::Complete) return r;
  }
}

bool WriteAll(ClientSocket& socket, std::string_view bytes, int timeoutMs, const WakeSignal* wake) {
  if (bytes.empty()) return true;
  const vg::platform::IoResult r = socket.Write(bytes.data(), bytes.size(), timeoutMs, wake);
  return r.status == IoStatus::Done && r.bytes == bytes.size();
}

int ConnectTo(ClientSocket& socket, const std::string& address, int port, int timeoutMs, const WakeSignal* wake) {
  const vg::platform::Ipv4 dotted = vg::platform::ParseDottedIPv4(address);
  if (dotted != vg::platform::kNoAddress) return socket.Connect(dotted, port, timeoutMs, wake);
  socket.SetAddress("");
  socket.SetHost(address);
  socket.SetPort(port);
  return socket.Open(timeoutMs, wake);
}

}  // namespace vggate
