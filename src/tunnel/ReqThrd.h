#pragma once
// The relay thread: one browser connection for its whole life. It reads a request, routes it to
// the target (directly or through the upstream proxy, to a protected server's gateway or to a
// plain web server), relays the exchange and keeps the connection while the keep-alive rule
// holds. The protocol-specific steps are supplied by the derived client thread.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/fLogMngr.h"
#include "platform/Net.h"
#include "protection/ProtSrvr.h"
#include "sockets/SockErr.h"
#include "sockets/fEntry.h"
#include "tunnel/RelayCfg.h"
#include "tunnel/SecureHttp.h"
#include "tunnel/ServerSock.h"

namespace vg {

class TRequestThread;

// A message of the relay: its failures are noted on the owning thread, which answers them.
class TRequestData : public TSecureHTTPData {
 public:
  explicit TRequestData(TRequestThread* owner = nullptr) : owner_(owner) {}
  TRequestThread* Owner() const { return owner_; }
  void SetOwner(TRequestThread* owner) { owner_ = owner; }
  void ReportError(const std::string& text) override;
  // A session key that does not check out is answered with status 499.
  void ReportAccessError(const std::string& text) override;

 private:
  TRequestThread* owner_;
};

// How reading an answer ended. NothingReceived: the upstream connection was found closed before
// the first byte of an answer, so the request may go once more on a fresh one.
enum class TAnswerResult { Complete, NothingReceived, Failed };

// A failure of the current request, held as a value until the relay thread answers it with one
// service log line and, when page is set, one error page.
struct TRelayFailure {
  int code = 510;
  std::string text;
  bool page = true;
  // Access errors are protected for the peer identity when one is known.
  bool protect = false;
};

class TRequestThread : public TServerClientThread {
 public:
  // Time-outs of the socket primitives, in milliseconds.
  static constexpr int kSliceMs = 100;
  static constexpr int kReadMs = 1000;
  static constexpr int kWaitMs = 60000;
  static constexpr int kTunnelWaitMs = 500;
  // Answer body pieces at least this large go on to the browser without joining the answer.
  static constexpr int32_t kDirectMoveBytes = 64 * 1024;
  // The most one copy step takes from a socket: large steps keep the calls few, and the buffer
  // still stays within the processor's cache.
  static constexpr int32_t kCopyStepBytes = 1024 * 1024;

  explicit TRequestThread(platform::ClientSocket browser);
  ~TRequestThread() override;

  // Failures of the current request. Only the first one of a request counts (later ones are
  // its consequences); it ends the exchange, and the relay thread then answers it: an error page
  // with status 510, an error page with the given status (protected for the peer identity when
  // one is known), or only the service log entry.
  void TunnelError(const std::string& message);
  void AccessError(int code, const std::string& message);
  void LogOnlyError(const std::string& message);
  const std::optional<TRelayFailure>& Failure() const { return failure_; }

  // How long the relay waits for a peer's next bytes (60 000 ms); tests shorten it.
  static int WaitMs();
  static void SetWaitMs(int ms);

  std::string CurrentHost() const { return originHost_.empty() ? connectHost_ : originHost_; }

  // The page text for a part name and an error message (both escaped for HTML).
  static std::string ErrorPageText(const std::string& partName, const std::string& message);
  // The whole error answer: status line for the request's version, headers, page.
  static std::string ErrorAnswerText(uint32_t requestVersion, int code, const std::string& page);

 protected:
  void ClientExecute() override;

  // The overridable steps, in the order the derived class supplies them.
  virtual std::string FormatErrorText(const std::string& message);
  virtual std::string PartName() = 0;
  virtual void Setup();
  virtual void Cleanup();
  virtual bool HasRequest();
  virtual std::unique_ptr<TProtectedServer> LookupServer(const THttpEntry& entry) = 0;
  virtual bool ProtectRequest() = 0;
  virtual bool UnprotectAnswer() = 0;
  virtual bool CheckCommand() = 0;
  virtual void ProcessRequest() = 0;
  virtual bool CheckClient();
  // The settings for the next request, read under the settings lock.
  virtual TRelaySettings ReadSettings() = 0;
  // Moves the settings' own record of the current protected server to its other location.
  virtual void SwitchConfiguredLocation(const THttpEntry& target) = 0;

  // Socket primitives. "Active": not stopped, the browser connected and, while an upstream
  // connection is in use, that one connected too.
  bool IsActive() const;
  // Terminated, failed, or the connection is to end after this exchange.
  bool Stopped() const { return Terminated() || ending_ || failure_.has_value(); }
  // Ends the connection after the current exchange without a page (the failure is already
  // answered, or there is nobody to tell).
  void EndConnection() { ending_ = true; }
  // Bytes pending after waiting up to ms for readability; a socket readable with nothing pending
  // has been closed by its peer and is closed here.
  int32_t ProbeSocket(platform::ClientSocket& socket, int ms);
  // ProbeSocket in 100 ms slices for ms in all, ending early on data or when no longer active.
  int32_t WaitData(platform::ClientSocket& socket, int ms);
  // One read or write of count bytes within ms (60 000 for 0); the bytes transferred.
  int32_t ReadSocket(platform::ClientSocket& socket, char* buffer, int ms, int32_t count);
  // A failed write is reported unless report is false.
  int32_t WriteSocket(platform::ClientSocket& socket, const char* buffer, int ms, int32_t count, bool report = true);
  // Appends what is pending (available, or what a 60 s wait finds) to the message.
  bool ReadMore(platform::ClientSocket& socket, THTTPData& message, int32_t available, bool clear);
  // Writes the message from byte from (0: all of it); a failure is reported when reporting is set.
  bool SendMessage(platform::ClientSocket& socket, int32_t from, bool reporting, const THTTPData& message);
  bool SendHeaderBlock(platform::ClientSocket& socket, const THTTPData& message, bool reporting);
  bool SendBytes(platform::ClientSocket& socket, const char* data, int32_t count, bool reporting);

