#include "Gateway.h"

#include <cstdio>
#include <thread>

#include "protection/TextRoutines.h"

namespace vggate {
namespace {

using vg::THTTPData;
using vg::TKeyRecord;

// How many recent use counters of a key are remembered for refusing replays.
constexpr size_t kCounterWindow = 1024;

const char* const kPlainClientText =
    "This is a QS-Veilgate protecting gateway. It answers only requests that the QS-Veilgate tunnel "
    "has protected for it; a browser reaches the web servers behind it by using the tunnel as its "
    "HTTP proxy.";

std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

void DeleteEvery(THTTPData& message, std::string_view name) {
  while (message.HasHeader(name)) message.DeleteHeader(name);
}

bool HasFramedBody(int status) { return !((status >= 100 && status < 200) || status == 204 || status == 304); }

}  // namespace

std::string ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 407: return "Proxy Authentication Required";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 511: return "Network Authentication Required";
    case 591: return "Session Key Unknown";
    default: return "Status";
  }
}

std::string HtmlAnswer(int status, const std::string& title, const std::string& text, bool close) {
  const std::string page = "<html>\r\n<head><title>" + Escaped(title) + "</title></head>\r\n<body>\r\n<h1>" +
                           Escaped(title) + "</h1>\r\n<p>" + Escaped(text) + "</p>\r\n</body>\r\n</html>\r\n";
  return "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) +
         "\r\nContent-Type: text/html; charset=windows-1251\r\nContent-Length: " + std::to_string(page.size()) +
         "\r\nConnection: " + (close ? "close" : "keep-alive") + "\r\n\r\n" + page;
}

std::string KeyId(const TKeyRecord& key) {
  char text[32];
  std::snprintf(text, sizeof text, "%08x#%u", key[0], key[7]);
  return text;
}

// ---- TKeyStore ----------------------------------------------------------------------------------

TKeyStore::TKeyStore(std::chrono::seconds idle, const vg::platform::Clock& clock)
    : idle_(idle), clock_(clock), random_(std::random_device{}()) {
  nextId_ = Random() | 1;
}

uint32_t TKeyStore::Random() { return static_cast<uint32_t>(random_()); }

void TKeyStore::DropExpired(std::chrono::steady_clock::time_point now) {
  for (auto it = keys_.begin(); it != keys_.end();)
    it = now - it->second.lastUse > idle_ ? keys_.erase(it) : std::next(it);
}

TKeyRecord TKeyStore::Issue(const TKeyRecord& clientRecord, bool renewValues) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = clock_.Monotonic();
  DropExpired(now);
  uint32_t id = nextId_++;
  while (id == 0 || keys_.count(id)) id = nextId_++;
  const vg::platform::LocalTime local = clock_.Local();
  TIssued issued;
  TKeyRecord& r = issued.record;
  r[0] = id;
  r[1] = Random();
  r[2] = Random();
  r[3] = static_cast<uint32_t>(vg::platform::DayNumber(local.year, local.month, local.day));
  r[4] = vg::TimeOfDayUnits(local);
  const bool echo = !renewValues && (clientRecord[5] != 0 || clientRecord[6] != 0);
  r[5] = echo ? clientRecord[5] : Random() | 1;
  r[6] = echo ? clientRecord[6] : Random() | 1;
  r[7] = 0;
  issued.lastUse = now;
  keys_[id] = issued;
  return r;
}

TKeyStore::TCheck TKeyStore::Use(const TKeyRecord& record, int renewAfter) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = clock_.Monotonic();
  const auto it = keys_.find(record[0]);
  if (it == keys_.end()) return TCheck::Unknown;
  TIssued& key = it->second;
  for (size_t w = 0; w < 7; ++w)
    if (key.record[w] != record[w]) return TCheck::Unknown;
  if (now - key.lastUse > idle_) {
    keys_.erase(it);
    return TCheck::Expired;
  }
  if (renewAfter > 0 && key.requests >= renewAfter) {
    keys_.erase(it);
    return TCheck::Renew;
  }
  const uint32_t counter = record[7];
  if (counter == 0 || key.counters.count(counter) ||
      (key.counters.size() >= kCounterWindow && counter < *key.counters.begin()))
    return TCheck::Replayed;
  key.counters.insert(counter);
  if (key.counters.size() > kCounterWindow) key.counters.erase(key.counters.begin());
  ++key.requests;
  key.lastUse = now;
  return TCheck::Current;
}

size_t TKeyStore::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return keys_.size();
}

// ---- TGateway -----------------------------------------------------------------------------------

