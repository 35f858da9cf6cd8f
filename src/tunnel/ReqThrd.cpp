#include "tunnel/ReqThrd.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

#include "platform/SysUtils.h"
#include "platform/TypeName.h"
#include "sockets/SockErr.h"
#include "tunnel/fThrList.h"

namespace vg {

namespace {

const char kProduct[] = "QS-Veilgate";

std::string MessageOf(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
  return e.what();
}

// Texts shown inside the page come from requests (host names, targets); they must stay text.
// Both stand in element content, where only these three characters can start markup.
std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

const std::string& TooLargeText() { return VGT("Передаваемый документ превышает максимально допустимый размер"); }

std::atomic<int> waitMs{TRequestThread::kWaitMs};

// A body follows the header block only when one of the framing headers announces it.
bool DeclaresBody(const THTTPData& message) {
  return message.GetHeaderInt("Content-Length") > 0 || message.HasHeader("Transfer-Encoding");
}

}  // namespace

void TRequestData::ReportError(const std::string& text) {
  if (owner_) owner_->TunnelError(text);
}

void TRequestData::ReportAccessError(const std::string& text) {
  if (owner_) owner_->AccessError(499, text);
}

TRequestThread::TRequestThread(platform::ClientSocket browser) : TServerClientThread(std::move(browser)) {}

int TRequestThread::WaitMs() { return waitMs.load(std::memory_order_relaxed); }

void TRequestThread::SetWaitMs(int ms) { waitMs.store(ms > 0 ? ms : kWaitMs, std::memory_order_relaxed); }

TRequestThread::~TRequestThread() = default;

std::string TRequestThread::FormatErrorText(const std::string& message) { return message; }

void TRequestThread::Setup() {
  failure_.reset();
  ending_ = false;
  following_.clear();
  upstreamInUse_ = false;
  server_.reset();
  connectHost_.clear();
  originHost_.clear();
  log_ = std::make_unique<TLogManager>();
  request_ = std::make_unique<TRequestData>(this);
  answer_ = std::make_unique<TRequestData>(this);
  upstream_ = std::make_unique<platform::ClientSocket>();
  settings_ = ReadSettings();
}

void TRequestThread::Cleanup() {
  server_.reset();
  // Closing with unread bytes would reset the connection and could destroy the last answer on
  // its way to the browser: end the sending side first and drop what is pending.
  platform::ClientSocket& browser = Browser();
  if (browser.Connected()) {
    browser.ShutdownSend();
    char sink[4096];
    size_t dropped = 0;
    for (size_t pending = browser.Pending(); pending > 0 && dropped < (1u << 20); pending = browser.Pending()) {
      const size_t n = browser.Read(sink, std::min(pending, sizeof sink), 0).bytes;
      if (n == 0) break;
      dropped += n;
    }
  }
  browser.Close();
  upstream_.reset();
  request_.reset();
  answer_.reset();
  log_.reset();
}

bool TRequestThread::HasRequest() { return request_ && !request_->IsEmpty() && !Stopped(); }

bool TRequestThread::CheckClient() { return Browser().Connected(); }

void TRequestThread::ClientExecute() {
  // Socket failures of this thread raise the exception that carries the system's code.
  const TSocketErrorProcScope errorProc(WideSocketErrorProc);
  try {
    Setup();
    try {
      if (CheckClient()) {
        while (IsActive()) {
          if (!ReadRequest()) break;
          const uint32_t version = request_->HttpVersion();
          if (!CheckCommand()) {
            TunnelError("Invalid internal command");
            break;
          }
          ProcessRequest();
          if (Stopped() || !KeepConnection(version)) break;
        }
      }
    } catch (const std::exception& e) {
      TunnelError(Format(VGT("%s (%s: %s)"), {VGT("Исключительная ситуация"), platform::ClassNameOf(e), MessageOf(e)}));
    }
    DeliverFailure();
    Cleanup();
  } catch (const std::exception& e) {
    const std::string text = MessageOf(e);
    try {
      if (Browser().Connected()) Browser().Write(text.data(), text.size(), kWaitMs, &WakeUp());
      TLogManager fallback;
      if (!(log_ ? *log_ : fallback).WriteService(text)) TLogManager::ShowLogError(text);
    } catch (...) {
    }
  }
}

bool TRequestThread::KeepConnection(uint32_t requestVersion) {
  const TRequestData& answer = *answer_;
  bool keep;
  if (requestVersion >= 65537 && answer.HttpVersion() > 65536)
    keep = !request_->IsConnectionClose() && !answer.IsConnectionClose();
  else
    keep = answer.IsKeepAlive();
  return keep && upstream_->Connected() && !settings_.CloseEveryConnection();
}

bool TRequestThread::IsActive() const {
  if (Stopped() || !ClientSocket().Connected()) return false;
  return !upstreamInUse_ || upstream_->Connected();
}

int32_t TRequestThread::ProbeSocket(platform::ClientSocket& socket, int ms) {
  if (!socket.Connected()) return 0;
  // The wait returns at once when bytes are already there, so it comes first: asking for the
  // count before it would cost a call each time the thread has to wait, which is the usual case.
  const platform::Readiness r = platform::WaitReadable(socket, ms, &WakeUp());
  if (!r.first) return 0;
  const size_t pending = socket.Pending();
  if (pending == 0) {
    socket.Close();
    return 0;
  }
  return static_cast<int32_t>(std::min<size_t>(pending, INT32_MAX));
}

int32_t TRequestThread::WaitData(platform::ClientSocket& socket, int ms) {
  int32_t n = 0;
  for (int slice = 0; slice < ms / kSliceMs; ++slice) {
    n = ProbeSocket(socket, kSliceMs);
    if (n > 0 || !IsActive()) break;
  }
  return n;
}

int32_t TRequestThread::ReadSocket(platform::ClientSocket& socket, char* buffer, int ms, int32_t count) {
  if (count <= 0) return 0;
  const platform::IoResult r = socket.Read(buffer, static_cast<size_t>(count), ms > 0 ? ms : kWaitMs, &WakeUp());
  switch (r.status) {
    case platform::IoStatus::Done:
      return static_cast<int32_t>(r.bytes);
    case platform::IoStatus::Closed:
      socket.Close();
      return 0;
    case platform::IoStatus::Failed:
      TunnelError(VGT("Ошибка при получении HTTP-данных ") + EWideSocketError::ForOperation("Read", r.error).Message());
      return 0;
    default:
      return 0;
  }
}

int32_t TRequestThread::WriteSocket(platform::ClientSocket& socket, const char* buffer, int ms, int32_t count,
                                    bool report) {
  if (count <= 0) return 0;
  const platform::IoResult r = socket.Write(buffer, static_cast<size_t>(count), ms > 0 ? ms : kWaitMs, &WakeUp());
  const bool toBrowser = &socket == &Browser();
  if (toBrowser && r.bytes > 0) answerStarted_ = true;
  if (r.status == platform::IoStatus::Failed && report) {
    const std::string text =
        VGT("Ошибка при передаче HTTP-данных ") + EWideSocketError::ForOperation("Write", r.error).Message();
    if (toBrowser)
      LogOnlyError(text);
    else
      TunnelError(text);
  }
  return static_cast<int32_t>(r.bytes);
}

bool TRequestThread::ReadMore(platform::ClientSocket& socket, THTTPData& message, int32_t available, bool clear) {
  if (!IsActive()) return false;
  int32_t n = available > 0 ? available : WaitData(socket, WaitMs());
  if (n <= 0) return false;
  // More pending than a message may hold is read in parts of the limit, so that nothing that
  // arrived is dropped and no single read grows the buffer beyond the limit.
  n = std::min(n, std::max<int32_t>(settings_.maxDataLength, 1));
  if (clear) message.SetLength(0);
  const int32_t old = message.Length();
  if (n > INT32_MAX - old) return false;
  if (!message.SetLength(old + n)) return false;
  const int32_t got = ReadSocket(socket, message.WritableFrom(old), kReadMs, n);
  message.SetLength(old + got);
  return got > 0;
}

bool TRequestThread::SendBytes(platform::ClientSocket& socket, const char* data, int32_t count, bool reporting) {
  return IsActive() && (count <= 0 || WriteSocket(socket, data, kWaitMs, count, reporting) == count);
}

bool TRequestThread::SendMessage(platform::ClientSocket& socket, int32_t from, bool reporting,
                                 const THTTPData& message) {
  from = std::clamp<int32_t>(from, 0, message.Length());
  return SendBytes(socket, message.Data() + from, message.Length() - from, reporting);
}

bool TRequestThread::SendHeaderBlock(platform::ClientSocket& socket, const THTTPData& message, bool reporting) {
  const int32_t length = message.HeaderLength();
  return length > 0 && SendBytes(socket, message.Data(), length, reporting);
}

bool TRequestThread::ReadRequest() {
  TRequestData& request = *request_;
  // A request that came in the same read as the last one is already here, in part or whole.
  request.Assign(following_);
  following_.clear();
  requestOversized_ = false;
  answerStarted_ = false;
  settings_ = ReadSettings();
  const int32_t limit = settings_.maxDataLength;
  request.SetMaxDataLength(limit);
  answer_->SetMaxDataLength(limit);
  const auto complete = [&request] {
    // A tunnel request ends with its header block; what follows belongs to the tunnel.
    return request.IsCompleteRequest() ||
           (request.HeaderLength() > 0 && request.RequestKind() == THTTPData::rkConnect);
  };
  // Bytes that came behind the last request go through the same checks as a read.
  bool kept = !request.IsEmpty();
  while (IsActive() && (kept || !complete())) {
    if (!kept && !ReadMore(Browser(), request, 0, false)) break;
    kept = false;
    request.NormalizeHeaderLineEnds();
    // Empty lines in front of a request (a late line end after a POST body) are no part of it.
    int32_t blank = 0;
    while (request.Length() >= blank + 2 && request.Data()[blank] == '\r' && request.Data()[blank + 1] == '\n') blank += 2;
    if (blank > 0) request.Assign(request.View().substr(static_cast<size_t>(blank)));
    // The header block is bounded however its bytes arrive, also when the read that ends it is large.
    if (request.HeaderLength() > limit) {
      TunnelError(TooLargeText());
      return false;
    }
    if (RefuseBadFraming()) return false;
    if (complete()) break;
    if (request.HeaderLength() == 0) {
      // A header block that never ends must not grow without bound.
      if (request.Length() >= limit) {
        TunnelError(TooLargeText());
        return false;
      }
    } else if (request.Length() > limit) {
      // A body for a plain server goes on in parts; anything else cannot exceed the limit.
      if (!DeclaresBody(request)) {
        TunnelError(TooLargeText());
        return false;
      }
      requestOversized_ = true;
      break;
    }
  }
  // Without a whole header block there is no request to route, only the remains of one.
  if (request.HeaderLength() == 0) return false;
  // Only the tunnel sets "Vg-Oh", on what it sends on: a page that sets it itself must not get
  // its request signed for and routed to a protected server.
  for (int32_t n = request.HeaderLength(); n > 0 && request.HasHeader("Vg-Oh"); --n) request.DeleteHeader("Vg-Oh");
  if (!requestOversized_) SetAsideFollowingBytes();
  return HasRequest();
}

void TRequestThread::SetAsideFollowingBytes() {
  // What the browser sent behind the end of the request starts its next one; passed on with this
  // request it would reach the server inside it. A tunnel's data is no request.
  TRequestData& request = *request_;
  if (request.RequestKind() == THTTPData::rkConnect) return;
  const int32_t end = request.RequestEnd();
  if (end == THTTPData::npos || end >= request.Length()) return;
  following_.assign(request.View().substr(static_cast<size_t>(end)));
  request.SetLength(end);
}

void TRequestThread::DropUpstream() {
  upstream_->Close();
  upstreamInUse_ = false;
  server_.reset();
  peerIdentity_.clear();
  peerVersion_ = 0;
  sentKeyRecord_ = {};
}

bool TRequestThread::LoopGuard(const THttpEntry& entry) {
  return entry.Port() == settings_.selfPort && IsOwnAddress(ResolveHost(entry.Host()));
}

bool TRequestThread::LocalForBypass(const std::string& host) {
  const uint32_t address = ResolveHost(host);
  if (address == platform::kNoAddress) return false;
  // This machine's loopback addresses are as local as its network; a proxy cannot reach them.
  return (address & 0xFF) == 127 || IsLocalNetwork(address);
}

bool TRequestThread::RouteAndConnect() {
  TRequestData& request = *request_;
  const std::string host = request.GetHost();
  if (upstreamInUse_ && upstream_->Connected() && CurrentHost() == host) return true;

  DropUpstream();
  // The target is what the browser asked for; "Vg-Oh" never routes (ReadRequest drops it).
  const std::string& target = host;
  if (target.empty()) {
    TunnelError(VGT("Не задан адрес назначения"));
    return false;
  }
  target_ = THttpEntry();
  target_.Parse(target);
  server_ = LookupServer(target_);
  int start = 0;
  if (server_) {
    for (TRequestData* message : {request_.get(), answer_.get()}) {
      message->SetCompressMode(server_->CompressMode());
      message->UseCryptoParams(server_->CryptoParams());
    }
    start = server_->ActiveLocation();
  }

  while (!upstreamInUse_) {
    THttpEntry entry;
    if (server_) {
      entry.Assign(server_->CurrentLocation());
      connectHost_ = entry.AsText();
      originHost_ = server_->AddressCount() > 0 ? server_->Address(0).AsText() : std::string();
      if (originHost_ == connectHost_) originHost_.clear();
    } else {
      entry.Assign(target_);
      connectHost_ = entry.AsText();
      originHost_.clear();
    }
    log_->SetFirstLabel("&");
    log_->SetSecondLabel(CurrentHost());

    if (LoopGuard(entry)) {
      TunnelError(VGT("К указанному порту подключиться нельзя"));
      return false;
    }
    viaProxy_ = false;
    if (settings_.proxyEnable && (!settings_.bypassLocal || !LocalForBypass(entry.Host()))) {
      THttpEntry proxy;
      proxy.SetHostOnly(settings_.proxyHost);
      proxy.SetPort(settings_.proxyPort);
      entry.Assign(proxy);
      viaProxy_ = true;
      if (LoopGuard(entry)) {
        TunnelError(VGT("К указанному порту подключиться нельзя"));
        return false;
      }
    }
    entry.ApplyTo(*upstream_);
    if (entry.Host().empty() || entry.Port() == 0 || connectHost_.empty()) {
      TunnelError(VGT("Не задан адрес назначения"));
      return false;
    }
    switch (ConnectUpstream(start)) {
      case TConnectResult::Connected: upstreamInUse_ = true; break;
      case TConnectResult::Failed: upstreamInUse_ = true; return false;
      case TConnectResult::MovedToOtherLocation:
        if (server_->ActiveLocation() == start) return false;
        break;
    }
  }
  if (server_ && server_->ActiveLocation() != start) SwitchConfiguredLocation(target_);
  return true;
}

TRequestThread::TConnectResult TRequestThread::ConnectUpstream(int startLocation) {
  upstream_->Close();
  const auto began = std::chrono::steady_clock::now();
  for (;;) {
    try {
      CheckSocket(upstream_->Open(kWaitMs, &WakeUp()));
      upstreamKept_ = false;
      return TConnectResult::Connected;
    } catch (const EWideSocketError& e) {
      // No buffer space is a passing shortage of the system's: wait for it, up to about a minute.
      if (e.Code() == platform::neterr::kNoBuffers && !Terminated() &&
          std::chrono::steady_clock::now() - began < std::chrono::seconds(60)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      if (server_ && server_->SwitchLocation() && server_->ActiveLocation() != startLocation)
        return TConnectResult::MovedToOtherLocation;
      TunnelError(Format(VGT("%s (%s: %s) (%d: %s)"),
                         {VGT("Ошибка при подключении к ") + "\"" + connectHost_ + "\"", platform::ClassNameOf(e),
                          e.Message(), e.Code(), ErrorText(e.Code())}));
      return TConnectResult::Failed;
    } catch (const std::exception& e) {
      TunnelError(VGT("Ошибка при подключении к ") + "\"" + connectHost_ + "\" (" + MessageOf(e) + ")");
      return TConnectResult::Failed;
    }
  }
}

bool TRequestThread::PrepareRequest(THTTPData& message) {
  const int kind = message.RequestKind();
  if (&message == request_.get()) requestKind_ = kind;
  if (kind != THTTPData::rkConnect) message.SetTargetForm(!viaProxy_);
  if (message.GetHost() != connectHost_) message.SetHost(connectHost_);
  if (!originHost_.empty())
    message.SetHeader("Vg-Oh", originHost_);
  else
    message.DeleteHeader("Vg-Oh");
  if (server_) {
    message.SetHeader("Cache-Control", "no-cache");
    message.SetHeader("Pragma", "no-cache");
  }
  return !Stopped();
}

bool TRequestThread::IsCompleteAnswer(const THTTPData& answer) const {
  if (answer.IsCompleteResponse()) return true;
  if (answer.HeaderLength() == 0 || answer.IsInformational()) return false;
  if (requestKind_ == THTTPData::rkHead && answer.HasNoBody()) return true;
  // A tunnel's answer ends with its header block; what follows is the tunnel's data.
  return requestKind_ == THTTPData::rkConnect && answer.StatusCode() / 100 == 2;
}

bool TRequestThread::ForwardInformational(THTTPData& answer, bool& failed) {
  bool forwarded = false;
  while (answer.HeaderLength() > 0 && answer.IsInformational() && answer.StatusCode() != 101) {
    // An interim answer and the final one may arrive in one read: only the interim part goes now.
    const int32_t length = answer.HeaderLength();
    if (!SendBytes(Browser(), answer.Data(), length, true)) {
      failed = true;
      return forwarded;
    }
    const std::string rest(answer.View().substr(static_cast<size_t>(length)));
    answer.Assign(rest);
    forwarded = true;
  }
  return forwarded;
}

TAnswerResult TRequestThread::ReadAnswer(TRequestData& answer) {
  bool received = false;
  int32_t available = 0;
  bool first = true;
  for (;;) {
    if (!ReadMore(Upstream(), answer, available, first)) {
      if (Stopped() || !Browser().Connected()) return TAnswerResult::Failed;
      if (!received) return AnswerTimedOut() ? TAnswerResult::Failed : TAnswerResult::NothingReceived;
      upstreamKept_ = true;
      return TAnswerResult::Complete;
    }
    first = false;
    received = true;
    if (answer.Length() > settings_.maxDataLength) {
      TunnelError(TooLargeText());
      return TAnswerResult::Failed;
    }
    bool failed = false;
    ForwardInformational(answer, failed);
    if (failed) return TAnswerResult::Failed;
    if (answer.Length() > 0 && IsCompleteAnswer(answer)) {
      upstreamKept_ = true;
      return TAnswerResult::Complete;
    }
    available = WaitData(Upstream(), WaitMs());
    if (available <= 0) {
      if (Stopped()) return TAnswerResult::Failed;
      return TAnswerResult::Complete;
    }
  }
}

TAnswerResult TRequestThread::StreamAnswer() {
  TRequestData& answer = *answer_;
  const int32_t limit = settings_.maxDataLength;
  if (!ReadMore(Upstream(), answer, 0, true))
    return Stopped() || AnswerTimedOut() ? TAnswerResult::Failed : TAnswerResult::NothingReceived;
  bool headerSent = false;
  for (;;) {
    if (!headerSent) {
      bool failed = false;
      ForwardInformational(answer, failed);
      if (failed) return TAnswerResult::Failed;
      if (answer.HeaderLength() > 0 && answer.StatusCode() == 101) {
        // The connection changes protocol: from here on both sides' bytes are relayed as they are.
        if (!SendMessage(Browser(), 0, true, answer)) return TAnswerResult::Failed;
        Shuttle();
        return TAnswerResult::Failed;
      }
    }
    if (answer.Length() > 0 && IsCompleteAnswer(answer)) {
      upstreamKept_ = true;
      if (!headerSent) {
        if (settings_.CloseEveryConnection()) answer.SetConnectionClose();
        return SendMessage(Browser(), 0, true, answer) ? TAnswerResult::Complete : TAnswerResult::Failed;
      }
      return SendMessage(Browser(), answer.HeaderLength(), true, answer) ? TAnswerResult::Complete
                                                                          : TAnswerResult::Failed;
    }
    const int32_t headerLength = answer.HeaderLength();
    if (headerLength > 0) {
      if (!headerSent) {
        if (settings_.CloseEveryConnection()) answer.SetConnectionClose();
        if (!SendHeaderBlock(Browser(), answer, true)) return TAnswerResult::Failed;
        headerSent = true;
      }
      if (answer.TakePartialBody(streamPart_) &&
          !SendBytes(Browser(), streamPart_.data(), static_cast<int32_t>(streamPart_.size()), true))
        return TAnswerResult::Failed;
      // A single chunk longer than a message may be: relay the rest as it comes, without framing.
      if (answer.Length() - answer.HeaderLength() > limit) {
        PassThrough();
        return TAnswerResult::Failed;
      }
    } else if (answer.Length() >= limit) {
      TunnelError(TooLargeText());
      return TAnswerResult::Failed;
    }
    const int32_t n = WaitData(Upstream(), WaitMs());
    if (n <= 0) return TAnswerResult::Failed;
    if (headerSent && n >= kDirectMoveBytes) {
      const MoveOutcome moved = MoveBody(n);
      if (moved == MoveOutcome::Done) {
        upstreamKept_ = true;
        return TAnswerResult::Complete;
      }
      if (moved == MoveOutcome::Failed) return TAnswerResult::Failed;
      if (moved == MoveOutcome::Moved) continue;
    }
    if (!ReadMore(Upstream(), answer, n, false)) return TAnswerResult::Failed;
  }
}

TRequestThread::MoveOutcome TRequestThread::MoveBody(int32_t pending) {
  // Only a body of known length whose every byte so far has been handed over qualifies: the
  // rest then needs no look at its bytes, only counting.
  TRequestData& answer = *answer_;
  if (answer.Length() != answer.HeaderLength() || !answer.HasHeader("Content-Length") ||
      answer.HasHeader("Transfer-Encoding"))
    return MoveOutcome::NotApplicable;
  const int32_t remaining = answer.GetHeaderInt("Content-Length");
  if (remaining <= 0) return MoveOutcome::NotApplicable;
  if (!IsActive()) return MoveOutcome::NotApplicable;
  const int32_t count = std::min({pending, remaining, std::max<int32_t>(settings_.maxDataLength, 1)});
  bool ended = false;
  const int32_t moved = CopyStep(Upstream(), Browser(), count, ended);
  if (moved <= 0) {
    if (ended) Upstream().Close();
    return MoveOutcome::Failed;
  }
  const int32_t left = remaining - moved;
  answer.SetHeaderInt("Content-Length", left);
  return left == 0 ? MoveOutcome::Done : MoveOutcome::Moved;
}

int32_t TRequestThread::CopyStep(platform::ClientSocket& from, platform::ClientSocket& to, int32_t count,
                                 bool& ended) {
  // Copying through a buffer of the relay's own costs less here than moving pages through an
  // in-kernel pipe: measured on loopback, the pipe was the slower way for bulk data.
  count = std::min(count, kCopyStepBytes);
  if (tunnelBuffer_.size() < static_cast<size_t>(count)) tunnelBuffer_.resize(static_cast<size_t>(count));
  const int32_t got = ReadSocket(from, tunnelBuffer_.data(), kReadMs, count);
  if (got <= 0) {
    ended = !from.Connected();
    return got;
  }
  return WriteSocket(to, tunnelBuffer_.data(), kWaitMs, got) == got ? got : -1;
}

bool TRequestThread::PassThrough() {
  TRequestData& answer = *answer_;
  if (!SendMessage(Browser(), answer.HeaderLength(), true, answer)) return false;
  answer.SetLength(0);
  for (;;) {
    const int32_t n = WaitData(Upstream(), WaitMs());
    if (n <= 0 || !ReadMore(Upstream(), answer, n, true)) return true;
    if (!SendMessage(Browser(), 0, true, answer)) return false;
  }
}

bool TRequestThread::RefuseBadFraming() {
  const TFramingFault fault = request_->RequestFramingFault();
  if (fault == TFramingFault::None) return false;
  Fail({400, FramingFaultText(fault), true, false});
  return true;
}

bool TRequestThread::SendRequestBody() {
  TRequestData& request = *request_;
  // The body cannot be sent twice: a kept connection that the server has closed meanwhile is
  // replaced before anything goes out.
  ProbeSocket(Upstream(), 0);
  if (!Upstream().Connected()) {
    if (ConnectUpstream(0) != TConnectResult::Connected) return false;
  }
  bool headerSent = false;
  for (;;) {
    // The rest of a long body is checked as it comes, before any of it goes on.
    if (RefuseBadFraming()) return false;
    if (request.IsCompleteRequest()) {
      SetAsideFollowingBytes();
      return SendMessage(Upstream(), headerSent ? request.HeaderLength() : 0, true, request);
    }
    if (!headerSent) {
      if (!SendHeaderBlock(Upstream(), request, true)) return false;
      headerSent = true;
    }
    if (request.TakePartialBody(streamPart_) &&
        !SendBytes(Upstream(), streamPart_.data(), static_cast<int32_t>(streamPart_.size()), true))
      return false;
    if (request.Length() - request.HeaderLength() > settings_.maxDataLength) {
      TunnelError(TooLargeText());
      return false;
    }
    const int32_t n = WaitData(Browser(), WaitMs());
    if (n <= 0 || !ReadMore(Browser(), request, n, false)) return false;
  }
}

bool TRequestThread::PlainExchange(int attempt) {
  TRequestData& request = *request_;
  if (settings_.CloseEveryConnection()) request.SetConnectionClose();

  if (requestKind_ == THTTPData::rkConnect) {
    if (!viaProxy_) {
      answer_->Assign("HTTP/1.1 200 OK Connected\r\n\r\n");
      if (!SendMessage(Browser(), 0, true, *answer_)) {
        EndConnection();
        return true;
      }
      // Bytes a client sent right behind its request already belong to the tunnel.
      const int32_t length = request.HeaderLength();
      if (request.Length() > length && !SendMessage(Upstream(), length, true, request)) {
        EndConnection();
        return true;
      }
    } else if (!SendMessage(Upstream(), 0, true, request) || StreamAnswer() != TAnswerResult::Complete) {
      EndConnection();
      return true;
    }
    Shuttle();
    return true;
  }

  // Only a kept connection may have been closed by the server meanwhile; there the first send
  // fails silently and the request goes once more on a fresh connection.
  const bool kept = upstreamKept_ && attempt == 1;
  bool sent;
  if (requestOversized_)
    sent = SendRequestBody();
  else
    sent = SendMessage(Upstream(), 0, !kept, request);
  if (sent) {
    switch (StreamAnswer()) {
      case TAnswerResult::Complete:
        return true;
      case TAnswerResult::Failed: EndConnection(); return true;
      case TAnswerResult::NothingReceived:
        break;
    }
  }
  if (Stopped() || !Browser().Connected()) return true;
  if (requestOversized_ || !NoAnswer(kept)) return true;
  if (ConnectUpstream(0) != TConnectResult::Connected) return true;
  upstreamInUse_ = true;
  return false;
}

bool TRequestThread::AnswerTimedOut() {
  if (Stopped() || !Browser().Connected() || !Upstream().Connected()) return false;
  TunnelError(VGT("Ошибка при получении HTTP-данных ") +
              Format(VGT("(сервер \"%s\" не ответил за %d с)"), {connectHost_, WaitMs() / 1000}));
  return true;
}

bool TRequestThread::NoAnswer(bool kept) {
  if (Stopped()) return false;
  if (kept) return true;
  TunnelError(VGT("Ошибка при получении HTTP-данных ") +
              Format(VGT("(сервер \"%s\" закрыл соединение без ответа)"), {connectHost_}));
  return false;
}

bool TRequestThread::ProtectedExchange(int attempt) {
  TunnelError(VGT("Ошибка при установлении сессии"));
  return true;
}

bool TRequestThread::ShuttleOnce(platform::ClientSocket& from, platform::ClientSocket& to, bool& ended) {
  const size_t pending = from.Pending();
  if (pending == 0) {
    ended = true;
    return true;
  }
  const int32_t count =
      static_cast<int32_t>(std::min<size_t>(pending, static_cast<size_t>(std::max(settings_.maxDataLength, 1))));
  const int32_t moved = CopyStep(from, to, count, ended);
  return moved > 0 || (moved == 0 && ended);
}

void TRequestThread::Shuttle() {
  platform::ClientSocket& browser = Browser();
  platform::ClientSocket& upstream = Upstream();
  bool browserSending = true;
  const auto keepWaiting = [this] { return !Terminated(); };
  while (!Terminated() && browser.Connected() && upstream.Connected()) {
    // Both directions are watched at once, so that data flowing either way moves without delay.
    const platform::Readiness r = browserSending
                                      ? platform::WaitReadableSliced(browser, &upstream, kTunnelWaitMs, kSliceMs,
                                                                     keepWaiting, &WakeUp())
                                      : platform::WaitReadableSliced(upstream, nullptr, kTunnelWaitMs, kSliceMs,
                                                                     keepWaiting, &WakeUp());
    if (r.error) break;
    const bool browserReady = browserSending && r.first;
    const bool upstreamReady = browserSending ? r.second : r.first;
    if (browserReady) {
      bool ended = false;
      if (!ShuttleOnce(browser, upstream, ended)) break;
      if (ended) {
        // The browser has finished sending; the server's answer may still be on its way.
        browserSending = false;
        upstream.ShutdownSend();
      }
    }
    if (upstreamReady) {
      bool ended = false;
      if (!ShuttleOnce(upstream, browser, ended) || ended) break;
    }
  }
  upstream.Close();
  browser.Close();
}

void TRequestThread::LogTraffic(int direction, uint32_t mask, const THTTPData& message) {
  if (!server_ || !settings_.LogsWith(mask)) return;
  if (!log_->WriteTraffic(direction, message.Data(), message.Length())) {
    const std::string& text = VGT("Ошибка при добавлении записи в журнал");
    TunnelError(text);
    TLogManager::ShowLogError(text);
  }
}

bool TRequestThread::PassAnswer(const THTTPData& message, bool reporting) {
  return SendMessage(Browser(), 0, reporting, message);
}

std::string TRequestThread::ErrorPageText(const std::string& partName, const std::string& message) {
  const std::string p = HtmlEscape(partName);
  const std::string m = HtmlEscape(message);
  std::string page;
  page += "<html>\r\n<head>\r\n<title>";
  page += kProduct;
  page += " (" + p + ")</title>\r\n</head>\r\n";
  page += "<BODY BGCOLOR=\"#FFFFFF\">\r\n<BASEFONT SIZE=4>\r\n<center>\r\n&nbsp;<BR>\r\n";
  page += "Error from ";
  page += kProduct;
  page += " (" + p + ")\r\n</center>\r\n<center>\r\n&nbsp;<BR>\r\n";
  page += m;
  page += "\r\n</center>\r\n</body>\r\n</html>\r\n";
  return page;
}

std::string TRequestThread::ErrorAnswerText(uint32_t requestVersion, int code, const std::string& page) {
  uint32_t major = requestVersion >> 16;
  uint32_t minor = requestVersion & 0xFFFF;
  if (requestVersion == 0) {
    major = 1;
    minor = 0;
  }
  std::string text = "HTTP/" + std::to_string(major) + "." + std::to_string(minor) + " " + std::to_string(code) +
                     " Veilgate error\r\n";
  text += "Content-Type: text/html\r\n";
  text += "Content-Length: " + std::to_string(page.size()) + "\r\n";
  text += "Connection: close\r\n\r\n";
  text += page;
  return text;
}

void TRequestThread::Fail(TRelayFailure failure) {
  // The first failure is the cause; what goes wrong after it only follows from it.
  if (failure_) return;
  failure_ = std::move(failure);
}

void TRequestThread::DeliverFailure() {
  if (!failure_) return;
  const TRelayFailure& failure = *failure_;
  if (settings_.LogsWith(logflags::kService) && log_ && !log_->WriteService(failure.text))
    TLogManager::ShowLogError(failure.text);
  // Once part of an answer has reached the browser a page would corrupt it: the connection just ends.
  if (failure.page && !Terminated() && !answerStarted_ && Browser().Connected()) {
    TRequestData page;
    page.Assign(ErrorAnswerText(request_ ? request_->HttpVersion() : 0, failure.code,
                                ErrorPageText(PartName(), FormatErrorText(failure.text))));
    if (failure.protect && ProtectsAccessErrors() && !peerIdentity_.empty() && server_) {
      page.SetCompressMode(server_->CompressMode());
      page.UseCryptoParams(server_->CryptoParams());
      page.Protect(peerIdentity_);
    }
    // Written whether or not the upstream connection still stands: its loss is often the very
    // failure the page reports, and the browser would otherwise get an empty reply.
    WriteSocket(Browser(), page.Data(), kWaitMs, page.Length(), false);
  }
  Terminate();
}

void TRequestThread::TunnelError(const std::string& message) { Fail({510, message, true, false}); }

void TRequestThread::AccessError(int code, const std::string& message) { Fail({code, message, true, true}); }

void TRequestThread::LogOnlyError(const std::string& message) { Fail({0, message, false, false}); }

}  // namespace vg
