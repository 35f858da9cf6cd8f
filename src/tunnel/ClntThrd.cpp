#include "tunnel/ClntThrd.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/SysUtils.h"
#include "platform/TextCase.h"
#include "platform/TypeName.h"
#include "protection/ConKey.h"
#include "protection/fcrypt.h"
#include "settings/Cfg_Clnt.h"

namespace vg {

TClientRequestThread::TClientRequestThread(platform::ClientSocket browser)
    : TRequestThread(std::move(browser)) {}

std::string TClientRequestThread::PartName() { return "client part"; }

void TClientRequestThread::Setup() { TRequestThread::Setup(); }

void TClientRequestThread::Cleanup() { TRequestThread::Cleanup(); }

TRelaySettings TClientRequestThread::ReadSettings() {
  TQSClientConfig& config = Settings();
  TConfigLock lock(config);
  TRelaySettings s;
  s.logFlags = config.LogFlags();
  s.errorTraceMode = config.ErrorTraceMode();
  s.selfPort = config.SelfTcpPort();
  s.proxyEnable = config.ProxyEnabled();
  s.bypassLocal = config.BypassProxyForLocal();
  s.proxyHost = config.ProxyHost();
  s.proxyPort = config.ProxyPort();
  s.maxDataLength = config.MaxHttpDataLength();
  s.proxyOrpc = config.ProxyORPC();
  s.accessType = config.ClientAccessType();
  s.allowedHosts = config.AllowedHosts();
  return s;
}

std::unique_ptr<TProtectedServer> TClientRequestThread::LookupServer(const THttpEntry& entry) {
  TQSClientConfig& config = Settings();
  TConfigLock lock(config);
  const TProtectedServer* found = config.FindServer(entry);
  if (!found) return nullptr;
  auto copy = std::make_unique<TProtectedServer>();
  copy->Assign(*found);
  return copy;
}

void TClientRequestThread::SwitchConfiguredLocation(const THttpEntry& target) {
  TQSClientConfig& config = Settings();
  TConfigLock lock(config);
  if (TProtectedServer* configured = config.FindServer(target)) configured->SwitchLocation();
}

bool ClientAdmitted(uint8_t accessType, uint32_t remote, uint32_t local, const std::vector<uint32_t>& allowed) {
  switch (accessType) {
    case 0: return true;
    case 2: return std::find(allowed.begin(), allowed.end(), remote) != allowed.end();
    default: return remote == local || IsOwnAddress(remote);
  }
}

std::string TClientRequestThread::RefusalText(uint32_t remote) {
  return Format(VGT("Адресу %d.%d.%d.%d в доступе отказано"),
                {remote & 0xFF, (remote >> 8) & 0xFF, (remote >> 16) & 0xFF, remote >> 24});
}

std::string TClientRequestThread::RefusalAtAccept(const platform::ClientSocket& accepted) {
  uint8_t accessType = 0;
  {
    TQSClientConfig& config = Settings();
    TConfigLock lock(config);
    accessType = config.ClientAccessType();
  }
  if (accessType == 0 || accessType == 2) return {};
  const uint32_t remote = accepted.PeerAddress();
  if (ClientAdmitted(accessType, remote, accepted.LocalAddress(), {})) return {};
  return RefusalText(remote);
}

namespace {
// A refused client gets its page after the header block of its request, read within a short
// time in all and into a small buffer; beyond a few at once they get no page at all. Refused
// clients must not tie up the threads, descriptors and memory the admitted ones need.
constexpr int kRefusedReadMs = 3000;
constexpr size_t kRefusedReadBytes = 16 * 1024;
constexpr int kRefusedAtOnce = 32;
std::atomic<int> refusedNow{0};
}  // namespace

bool TClientRequestThread::CheckClient() {
  if (!TRequestThread::CheckClient()) return false;
  const uint32_t remote = Browser().PeerAddress();
  if (ClientAdmitted(Current().accessType, remote, Browser().LocalAddress(), Current().allowedHosts)) return true;
  const std::string text = RefusalText(remote);
  if (Current().LogsWith(logflags::kService) && !Log().WriteService(text))
    TLogManager::ShowLogError(text);
  if (refusedNow.fetch_add(1) >= kRefusedAtOnce) {
    refusedNow.fetch_sub(1);
    Terminate();
    return false;
  }
  // The browser takes an answer only after it has sent its request.
  std::string head;
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRefusedReadMs);
  while (head.size() < kRefusedReadBytes && head.find("\r\n\r\n") == std::string::npos && !Terminated()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    const platform::IoResult r = Browser().Read(buffer, std::min(sizeof buffer, kRefusedReadBytes - head.size()),
                                                static_cast<int>(left.count()), &WakeUp());
    head.append(buffer, r.bytes);
    if (r.status != platform::IoStatus::Done) break;
  }
  refusedNow.fetch_sub(1);
  Request().Assign(head);
  TunnelError(VGT("Доступ запрещен"));
  return false;
}

