#include "dialogs/ServerRules.h"

#include <algorithm>

#include "dialogs/SetupRules.h"
#include "platform/ProgramInfo.h"
#include "platform/SysUtils.h"

namespace vg {
namespace {

TServerSaveResult Fail(std::string message, std::string control) {
  return {false, std::move(message), std::move(control)};
}

}  // namespace

std::vector<std::string> TWebServerRules::CompressNames() {
  return {VGT("Без сжатия"), VGT("Средняя"), VGT("Максимальная")};
}

std::array<std::string, 3> TWebServerRules::DerivedDirectories(const std::string& directory) {
  const std::string base = directory.empty() ? VGT("<путь не задан>") : directory;
  const std::string sep(1, platform::kPathSeparator);
  return {base + sep + "Include", base + sep + "Withdraw", base + sep + "BAD"};
}

std::vector<std::string> TWebServerRules::EngineTypes() { return TCryptoEngineList().Names(); }

TWebServerRules::TWebServerRules(TQSConfig& copy, std::string serverName, std::string engineType)
    : copy_(copy), serverName_(std::move(serverName)), engineType_(std::move(engineType)) {}

TWebServerRules::~TWebServerRules() = default;

bool TWebServerRules::Open() {
  isNew_ = serverName_.empty();
  if (isNew_) {
    fresh_ = std::make_unique<TProtectedServer>();
    record_ = fresh_.get();
  } else {
    TConfigLock lock(copy_);
    record_ = copy_.FindServerByAddress(serverName_, engineType_);
  }
  if (!record_) return false;
  link_.LoadParams(record_->CryptoParams());
  return true;
}

void TWebServerRules::LoadControls(TServerControls& c) {
  if (!record_ || record_->AddressCount() == 0) return;
  c.Name = record_->AddressesText();
  c.RedirectAddress = record_->VeilgateLocation().Host();
  c.RedirectPort = std::to_string(record_->VeilgateLocation().Port());
  c.EngineType = link_.EngineType();
  const std::vector<std::string> names = CompressNames();
  c.Compress = names[std::min<size_t>(record_->CompressMode(), names.size() - 1)];
  c.Include = record_->Include();
  c.Withdraw = record_->Withdraw();
  c.CertDirectory = record_->ScanRootPath();
  c.ClearBuffer = false;
  c.Params.clear();
  for (int i = 0; i < link_.ParamCount(); ++i) {
    std::string name;
    link_.ParamName(i, name);
    c.Params.emplace_back(name, link_.ParamValue(i));
  }
}

std::vector<TParamRow> TWebServerRules::ParamRows() const {
  std::vector<TParamRow> rows;
  for (int i = 0; i < link_.ParamCount(); ++i) {
    TParamRow row;
    link_.ParamName(i, row.Name);
    row.Value = link_.ParamValue(i);
    row.Mark = row.Value != link_.DefaultValue(i) ? "*" : "";
    rows.push_back(std::move(row));
  }
  if (rows.empty()) rows.emplace_back();
  return rows;
}

std::vector<std::string> TWebServerRules::Marks(const std::vector<std::pair<std::string, std::string>>& rows) const {
  std::vector<std::string> marks;
  for (size_t i = 0; i < rows.size(); ++i) {
    const int index = link_.IndexOfParam(rows[i].first);
    const bool changed = index >= 0 && rows[i].second != link_.DefaultValue(index);
    marks.push_back(changed ? "*" : "");
  }
  return marks;
}

void TWebServerRules::SelectEngineType(const std::string& type) { link_.SetEngineType(type); }

TServerSaveResult TWebServerRules::SaveControls(const TServerControls& c) {
  if (!record_) return {};
  TProtectedServer& r = *record_;
  r.SetClearBuffer(c.ClearBuffer);
  r.SetInclude(c.Include);
  r.SetWithdraw(c.Withdraw);
  r.SetScanRootPath(c.CertDirectory);
  try {
    r.SetAddressesText(c.Name);
  } catch (const EServerAddressError&) {
    return Fail(VGT("Указано слишком много адресов - допускается только два"), "WebLocationEdit");
  }
  r.VeilgateLocation().Parse(c.RedirectAddress);
  r.VeilgateLocation().SetPort(NumberOrMinusOne(c.RedirectPort));
  const std::vector<std::string> names = CompressNames();
  const auto compress = std::find(names.begin(), names.end(), c.Compress);
  r.SetCompressMode(compress == names.end() ? 0 : static_cast<uint8_t>(compress - names.begin()));
  if (c.Name.empty() || c.Name.front() == '.') return Fail(VGT("Неправильный адрес"), "WebLocationEdit");
  if (!IsValidPort(r.VeilgateLocation().Port())) return Fail(VGT("Неправильный номер порта"), "VeilgatePortEdit");
  link_.SetEngineType(c.EngineType);
  if (link_.EngineType().empty()) return Fail(VGT("Не выбран тип криптографии"), "CryptoEngineTypeEdit");
  if (link_.ParamCount() > 0) {
    for (const auto& [name, value] : c.Params)
      if (!link_.SetParamByName(name, value))
        return Fail(Format(VGT("Неправильное значение параметра криптографии %s"), {name}), "CryptoParametersGrid");
  }
  if (isNew_) {
    TConfigLock lock(copy_);
    for (int i = r.AddressCount() - 1; i >= 0; --i) {
      const std::string text = r.Address(i).AsText();
      if (copy_.FindServerByAddress(text, c.EngineType))
        return Fail(Format(VGT("Имя сервера '%s' уже занято"), {text}), "WebLocationEdit");
    }
  }
  r.SetCryptoParams(link_.GetParams());
  // The engine forgets what it keeps, so the next use asks for keys and passwords afresh.
  if (c.ClearBuffer) link_.ClearCache();
  if (isNew_ && fresh_) {
    TConfigLock lock(copy_);
    copy_.AddServer(std::move(fresh_));
    isNew_ = false;
  }
  return {};
}

void TWebServerRules::Cancel() {
  if (fresh_) {
    fresh_.reset();
    record_ = nullptr;
  }
}

void TWebServerClientRules::LoadControls(TServerControls& c) {
  if (Record() && Record()->AddressCount() > 0) {
    c.ReserveAddress = Record()->ReserveLocation().Host();
    c.ReservePort = std::to_string(Record()->ReserveLocation().Port());
  }
  TWebServerRules::LoadControls(c);
}

TServerSaveResult TWebServerClientRules::SaveControls(const TServerControls& c) {
  TServerSaveResult result = TWebServerRules::SaveControls(c);
  if (!result.Ok || !Record()) return result;
  Record()->ReserveLocation().Parse(c.ReserveAddress);
  Record()->ReserveLocation().SetPort(NumberOrMinusOne(c.ReservePort));
  return result;
}

}  // namespace vg
