#pragma once
// The relay thread of the client part: access control, the tunnel command, the lookup of
// protected servers and one request/answer exchange with up to two attempts.
#include <memory>
#include <string>
#include <vector>

#include "tunnel/ReqThrd.h"

namespace vg {

// The access rule: type 0 admits everyone, 2 the listed addresses, 1 (and any other value)
// this computer only: the address the connection came to, and every address of this computer's
// own (loopback included).
bool ClientAdmitted(uint8_t accessType, uint32_t remote, uint32_t local, const std::vector<uint32_t>& allowed);

class TClientRequestThread : public TRequestThread {
 public:
  explicit TClientRequestThread(platform::ClientSocket browser);

  // Under access type 1 a connection from another host is refused as it is accepted, before it
  // costs a thread; the refusal's log text is returned, empty when the connection may go on.
  static std::string RefusalAtAccept(const platform::ClientSocket& accepted);
  // The service log text of a refused address.
  static std::string RefusalText(uint32_t remote);

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
