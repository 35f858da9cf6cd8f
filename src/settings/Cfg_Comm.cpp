#include "settings/Cfg_Comm.h"

#include <algorithm>
#include <typeinfo>

#include "platform/TypeName.h"

namespace vg {
namespace {

std::string MessageOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const Exception*>(&error)) return own->Message();
  return error.what();
}

}  // namespace

std::string ConfigClassName(const TConfig& config) { return platform::ClassNameOf(typeid(config)); }

TQSConfig::TQSConfig()
    : logSection_(AddSection("Log options")),
      tcpSection_(AddSection("TCP options")),
      webSection_(AddSection("Web servers")) {}

TQSConfig::~TQSConfig() = default;

void TQSConfig::AddNote(std::string section, std::string text) {
  notes_.push_back(TConfigNote{std::move(section), std::move(text)});
}

bool TQSConfig::LoadSection(int index, TConfigStorage& storage) {
  if (index == logSection_) {
    errorTraceMode_ = storage.ReadBoolDef("Error trace mode", storage.ReadBoolDef("Error trace regim", false));
    logDirectory_ = storage.ReadString("Log-file name");
    logInterval_ = storage.ReadInteger("Log interval");
    logFlags_ = static_cast<uint32_t>(storage.ReadInteger("Log flags"));
    return true;
  }
  if (index == tcpSection_) {
    maxHttpDataLength_ = storage.ReadIntegerDef("Max HTTP data length", kDefaultMaxHttpDataLength);
    proxyORPC_ = storage.ReadBoolDef("Proxy ORPC", false);
    selfTcpPort_ = storage.ReadInteger("Self TCP port");
    proxyEnabled_ = storage.ReadBool("Proxy enable");
    bypassProxyForLocal_ = storage.ReadBool("Bypass proxy for local addresses");
    proxyHost_ = storage.ReadString("Proxy host");
    proxyPort_ = storage.ReadInteger("Proxy port");
    return true;
  }
  if (index == webSection_) return LoadServers(storage);
  return true;
}

bool TQSConfig::LoadServers(TConfigStorage& storage) {
  std::vector<std::string> names;
  storage.ListSections(names);
  bool ok = true;
  for (const std::string& name : names) {
    try {
      std::unique_ptr<TConfigStorage> section = storage.OpenSection(name, true, false);
      auto server = std::make_unique<TProtectedServer>();
      if (server->LoadFromConfig(*section)) {
        servers_.push_back(std::move(server));
      } else {
        ok = false;
        for (const std::string& error : server->LastErrors()) AddNote(name, error);
      }
    } catch (const std::exception& error) {
      ok = false;
      AddNote(name, MessageOf(error));
    }
  }
  return ok;
}

bool TQSConfig::SaveSection(int index, TConfigStorage& storage) {
  if (index == logSection_) {
    storage.WriteBool("Error trace mode", errorTraceMode_);
    storage.WriteString("Log-file name", logDirectory_);
    storage.WriteInteger("Log interval", logInterval_);
    storage.WriteInteger("Log flags", static_cast<int32_t>(logFlags_));
    return true;
  }
  if (index == tcpSection_) {
    storage.WriteInteger("Max HTTP data length", maxHttpDataLength_);
    storage.WriteBool("Proxy ORPC", proxyORPC_);
    storage.WriteInteger("Self TCP port", selfTcpPort_);
    storage.WriteBool("Proxy enable", proxyEnabled_);
    storage.WriteBool("Bypass proxy for local addresses", bypassProxyForLocal_);
    storage.WriteString("Proxy host", proxyHost_);
    storage.WriteInteger("Proxy port", proxyPort_);
    return true;
  }
  if (index == webSection_) return SaveServers(storage);
  return true;
}

bool TQSConfig::SaveServers(TConfigStorage& storage) {
  bool ok = true;
  std::vector<std::string> names;
  storage.ListSections(names);
  for (const std::string& name : names) {
    try {
      storage.DeleteSection(name, true);
    } catch (const std::exception& error) {
      ok = false;
      AddNote(name, MessageOf(error));
    }
  }
  for (size_t i = 0; i < servers_.size(); ++i) {
    const std::string name = "s" + std::to_string(i + 1);
    try {
      std::unique_ptr<TConfigStorage> section = storage.OpenSection(name, false, true);
      if (!servers_[i]->SaveToConfig(*section)) ok = false;
      // Skipped parameters leave a note without failing the record.
      for (const std::string& error : servers_[i]->LastErrors()) AddNote(name, error);
    } catch (const std::exception& error) {
      ok = false;
      AddNote(name, MessageOf(error));
    }
  }
  return ok;
}

void TQSConfig::Assign(const TConfig* source) {
  if (!source) throw EConfigException(VGT("Не могу присвоить данные - отсутствует источник"));
  Assign(*source);
}

void TQSConfig::Assign(const TConfig& source) {
  const auto* from = dynamic_cast<const TQSConfig*>(&source);
  if (!from)
    throw EConfigException(
        Format(VGT("Не могу присвоить %s данные из %s"), {ConfigClassName(*this), ConfigClassName(source)}));
  if (from == this) return;
  logDirectory_ = from->logDirectory_;
  logInterval_ = from->logInterval_;
  logFlags_ = from->logFlags_;
  errorTraceMode_ = from->errorTraceMode_;
  selfTcpPort_ = from->selfTcpPort_;
  proxyEnabled_ = from->proxyEnabled_;
  bypassProxyForLocal_ = from->bypassProxyForLocal_;
  proxyHost_ = from->proxyHost_;
  proxyPort_ = from->proxyPort_;
  maxHttpDataLength_ = from->maxHttpDataLength_;
  proxyORPC_ = from->proxyORPC_;
  servers_.clear();
  for (const auto& server : from->servers_) {
    auto copy = std::make_unique<TProtectedServer>();
    copy->Assign(*server);
    servers_.push_back(std::move(copy));
  }
}

bool TQSConfig::Load() {
  ClearNotes();
  std::unique_ptr<TConfigStorage> storage = CreateStorage(true);
  return LoadFrom(*storage);
}

bool TQSConfig::Save() {
  ClearNotes();
  std::unique_ptr<TConfigStorage> storage = CreateStorage(false);
  return SaveTo(*storage);
}

TProtectedServer* TQSConfig::GetServer(int index) const {
  if (index < 0 || index >= ServerCount()) throw Exception(Format("List index out of bounds (%d)", {index}));
  return servers_[static_cast<size_t>(index)].get();
}

bool TQSConfig::AddServer(std::unique_ptr<TProtectedServer> server) {
  if (server) servers_.push_back(std::move(server));
  return true;
}

void TQSConfig::DeleteServer(TProtectedServer* server) {
  const auto it = std::find_if(servers_.begin(), servers_.end(), [&](const auto& s) { return s.get() == server; });
  if (it != servers_.end()) servers_.erase(it);
}

TProtectedServer* TQSConfig::FindServer(const THttpEntry& address, const std::string& engine) const {
  for (const auto& server : servers_) {
    if (server->IndexOfAddress(address) < 0) continue;
    if (!engine.empty() && server->CryptoParams().EngineType() != engine) continue;
    return server.get();
  }
  return nullptr;
}

TProtectedServer* TQSConfig::FindServerByAddress(const std::string& address, const std::string& engine) const {
  THttpEntry entry;
  entry.Parse(address);
  return FindServer(entry, engine);
}

}  // namespace vg
