#pragma once
// The reference protecting gateway's protocol side: key requests, protected requests forwarded to
// the configured web servers, protected answers, and the faults it can be asked to show.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "GateConfig.h"
#include "platform/Clock.h"
#include "protection/fcrypt.h"
#include "tunnel/SecureHttp.h"

namespace vggate {

// A message that keeps the first error it reports.
class TGateMessage : public vg::TSecureHTTPData {
 public:
  void ReportError(const std::string& text) override {
    if (firstError.empty()) firstError = text;
  }
  std::string firstError;
};

// The key records this gateway has issued. A record is known by word 0; words 0 to 6 must come
// back as issued, word 7 (the client's use counter) must be new for that key, and a key unused
// for longer than the idle time is forgotten.
class TKeyStore {
 public:
  enum class TCheck { Current, Unknown, Expired, Replayed, Renew };

  TKeyStore(std::chrono::seconds idle, const vg::platform::Clock& clock);

  // A fresh record for a client whose key request carried clientRecord. Words 5 and 6 echo the
  // client's values when it sent some and renewal is off, else they are new.
  vg::TKeyRecord Issue(const vg::TKeyRecord& clientRecord, bool renewValues);
  // Accounts one protected request under the record. renewAfter > 0: a key that already served
  // that many requests is forgotten and reported as Renew.
  TCheck Use(const vg::TKeyRecord& record, int renewAfter);
  size_t Count();

 private:
  struct TIssued {
    vg::TKeyRecord record{};
    std::chrono::steady_clock::time_point lastUse{};
    int requests = 0;
    std::set<uint32_t> counters;  // the latest counters seen, for refusing replays
  };
  uint32_t Random();
  void DropExpired(std::chrono::steady_clock::time_point now);

  std::chrono::seconds idle_;
  const vg::platform::Clock& clock_;
  std::mutex mutex_;
  std::mt19937 random_;
  uint32_t nextId_;
  std::map<uint32_t, TIssued> keys_;
};

// Sends a plain request to a web server and gives its whole answer; false with a reason.
using TForwarder = std::function<bool(const TBackend& backend, const vg::THTTPData& request, vg::THTTPData& answer,
                                      std::string& error)>;

struct TExchangeResult {
  std::string answer;  // the bytes to send back
  int status = 0;
  std::string host;
  std::string keyId = "-";
  bool close = false;  // end the connection after the answer
};

// What is shared by every connection.
class TGateway {
 public:
  TGateway(TGateConfig config, vg::TCryptoParams params, TForwarder forwarder,
           const vg::platform::Clock& clock = vg::platform::Clock::System());

  const TGateConfig& Config() const { return config_; }
  const vg::TCryptoParams& Params() const { return params_; }
  uint32_t Version() const { return version_; }
  // "QS-Veilgate/" and the announced protocol version.
  const std::string& Agent() const { return agent_; }
  TKeyStore& Keys() { return keys_; }
  bool Forward(const TBackend& backend, const vg::THTTPData& request, vg::THTTPData& answer, std::string& error) {
    return forwarder_(backend, request, answer, error);
  }
  // True when the Refuse591 fault claims this protected request; counted across connections.
  bool TakeRefusal();

 private:
  TGateConfig config_;
  vg::TCryptoParams params_;
  TForwarder forwarder_;
  uint32_t version_;
  std::string agent_;
  TKeyStore keys_;
  std::atomic<int> refusalsLeft_;
};

// One client connection: its messages with their engines, and how many answers it has had.
class TGateSession {
 public:
  explicit TGateSession(TGateway& gateway);
  // Answers one complete request.
  TExchangeResult Handle(std::string_view requestBytes);
  // The engine could not be opened with the gateway's parameters.
  bool Ready() const { return ready_; }

 private:
  void KeyExchange(TExchangeResult& result);
  void ProtectedExchange(TExchangeResult& result);
  // A plain page as the whole answer.
  void PlainPage(TExchangeResult& result, int status, const std::string& text);
  // A page protected under the request's key.
  void ProtectedPage(TExchangeResult& result, const vg::TKeyRecord& key, const std::string& peer, int status,
                     const std::string& text);
  bool ProtectAnswer(TExchangeResult& result, const vg::TKeyRecord& key, const std::string& peer);

  TGateway& gateway_;
  TGateMessage request_;
  TGateMessage answer_;
  bool ready_ = false;
  int answers_ = 0;
  bool closeRequested_ = false;
};

// The text of a status code for the status line.
std::string ReasonPhrase(int status);
// A complete HTML answer.
std::string HtmlAnswer(int status, const std::string& title, const std::string& text, bool close);
// word 0 in hex, "#" and the use counter.
std::string KeyId(const vg::TKeyRecord& key);

}  // namespace vggate
