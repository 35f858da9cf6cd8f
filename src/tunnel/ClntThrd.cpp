#include "tunnel/ClntThrd.h"

#include <algorithm>
#include <mutex>

#include "platform/SysUtils.h"
#include "platform/TextCase.h"
#include "protection/fcrypt.h"
#include "tunnel/ProtSeam.h"

namespace vg {

namespace {

std::mutex& SourceMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<TClientSettingsSource>& SourceSlot() {
  static std::shared_ptr<TClientSettingsSource> source =
      std::make_shared<TFixedSettingsSource>(TRelaySettings{});
  return source;
}

}  // namespace

TRelaySettings TFixedSettingsSource::Read() { return settings_; }

std::unique_ptr<TProtectedServer> TFixedSettingsSource::FindServer(const THttpEntry&) { return nullptr; }

void TFixedSettingsSource::SwitchLocation(const THttpEntry&) {}

void SetClientSettingsSource(std::shared_ptr<TClientSettingsSource> source) {
  std::lock_guard<std::mutex> lock(SourceMutex());
  SourceSlot() = std::move(source);
}

std::shared_ptr<TClientSettingsSource> ClientSettingsSource() {
  std::lock_guard<std::mutex> lock(SourceMutex());
  return SourceSlot();
}

TClientRequestThread::TClientRequestThread(platform::ClientSocket browser)
    : TRequestThread(std::move(browser)), source_(ClientSettingsSource()) {}

std::string TClientRequestThread::PartName() { return "client part"; }

void TClientRequestThread::Setup() { TRequestThread::Setup(); }

void TClientRequestThread::Cleanup() { TRequestThread::Cleanup(); }

TRelaySettings TClientRequestThread::ReadSettings() { return source_->Read(); }

std::unique_ptr<TProtectedServer> TClientRequestThread::LookupServer(const THttpEntry& entry) {
  return source_->FindServer(entry);
}

void TClientRequestThread::SwitchConfiguredLocation(const THttpEntry& target) { source_->SwitchLocation(target); }

bool TClientRequestThread::CheckClient() {
  if (!TRequestThread::CheckClient()) return false;
  const uint32_t remote = Browser().PeerAddress();
  bool admitted;
  switch (Settings().accessType) {
    case 0:
      admitted = true;
      break;
    case 2: {
      const auto& hosts = Settings().allowedHosts;
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
  if (logflag::Has(Settings().logFlags, logflag::kService) && !Log().WriteService(text))
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
#if VG_HAVE_PROTECTED_SERVERS
  TCryptoEngine engine;
  engine.SetParams(server->CryptoParams());
  if (engine.EngineType() != server->CryptoParams().EngineType()) return false;
  engine.ClearCache();
  return true;
#else
  return false;
#endif
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
    LogTraffic(TLogManager::kRequest, logflag::kRequests, Request());
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
