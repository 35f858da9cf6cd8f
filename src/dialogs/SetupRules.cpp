#include "dialogs/SetupRules.h"

#include <algorithm>
#include <charconv>

#include "platform/Net.h"
#include "sockets/fEntry.h"

namespace vg {
namespace {

constexpr uint32_t kOutBit = 0x1;
constexpr uint32_t kInBit = 0x2;
constexpr uint32_t kErrBit = 0x4;
constexpr int kOutShift = 8;
constexpr int kInShift = 16;

TLogMode ModeOfByte(uint32_t byte) {
  if (byte & 0x1) return TLogMode::All;
  if (byte & 0x2) return TLogMode::OnlyBad;
  return TLogMode::None;
}

uint32_t ByteOfMode(TLogMode mode) {
  switch (mode) {
    case TLogMode::All: return 3;
    case TLogMode::OnlyBad: return 2;
    case TLogMode::None: break;
  }
  return 0;
}

// The proxy is on this machine: a loopback address or one of the machine's own.
bool IsLocalAddress(uint32_t address) { return (address & 0xFF) == 127 || IsOwnAddress(address); }

}  // namespace

int32_t NumberOrMinusOne(const std::string& text) {
  int32_t value = -1;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (begin == end || ec != std::errc() || ptr != end) return -1;
  return value;
}

bool IsValidPort(int32_t port) { return port >= 1 && port <= 65535; }

THostResolver SystemHostResolver() {
  return [](const std::string& name) -> std::optional<uint32_t> {
    std::vector<platform::Ipv4> addresses;
    if (name.empty() || platform::ResolveIPv4(name, addresses) != 0 || addresses.empty()) return std::nullopt;
    return addresses.front();
  };
}

std::optional<uint32_t> ParseTypedAddress(const std::string& text) {
  // The platform parser lets an empty part stand for 0; a typed address has four real parts.
  int parts = 0;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.empty() || !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return std::nullopt;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts != 4) return std::nullopt;
  const platform::Ipv4 address = platform::ParseDottedIPv4(text);
  if (address == platform::kNoAddress) return std::nullopt;
  return address;
}

void LogFlagsToControls(uint32_t flags, TSetupControls& controls) {
  controls.LogOutReq = flags & kOutBit;
  controls.LogInReq = flags & kInBit;
  controls.LogErrDesc = flags & kErrBit;
  controls.OutMode = ModeOfByte((flags >> kOutShift) & 0xFF);
  controls.InMode = ModeOfByte((flags >> kInShift) & 0xFF);
}

uint32_t LogFlagsFromControls(const TSetupControls& controls) {
  uint32_t flags = 0;
  if (controls.LogOutReq) flags |= kOutBit;
  if (controls.LogInReq) flags |= kInBit;
  if (controls.LogErrDesc) flags |= kErrBit;
  flags |= ByteOfMode(controls.OutMode) << kOutShift;
  flags |= ByteOfMode(controls.InMode) << kInShift;
  return flags;
}

uint32_t LogFlagsFromControls(const TSetupControls& controls, uint32_t stored) {
  uint32_t flags = LogFlagsFromControls(controls);
  constexpr uint32_t kShown = kOutBit | kInBit | kErrBit | 0xFFu << kOutShift | 0xFFu << kInShift;
  flags |= stored & ~kShown;
  for (const int shift : {kOutShift, kInShift}) {
    const uint32_t byte = (stored >> shift) & 0xFF;
    if (ModeOfByte(byte) == ModeOfByte((flags >> shift) & 0xFF)) flags = (flags & ~(0xFFu << shift)) | byte << shift;
  }
  return flags;
}

TSetupEnabling SetupEnabling(const TSetupControls& controls, bool hostSelected) {
  TSetupEnabling e;
  e.Proxy = controls.ProxyEnabled;
  e.OutPage = controls.LogOutReq;
  e.InPage = controls.LogInReq;
  e.Hosts = controls.AccessItem == TQSClientConfig::kAccessListed;
  e.DeleteHost = e.Hosts && hostSelected;
  return e;
}

THostAddResult AddHostLine(const std::string& text, std::vector<std::string>& hosts, const THostResolver& resolve) {
  THostAddResult result;
  std::optional<uint32_t> address = ParseTypedAddress(text);
  if (!address && resolve) address = resolve(text);
  if (!address) {
    result.Message = Format(VGT("Неизвестный адрес \"%s\""), {text});
    return result;
  }
  const std::string line = platform::DottedText(*address);
  const auto found = std::find(hosts.begin(), hosts.end(), line);
  if (found != hosts.end()) {
    result.Kind = THostAddResult::Duplicate;
    result.Line = static_cast<int>(found - hosts.begin());
    result.Message = VGT("IP-адрес уже внесен в список");
    return result;
  }
  hosts.push_back(line);
  result.Kind = THostAddResult::Added;
  result.Line = static_cast<int>(hosts.size()) - 1;
  return result;
}

TSetupRules::TSetupRules(THostResolver resolve) : resolve_(std::move(resolve)) {}

TSetupRules::~TSetupRules() = default;

void TSetupRules::SetSettings(TQSConfig& live) {
  TConfigLock liveLock(live);
  if (!copy_) {
    std::unique_ptr<TConfig> clone = live.Clone();
    copy_.reset(static_cast<TQSConfig*>(clone.release()));
    return;
  }
  TConfigLock lock(*copy_);
  copy_->Assign(live);
}