bool TClientRequestThread::CheckCommand() {
  TRequestData& request = Request();
  if (!request.HasHeader("vg-act")) return true;
  const std::string value = request.GetHeader("vg-act");
  const std::string command = value.substr(0, value.find('='));
  if (!platform::SameTextCp1251(command, "cc")) return true;
  THttpEntry entry;
  entry.Parse(request.GetHost());
  std::unique_ptr<TProtectedServer> server = LookupServer(entry);
  if (!server) return false;
  TCryptoEngine engine;
  engine.SetParams(server->CryptoParams());
  if (engine.EngineType() != server->CryptoParams().EngineType()) return false;
  engine.ClearCache();
  return true;
}

void TClientRequestThread::ProcessRequest() {
  Answer().SetLength(0);
  plainRequest_.reset();
  reconnected_ = false;
  if (Stopped() || !RouteAndConnect() || !PrepareRequest(Request())) return;
  if (Server() && RequestOversized()) {
    TunnelError(VGT("Передаваемый документ превышает максимально допустимый размер"));
    return;
  }
  for (int attempt = 1; attempt <= 2 && IsActive(); ++attempt) {
    if (!ProtectRequest()) return;
    LogTraffic(TLogManager::kRequest, logflags::kRequest, Request());
    const bool done = Server() ? ProtectedExchange(attempt) : PlainExchange(attempt);
    if (done) return;
  }
}

namespace {
const std::string& SessionFailure() { return VGT("Ошибка при установлении сессии"); }
const std::string& ExceptionWord() { return VGT("Исключительная ситуация"); }
std::string MessageOf(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
  return e.what();
}
std::string ExceptionText(const std::string& first, const std::exception& e) {
  return Format(VGT("%s (%s: %s)"), {first, platform::ClassNameOf(e), MessageOf(e)});
}
bool AsksForNewKey(int status) { return status == 401 || status == 407 || status == 591; }

// An answer without a signature may come from anyone between the tunnel and the gateway, yet the
// browser takes it as the protected site's own. It keeps what the gateway's login flow needs
// (status, authentication challenge, redirect target, the page itself) and loses what could act
// for that site: a redirect keeps only its Location; a page is served sandboxed (no script, an
// origin of its own, forms still sent) and sets no cookie.
std::string UnsignedAnswerText(const THTTPData& answer) {
  const std::string_view all = answer.View();
  const auto header = static_cast<size_t>(answer.HeaderLength());
  const size_t firstLineEnd = all.find("\r\n");
  if (header == 0 || firstLineEnd == std::string_view::npos) return std::string(all);
  const bool redirect = answer.StatusCode() / 100 == 3;
  const bool chunked = !redirect && answer.HasHeader("Transfer-Encoding");
  static const std::string_view kKept[] = {
      "WWW-Authenticate", "Proxy-Authenticate", "Content-Type",     "Content-Language", "Date",
      "Retry-After",      "Connection",         "Transfer-Encoding"};
  std::string text(all.substr(0, firstLineEnd + 2));
  for (size_t pos = firstLineEnd + 2; pos + 2 < header;) {
    const size_t end = all.find("\r\n", pos);
    const std::string_view line = all.substr(pos, end - pos);
    pos = end + 2;
    const std::string_view name = line.substr(0, std::min(line.find(':'), line.size()));
    bool keep = platform::SameTextCp1251(name, "Location") || platform::SameTextCp1251(name, "Connection");
    if (!redirect)
      for (const std::string_view kept : kKept) keep = keep || platform::SameTextCp1251(name, kept);
    if (keep) text.append(line).append("\r\n");
  }
  const std::string_view body = redirect ? std::string_view() : all.substr(header);
  if (!redirect) {
    text += "Content-Security-Policy: sandbox allow-forms\r\n";
    text += "X-Content-Type-Options: nosniff\r\n";
  }
  text += "Cache-Control: no-store\r\n";
  if (!chunked) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  text += "\r\n";
  text.append(body);
  return text;
}
}  // namespace