TGateway::TGateway(TGateConfig config, vg::TCryptoParams params, TForwarder forwarder,
                   const vg::platform::Clock& clock)
    : config_(std::move(config)),
      params_(),
      forwarder_(std::move(forwarder)),
      version_(vg::ParseVersion(config_.protocol)),
      agent_("QS-Veilgate/" + config_.protocol),
      keys_(std::chrono::seconds(config_.keyIdleSeconds), clock),
      refusalsLeft_(config_.faults.refuse591) {
  params_.Assign(params);
}

bool TGateway::TakeRefusal() {
  int left = refusalsLeft_.load();
  for (;;) {
    if (left == TFaults::kEveryRequest) return true;
    if (left <= 0) return false;
    if (refusalsLeft_.compare_exchange_weak(left, left - 1)) return true;
  }
}

// ---- TGateSession -------------------------------------------------------------------------------

TGateSession::TGateSession(TGateway& gateway) : gateway_(gateway) {
  ready_ = request_.UseCryptoParams(gateway.Params()) && answer_.UseCryptoParams(gateway.Params());
  for (TGateMessage* m : {&request_, &answer_}) {
    m->SetMaxDataLength(gateway.Config().maxDataLength);
    m->SetAgent(gateway.Agent());
    m->SetCompressMode(static_cast<uint8_t>(gateway.Config().compress));
  }
}

void TGateSession::PlainPage(TExchangeResult& result, int status, const std::string& text) {
  result.status = status;
  result.answer = HtmlAnswer(status, "QS-Veilgate gateway: " + std::to_string(status) + " " + ReasonPhrase(status),
                             text, closeRequested_);
}

bool TGateSession::ProtectAnswer(TExchangeResult& result, const TKeyRecord& key, const std::string& peer) {
  const int status = answer_.StatusCode();
  answer_.firstError.clear();
  TKeyRecord used = key;
  if (gateway_.Config().faults.wrongKeyAnswers) used[2] ^= 1;
  if (!vg::ProtectAnswerWithKey(answer_, used, gateway_.Version(), peer)) {
    PlainPage(result, 500, "The answer could not be protected: " + answer_.firstError);
    return false;
  }
  result.status = status;
  result.answer = answer_.AsString();
  if (gateway_.Config().faults.corruptAnswers && vg::HasBodyBytes(answer_)) {
    const size_t body = static_cast<size_t>(answer_.HeaderLength());
    result.answer[body + (result.answer.size() - body) / 2] ^= 0x01;
  }
  return true;
}

void TGateSession::ProtectedPage(TExchangeResult& result, const TKeyRecord& key, const std::string& peer, int status,
                                 const std::string& text) {
  answer_.Assign(HtmlAnswer(status, "QS-Veilgate gateway: " + std::to_string(status) + " " + ReasonPhrase(status),
                            text, closeRequested_));
  ProtectAnswer(result, key, peer);
}

TExchangeResult TGateSession::Handle(std::string_view requestBytes) {
  TExchangeResult result;
  const TFaults& faults = gateway_.Config().faults;
  if (faults.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(faults.delayMs));
  if (faults.hangUp) {
    result.close = true;
    return result;
  }
  request_.Assign(requestBytes);
  request_.firstError.clear();
  result.host = request_.HasHeader("Vg-Oh") ? request_.GetHeader("Vg-Oh") : request_.GetHost();
  closeRequested_ = request_.IsConnectionClose() || (request_.HttpVersion() < 65537 && !request_.IsKeepAlive());
  if (!ready_)
    PlainPage(result, 500, "The gateway's crypto engine \"" + gateway_.Params().EngineType() + "\" is not available.");
  else if (request_.RequestKind() == THTTPData::rkKeyRequest)
    KeyExchange(result);
  else if (request_.HasHeader("Vg-Pe") || request_.HasHeader("Vg-Krd"))
    ProtectedExchange(result);
  else
    PlainPage(result, 403, kPlainClientText);
  ++answers_;
  if (closeRequested_ || (faults.closeAfter > 0 && answers_ >= faults.closeAfter)) result.close = true;
  return result;
}

