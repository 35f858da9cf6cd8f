#include "tunnel/ClntThrd.h"

#include <algorithm>

#include "platform/SysUtils.h"
#include "platform/TextCase.h"
#include "protection/fcrypt.h"
#include "config/Cfg_Clnt.h"

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

bool TClientRequestThread::CheckClient() {
  if (!TRequestThread::CheckClient()) return false;
  const uint32_t remote = Browser().PeerAddress();
  bool admitted;
  switch (Current().accessType) {
    case 0:
      admitted = true;
      break;
    case 2: {
      const auto& hosts = Current().allowedHosts;
      admitted = std::find(hosts.begin(), hosts.end(), remote) != hosts.end();
      break;
    }
    default:
      admitted = remote == Browser().LocalAddress();
      break;
  }
  if (admitted) return true;
  const std::string text = Format(VGT("Адресу %d.%d.%d.%d в доступе отказано"),
                                  {remote & 0xFF, (remote >> 8) & 0xFF, (remote >> 16) & 0xFF, remote >> 24});
  if (Current().LogsWith(logflags::kService) && !Log().WriteService(text))
    TLogManager::ShowLogError(text);
  // The browser takes an answer only after it has sent its request.
  ReadRequest();
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
  entry.Parse(request.GetHeader("Vg-Oh"));
  if (entry.Host().empty()) entry.Parse(request.GetHost());
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
  if (Terminated() || !RouteAndConnect() || !PrepareRequest(Request())) return;
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

bool TClientRequestThread::ProtectRequest() {
  if (!Server()) return true;
  TunnelError(VGT("Ошибка при установлении сессии"));
  return false;
}

bool TClientRequestThread::UnprotectAnswer() { return !Server(); }

}  // namespace vg