void TSetupRules::LoadControls(TSetupControls& c) {
  TQSConfig& copy = Copy();
  TConfigLock lock(copy);
  c.SelfPort = std::to_string(copy.SelfTcpPort());
  c.ProxyEnabled = copy.ProxyEnabled();
  c.BypassForLocal = copy.BypassProxyForLocal();
  c.ProxyHost = copy.ProxyHost();
  c.ProxyPort = std::to_string(copy.ProxyPort());
  c.ProxyORPC = copy.ProxyORPC();
  c.MaxHttpDataLength = copy.MaxHttpDataLength();
  c.LogDirectory = copy.LogDirectory();
  c.LogDays = std::to_string(copy.LogInterval());
  LogFlagsToControls(copy.LogFlags(), c);
  c.Trace = copy.ErrorTraceMode();
}

void TSetupRules::SaveControls(const TSetupControls& c) {
  TQSConfig& copy = Copy();
  TConfigLock lock(copy);
  const int32_t selfPort = NumberOrMinusOne(c.SelfPort);
  copy.SetSelfTcpPort(selfPort);
  if (!IsValidPort(selfPort)) throw ESaveSettingsException(VGT("Неправильный номер порта"), "SelfPortEdit");
  copy.SetProxyEnabled(c.ProxyEnabled);
  copy.SetBypassProxyForLocal(c.BypassForLocal);
  if (c.ProxyEnabled) {
    copy.SetProxyHost(c.ProxyHost);
    const int32_t proxyPort = NumberOrMinusOne(c.ProxyPort);
    copy.SetProxyPort(proxyPort);
    if (!IsValidPort(proxyPort)) throw ESaveSettingsException(VGT("Неправильный порт proxy"), "ProxyPortEdit");
    // A proxy on this machine listening on the tunnel's own port would be the tunnel itself.
    std::optional<uint32_t> address = ParseTypedAddress(c.ProxyHost);
    if (!address && resolve_) address = resolve_(c.ProxyHost);
    if (address && IsLocalAddress(*address) && proxyPort == selfPort)
      throw ESaveSettingsException(
          VGT("При локальном адресе прокси не должны совпадать номера портов (своего и прокси)"), "ProxyPortEdit");
  }
  copy.SetMaxHttpDataLength(c.MaxHttpDataLength);
  copy.SetProxyORPC(c.ProxyORPC);
  copy.SetLogDirectory(c.LogDirectory);
  const int32_t days = NumberOrMinusOne(c.LogDays);
  copy.SetLogInterval(days);
  if (days < 1) throw ESaveSettingsException(VGT("Неправильный интервал для журнала"), "LogDaysEdit");
  copy.SetLogFlags(LogFlagsFromControls(c, copy.LogFlags()));
  copy.SetErrorTraceMode(c.Trace);
}

std::vector<TServerRow> TSetupRules::ServerRows() {
  std::vector<TServerRow> rows;
  TQSConfig& copy = Copy();
  TConfigLock lock(copy);
  for (int i = 0; i < copy.ServerCount(); ++i) {
    const TProtectedServer* server = copy.GetServer(i);
    const std::string name = server->AddressCount() > 0 ? server->Address(0).AsText() : std::string();
    // Records whose name begins with "." are kept out of the user's hands.
    if (!name.empty() && name.front() == '.') continue;
    rows.push_back({name, server->CryptoParams().EngineType()});
  }
  if (rows.empty()) rows.emplace_back();
  return rows;
}

bool TSetupRules::DeleteServer(const TServerRow& row) {
  if (row.Name.empty()) return false;
  TQSConfig& copy = Copy();
  TConfigLock lock(copy);
  TProtectedServer* server = copy.FindServerByAddress(row.Name, row.Engine);
  if (!server) return false;
  copy.DeleteServer(server);
  return true;
}

void TClientSetupRules::LoadControls(TSetupControls& c) {
  TSetupRules::LoadControls(c);
  TQSClientConfig& copy = ClientCopy();
  TConfigLock lock(copy);
  const uint8_t type = copy.ClientAccessType();
  c.AccessItem = type <= TQSClientConfig::kAccessListed ? type : TQSClientConfig::kAccessLocal;
  c.Hosts.clear();
  for (const uint32_t address : copy.AllowedHosts()) c.Hosts.push_back(platform::DottedText(address));
}

void TClientSetupRules::SaveControls(const TSetupControls& c) {
  TSetupRules::SaveControls(c);
  TQSClientConfig& copy = ClientCopy();
  TConfigLock lock(copy);
  int item = c.AccessItem;
  if (item == TQSClientConfig::kAccessListed && c.Hosts.empty()) item = TQSClientConfig::kAccessLocal;
  copy.SetClientAccessType(static_cast<uint8_t>(item));
  std::vector<uint32_t> hosts;
  for (const std::string& line : c.Hosts) {
    const platform::Ipv4 address = platform::ParseDottedIPv4(line);
    if (address != platform::kNoAddress && std::find(hosts.begin(), hosts.end(), address) == hosts.end())
      hosts.push_back(address);
  }
  copy.SetAllowedHosts(std::move(hosts));
}

}  // namespace vg
