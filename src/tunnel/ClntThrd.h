#pragma once
// The relay thread of the client part: access control, the tunnel command, the lookup of
// protected servers and one request/answer exchange with up to two attempts.
#include <memory>
#include <string>

#include "tunnel/ReqThrd.h"

namespace vg {

class TClientRequestThread : public TRequestThread {
 public:
  explicit TClientRequestThread(platform::ClientSocket browser);

 protected:
  std::string PartName() override;
  void Setup() override;
  void Cleanup() override;
  std::unique_ptr<TProtectedServer> LookupServer(const THttpEntry& entry) override;
  bool ProtectRequest() override;
  bool UnprotectAnswer() override;
  bool CheckCommand() override;
  void ProcessRequest() override;
  bool CheckClient() override;
  TRelaySettings ReadSettings() override;
  void SwitchConfiguredLocation(const THttpEntry& target) override;
  bool ProtectedExchange(int attempt) override;
  bool ProtectsAccessErrors() const override { return false; }

  // The session-key steps.
  bool AgreeKey(bool forced);
  bool BuildKeyRequest(TRequestData& message);
  bool AcceptKey();
  bool NeedNewKey(bool forced);
  // Hands the answer, which carries no signature, to the browser defused (see ClntThrd.cpp).
  bool PassUnsignedAnswer(bool reporting);

 private:
  // The browser's request as it was before protection, so that a retry under a new key
  // protects it exactly once.
  std::unique_ptr<TRequestData> plainRequest_;
  bool reconnected_ = false;
};

}  // namespace vg
