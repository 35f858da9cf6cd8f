#pragma once
// The relay thread of the client part: access control, the tunnel command, the lookup of
// protected servers and one request/answer exchange with up to two attempts.
#include <memory>
#include <string>

#include "tunnel/ReqThrd.h"

namespace vg {

// Where client threads read the settings from.
class TClientSettingsSource {
 public:
  virtual ~TClientSettingsSource() = default;
  virtual TRelaySettings Read() = 0;
  // A private copy of the configured record for the target, or null.
  virtual std::unique_ptr<TProtectedServer> FindServer(const THttpEntry& entry) = 0;
  // Moves the configured record for the target to its other location.
  virtual void SwitchLocation(const THttpEntry& entry) = 0;
};

// A fixed set of settings with no protected servers.
class TFixedSettingsSource : public TClientSettingsSource {
 public:
  explicit TFixedSettingsSource(TRelaySettings settings) : settings_(std::move(settings)) {}
  TRelaySettings Read() override;
  std::unique_ptr<TProtectedServer> FindServer(const THttpEntry& entry) override;
  void SwitchLocation(const THttpEntry& entry) override;

 private:
  TRelaySettings settings_;
};

void SetClientSettingsSource(std::shared_ptr<TClientSettingsSource> source);
std::shared_ptr<TClientSettingsSource> ClientSettingsSource();

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

 private:
  std::shared_ptr<TClientSettingsSource> source_;
};

}  // namespace vg
