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
};

}  // namespace vg