void TGateSession::KeyExchange(TExchangeResult& result) {
  const TGateConfig& config = gateway_.Config();
  if (config.faults.keyStatus != 0) {
    PlainPage(result, config.faults.keyStatus,
              "Key requests are answered with this status on purpose (fault KeyStatus).");
    if (config.faults.keyStatus >= 300 && config.faults.keyStatus < 400) {
      THTTPData page;
      page.Assign(result.answer);
      page.SetHeader("Location", "/");
      result.answer = page.AsString();
    }
    return;
  }
  TKeyRecord clientRecord{};
  std::string peer;
  if (!vg::AcceptKeyRequest(request_, clientRecord, peer)) {
    PlainPage(result, 400, "The key request could not be checked: " + request_.firstError);
    return;
  }
  const TKeyRecord issued = gateway_.Keys().Issue(clientRecord, config.renewKeyValues);
  answer_.Assign(std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: ") +
                 (closeRequested_ ? "close" : "keep-alive") + "\r\n\r\n");
  answer_.firstError.clear();
  if (!vg::ProtectKeyAnswer(answer_, issued, peer)) {
    PlainPage(result, 500, "The key answer could not be protected: " + answer_.firstError);
    return;
  }
  result.status = 200;
  result.keyId = KeyId(issued);
  result.answer = answer_.AsString();
}

void TGateSession::ProtectedExchange(TExchangeResult& result) {
  const TGateConfig& config = gateway_.Config();
  TKeyRecord key{};
  std::string peer;
  if (!vg::UnprotectRequestWithKey(request_, gateway_.Version(), key, peer)) {
    PlainPage(result, 400, "The protected request could not be unprotected: " + request_.firstError);
    return;
  }
  result.keyId = KeyId(key);
  // Refused before the key is looked at, so that the key itself stays good.
  if (gateway_.TakeRefusal())
    return PlainPage(result, 591, "Protected requests are refused with 591 on purpose (fault Refuse591).");
  switch (gateway_.Keys().Use(key, config.faults.rekey591)) {
    case TKeyStore::TCheck::Current: break;
    case TKeyStore::TCheck::Unknown:
      return PlainPage(result, 591, "The session key is not one this gateway has issued; agree a new one.");
    case TKeyStore::TCheck::Expired:
      return PlainPage(result, 591, "The session key has expired; agree a new one.");
    case TKeyStore::TCheck::Replayed:
      return PlainPage(result, 591, "The session key's use counter has been seen before; agree a new key.");
    case TKeyStore::TCheck::Renew:
      return PlainPage(result, 591, "The session key has served its requests (fault Rekey591); agree a new one.");
  }
  if (config.faults.plainAnswers) return PlainPage(result, 200, "An unprotected answer (fault PlainAnswers).");
  // The plain request goes to the web server as it stands: one whose end readers could find in
  // different places, or with bytes behind its end, would carry a second request along.
  if (request_.RequestFramingFault() != vg::TFramingFault::None ||
      (request_.RequestKind() != THTTPData::rkConnect && request_.FramedRequestEnd() != request_.Length()))
    return ProtectedPage(result, key, peer, 400,
                         "The request's length is ambiguous or more bytes follow it; it was not passed on.");

  const TBackend* backend = config.FindBackend(result.host);
  if (backend == nullptr)
    return ProtectedPage(result, key, peer, 502, "No web server is configured for the host \"" + result.host + "\".");

  // The plain request as the browser made it; the connection to the web server is kept for later exchanges.
  if (request_.HasHeader("Vg-Oh")) {
    const std::string origin = request_.GetHeader("Vg-Oh");
    DeleteEvery(request_, "Vg-Oh");
    request_.SetHost(origin);
  }
  request_.SetTargetForm(true);
  for (std::string_view name : {"Proxy-Connection", "Keep-Alive", "Connection"}) DeleteEvery(request_, name);
  request_.SetHeader("Connection", "keep-alive");
  const bool head = request_.RequestKind() == THTTPData::rkHead;

  std::string error;
  answer_.Assign("");
  if (!gateway_.Forward(*backend, request_, answer_, error))
    return ProtectedPage(result, key, peer, 502,
                         "The web server at " + backend->address + ":" + std::to_string(backend->port) +
                             " did not answer: " + error);
  const int status = answer_.StatusCode();
  for (std::string_view name : {"Proxy-Connection", "Keep-Alive", "Connection"}) DeleteEvery(answer_, name);
  if (!head && HasFramedBody(status) && !answer_.HasHeader("Content-Length") &&
      !answer_.HasHeader("Transfer-Encoding"))
    answer_.SetHeaderInt("Content-Length", answer_.Length() - answer_.HeaderLength());
  answer_.SetHeader("Connection", closeRequested_ ? "close" : "keep-alive");
  if (status == 401 || status == 407) {
    // Meant for the browser, which answers it itself.
    result.status = status;
    result.answer = answer_.AsString();
    return;
  }
  ProtectAnswer(result, key, peer);
}

}  // namespace vggate