bool TClientRequestThread::PassUnsignedAnswer(bool reporting) {
  TRequestData& answer = Answer();
  answer.Assign(UnsignedAnswerText(answer));
  // A gateway often closes after such an answer: what came still goes to the browser.
  if (Terminated() || !Browser().Connected()) return false;
  return WriteSocket(Browser(), answer.Data(), kWaitMs, answer.Length(), reporting) == answer.Length();
}

bool TClientRequestThread::ProtectedExchange(int attempt) {
  TRequestData& request = Request();
  TRequestData& answer = Answer();
  if (Current().CloseEveryConnection()) request.SetConnectionClose();
  // A kept connection that the gateway has closed meanwhile fails silently the first time.
  const bool kept = UpstreamKept() && attempt == 1 && !reconnected_;
  if (SendMessage(Upstream(), 0, !kept, request)) {
    switch (ReadAnswer(answer)) {
      case TAnswerResult::Complete: {
        const int status = answer.StatusCode();
        if (status == 401 || status == 407) {
          // Authentication is the browser's business.
          PassUnsignedAnswer(true);
          return true;
        }
        if (attempt == 1 && NeedNewKey(false)) return false;
        if (Stopped()) return true;
        LogTraffic(TLogManager::kAnswer, logflags::kAnswer, answer);
        if (UnprotectAnswer()) {
          if (Current().CloseEveryConnection()) answer.SetConnectionClose();
          if (!SendMessage(Browser(), 0, true, answer)) EndConnection();
        } else {
          EndConnection();
        }
        return true;
      }
      case TAnswerResult::Failed: EndConnection(); return true;
      case TAnswerResult::NothingReceived:
        break;
    }
  }
  if (Stopped() || !Browser().Connected()) return true;
  if (!NoAnswer(kept)) return true;
  if (ConnectUpstream(0) != TConnectResult::Connected) return true;
  reconnected_ = true;
  return false;
}

bool TClientRequestThread::ProtectRequest() {
  TProtectedServer* server = Server();
  if (!server) return true;
  TConnectionKeyList& keys = ConnectionKeys();
  const THttpEntry& location = server->VeilgateLocation();
  TKeyRecord key{};
  int32_t version = 0;
  if (!keys.Fetch(location, version, key)) {
    if (!AgreeKey(true)) return false;
    if (!keys.Fetch(location, version, key)) {
      TunnelError(SessionFailure());
      return false;
    }
  }
  TRequestData& request = Request();
  // The request is protected from its plain form every time, also for a retry.
  if (!plainRequest_) {
    plainRequest_ = std::make_unique<TRequestData>();
    plainRequest_->Assign(request);
  } else {
    request.Assign(*plainRequest_);
  }
  peerVersion_ = version;
  if (ProtectRequestWithKey(request, key, static_cast<uint32_t>(version))) {
    sentKeyRecord_ = key;
    return true;
  }
  sentKeyRecord_ = {};
  return false;
}

bool TClientRequestThread::UnprotectAnswer() {
  if (!Server()) return true;
  TRequestData& answer = Answer();
  if (Current().errorTraceMode && !answer.HasHeader("Vg-Pe")) {
    // An unprotected answer, a plain error page of the gateway for instance: shown, defused.
    PassUnsignedAnswer(false);
    LogOnlyError(VGT("Получен незащищенный ответ"));
    return false;
  }
  // An error page replaces the answer; the bad answer is kept for the traffic log first.
  const bool logBad = Current().LogsWith(logflags::kBadAnswer);
  TRequestData received;
  if (logBad) received.Assign(answer);
  std::string peer = peerIdentity_;
  const bool head = plainRequest_ && plainRequest_->RequestKind() == THTTPData::rkHead;
  if (UnprotectAnswerWithKey(answer, sentKeyRecord_, static_cast<uint32_t>(peerVersion_), peer) && !Stopped() &&
      FitFramingToBody(answer, head) && !Stopped()) {
    if (peerIdentity_.empty()) peerIdentity_ = peer;
    return true;
  }
  if (logBad) LogTraffic(TLogManager::kAnswer, logflags::kBadAnswer, received);
  return false;
}