  // Reads the browser's next request.
  bool ReadRequest();
  // Routing: reuses or opens the upstream connection for the request's target.
  bool RouteAndConnect();
  enum class TConnectResult {
    Connected,
    Failed,  // recorded as the request's failure
    // A protected server's other location is now the active one; the caller may try it.
    MovedToOtherLocation,
  };
  TConnectResult ConnectUpstream(int startLocation);
  // Target form, host, "Vg-Oh" and, for protected servers, the cache headers. The browser's
  // request also fixes the request kind the answer is read for.
  bool PrepareRequest(THTTPData& message);
  // Reads a whole answer (protected exchanges), bounded by "Max HTTP data length".
  TAnswerResult ReadAnswer(TRequestData& answer);
  // Reads the answer and hands it to the browser as it arrives (plain exchanges).
  TAnswerResult StreamAnswer();
  // One attempt of a plain exchange; true when the exchange is done.
  bool PlainExchange(int attempt);
  // One attempt of a protected exchange; true when the exchange is done. The base class has
  // none and reports so.
  virtual bool ProtectedExchange(int attempt);
  // Traffic log record for a protected server, as "Log flags" ask.
  void LogTraffic(int direction, uint32_t mask, const THTTPData& message);
  // The answer goes to the browser unchanged (error reporting as given).
  bool PassAnswer(const THTTPData& message, bool reporting);

  bool UpstreamInUse() const { return upstreamInUse_; }
  // The upstream connection has carried a whole exchange before: when it turns out closed
  // before an answer, the server ended an idle kept connection, and the request may go again.
  bool UpstreamKept() const { return upstreamKept_; }
  // Notes the failure of an upstream connection that gave no answer at all (closed or silent
  // within the wait); false when it was a kept connection found closed, which may be retried.
  bool NoAnswer(bool kept);
  bool ViaProxy() const { return viaProxy_; }
  bool RequestOversized() const { return requestOversized_; }
  const TRelaySettings& Current() const { return settings_; }
  platform::ClientSocket& Browser() { return ClientSocket(); }
  platform::ClientSocket& Upstream() { return *upstream_; }
  TRequestData& Request() { return *request_; }
  TRequestData& Answer() { return *answer_; }
  TProtectedServer* Server() const { return server_.get(); }
  TLogManager& Log() { return *log_; }
  const std::string& ConnectHost() const { return connectHost_; }
  const std::string& OriginHost() const { return originHost_; }

  // Whether access error pages are protected for the peer identity: they are where the peer
  // reads them; a browser cannot.
  virtual bool ProtectsAccessErrors() const { return true; }

  // Fields of the protected exchange (kept here so that routing can reset them).
  std::string peerIdentity_;
  TKeyRecord sentKeyRecord_{};
  int32_t peerVersion_ = 0;

 private:
  bool KeepConnection(uint32_t requestVersion);
  bool IsCompleteAnswer(const THTTPData& answer) const;
  bool ForwardInformational(THTTPData& answer, bool& failed);
  bool SendRequestBody();
  // A request whose framing could hide another request is answered with 400 and the connection
  // ends; true when the request was refused so.
  bool RefuseBadFraming();
  // Keeps the bytes behind the end of the request for the next request.
  void SetAsideFollowingBytes();
  bool PassThrough();
  enum class MoveOutcome { NotApplicable, Moved, Done, Failed };
  // Moves the next pending part of a plain answer's body of known length straight to the browser.
  MoveOutcome MoveBody(int32_t pending);
  // Reads at most count bytes (and one copy step) from a socket and writes them all to the
  // other: the bytes moved, 0 with ended set when the source has closed, or -1 on a failure,
  // which has been reported.
  int32_t CopyStep(platform::ClientSocket& from, platform::ClientSocket& to, int32_t count, bool& ended);
  void Shuttle();
  bool ShuttleOnce(platform::ClientSocket& from, platform::ClientSocket& to, bool& ended);
  bool LocalForBypass(const std::string& host);
  bool LoopGuard(const THttpEntry& entry);
  void Fail(TRelayFailure failure);
  // Answers the noted failure: the service log line and the page; the thread then ends.
  void DeliverFailure();
  // The upstream connection is still open but nothing came within the wait: the answer's
  // time-out, which ends the exchange (the request is not sent again).
  bool AnswerTimedOut();
  bool upstreamKept_ = false;
  void DropUpstream();

  bool upstreamInUse_ = false;
  std::string connectHost_;
  std::optional<TRelayFailure> failure_;
  bool ending_ = false;
  // Bytes that followed the last request in the same read: the start of the next one.
  std::string following_;
  int requestKind_ = 0;
  std::unique_ptr<platform::ClientSocket> upstream_;
  std::unique_ptr<TRequestData> request_;
  std::unique_ptr<TRequestData> answer_;
  std::unique_ptr<TProtectedServer> server_;
  std::string originHost_;
  std::unique_ptr<TLogManager> log_;

  TRelaySettings settings_;
  // The routing target as parsed, kept for the settings' record switch.
  THttpEntry target_;
  bool viaProxy_ = false;
  // The request's body goes on arriving after the part that was buffered.
  bool requestOversized_ = false;
  // Bytes of the current answer reached the browser: a later error can no longer be a page.
  bool answerStarted_ = false;
  std::vector<char> tunnelBuffer_;
  // Body bytes on their way through; kept so that its storage is reused.
  std::string streamPart_;
};

}  // namespace vg