bool TClientRequestThread::NeedNewKey(bool forced) {
  TProtectedServer* server = Server();
  if (!server) return false;
  const bool asked = AsksForNewKey(Answer().StatusCode());
  if (!asked && !forced) return false;
  ConnectionKeys().Remove(server->VeilgateLocation());
  if (ConnectUpstream(0) != TConnectResult::Connected) return false;
  reconnected_ = true;
  return AgreeKey(asked) && ProtectRequest();
}

bool TClientRequestThread::AgreeKey(bool forced) {
  TProtectedServer* server = Server();
  if (!server) return false;
  try {
    TRequestData keyRequest(this);
    keyRequest.SetCompressMode(server->CompressMode());
    keyRequest.UseCryptoParams(server->CryptoParams());
    keyRequest.SetMaxDataLength(Current().maxDataLength);
    if (!BuildKeyRequest(keyRequest)) {
      TunnelError(SessionFailure());
      return false;
    }
    if (!SendMessage(Upstream(), 0, true, keyRequest)) {
      TunnelError(SessionFailure());
      return false;
    }
    TRequestData& answer = Answer();
    if (ReadAnswer(answer) != TAnswerResult::Complete) {
      TunnelError(SessionFailure());
      return false;
    }
    const int status = answer.StatusCode();
    if (status == 302 || status == 401 || status == 407) {
      if (forced)
        PassUnsignedAnswer(true);
      else
        TunnelError(SessionFailure());
      return false;
    }
    if ((Current().errorTraceMode || status == 511) && !answer.HasNoBody() && !answer.HasHeader("Vg-Pe")) {
      // The gateway's own page explains the refusal better than ours.
      PassUnsignedAnswer(true);
      LogOnlyError(SessionFailure());
      return false;
    }
    if (!AcceptKey()) {
      TunnelError(SessionFailure());
      return false;
    }
    // The gateway was told to close the connection.
    if (Current().CloseEveryConnection() && ConnectUpstream(0) != TConnectResult::Connected) return false;
    return true;
  } catch (const std::exception& e) {
    TunnelError(ExceptionText(ExceptionWord(), e));
    return false;
  }
}

bool TClientRequestThread::BuildKeyRequest(TRequestData& message) {
  TProtectedServer* server = Server();
  try {
    TKeyRecord record{};
    ConnectionKeys().MakeRequestRecord(record);
    if (server->KeyValueA() == 0 || server->KeyValueB() == 0) Settings().LoadServerKeyState(*server);
    record[5] = static_cast<uint32_t>(server->KeyValueA());
    record[6] = static_cast<uint32_t>(server->KeyValueB());
    const std::string host = OriginHost().empty() ? Request().GetHost() : OriginHost();
    // Reports its own failure to protect the record.
    if (!vg::BuildKeyRequest(plainRequest_ ? *plainRequest_ : Request(), host, record, message)) return false;
    return PrepareRequest(message);
  } catch (const std::exception& e) {
    TunnelError(ExceptionText(SessionFailure(), e));
    return false;
  }
}

bool TClientRequestThread::AcceptKey() {
  TProtectedServer* server = Server();
  try {
    TKeyRecord record{};
    uint32_t version = 0;
    std::string peer;
    if (!AcceptKeyAnswer(Answer(), record, version, peer)) return false;
    peerIdentity_ = peer;
    peerVersion_ = static_cast<int32_t>(version);
    ConnectionKeys().Add(server->VeilgateLocation(), record, static_cast<int32_t>(version));
    const auto a = static_cast<int32_t>(record[5]);
    const auto b = static_cast<int32_t>(record[6]);
    if (a != server->KeyValueA() || b != server->KeyValueB()) {
      server->SetKeyValueA(a);
      server->SetKeyValueB(b);
      Settings().StoreServerKeyState(*server);
    }
    return true;
  } catch (const std::exception& e) {
    TunnelError(ExceptionText(ExceptionWord(), e));
    return false;
  }
}

}  // namespace vg
