#include "protection/ProtSrvr.h"

#include "config/Cfg_Rgry.h"
#include "platform/ProgramInfo.h"

namespace vg {
namespace {

const char kCryptoSection[] = "Crypto engine";

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && (path.back() == platform::kPathSeparator || path.back() == '\\');
}

std::string MessageOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const Exception*>(&error)) return own->Message();
  return error.what();
}

}  // namespace

TProtectedServer::TProtectedServer()
    : params_(std::make_unique<TCryptoParams>()),
      veilgateLocation_(std::make_unique<THttpEntry>()),
      reserveLocation_(std::make_unique<THttpEntry>()) {}

TProtectedServer::~TProtectedServer() = default;

void TProtectedServer::Assign(const TProtectedServer& other) {
  if (&other == this) return;
  params_->Assign(*other.params_);
  veilgateLocation_->Assign(*other.veilgateLocation_);
  reserveLocation_->Assign(*other.reserveLocation_);
  compressMode_ = other.compressMode_;
  activeLocation_ = other.activeLocation_;
  keyValueA_ = other.keyValueA_;
  keyValueB_ = other.keyValueB_;
  include_ = other.include_;
  withdraw_ = other.withdraw_;
  clearBuffer_ = other.clearBuffer_;
  scanRootPath_ = other.scanRootPath_;
  ClearAddresses();
  for (const auto& entry : other.addresses_) {
    auto copy = std::make_unique<THttpEntry>();
    copy->Assign(*entry);
    addresses_.push_back(std::move(copy));
  }
}

void TProtectedServer::SetCryptoParams(const TCryptoParams& params) { params_->Assign(params); }

const THttpEntry& TProtectedServer::Address(int index) const {
  if (index < 0 || index >= AddressCount())
    throw Exception(Format("List index out of bounds (%d)", {index}));
  return *addresses_[static_cast<size_t>(index)];
}

void TProtectedServer::SetAddress(int index, const THttpEntry& entry) {
  if (index < 0 || index > AddressCount()) throw Exception(Format("List index out of bounds (%d)", {index}));
  if (index == AddressCount()) {
    if (index >= kMaxAddresses)
      throw EServerAddressError(VGT("Указано слишком много адресов - допускается только два"));
    addresses_.push_back(std::make_unique<THttpEntry>());
  }
  addresses_[static_cast<size_t>(index)]->Assign(entry);
}

void TProtectedServer::ClearAddresses() { addresses_.clear(); }

int TProtectedServer::IndexOfAddress(const THttpEntry& entry) const {
  for (int i = AddressCount() - 1; i >= 0; --i)
    if (addresses_[static_cast<size_t>(i)]->SameAs(entry)) return i;
  return -1;
}

std::string TProtectedServer::AddressesText() const {
  std::string text;
  for (size_t i = 0; i < addresses_.size(); ++i) {
    if (i > 0) text += ';';
    text += addresses_[i]->AsText();
  }
  return text;
}

void TProtectedServer::SetAddressesText(const std::string& text) {
  ClearAddresses();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view part(text.data() + pos, end - pos);
    pos = end + 1;
    // A part of blanks (or a bare port) names no address; keeping it would save as nothing.
    auto entry = std::make_unique<THttpEntry>();
    entry->Parse(part);
    if (entry->Host().empty()) continue;
    if (AddressCount() >= kMaxAddresses)
      throw EServerAddressError(VGT("Указано слишком много адресов - допускается только два"));
    addresses_.push_back(std::move(entry));
  }
}

const THttpEntry& TProtectedServer::CurrentLocation() const {
  return activeLocation_ == kReserveLocation ? *reserveLocation_ : *veilgateLocation_;
}

bool TProtectedServer::SwitchLocation() {
  if (activeLocation_ == kReserveLocation) {
    if (veilgateLocation_->Host().empty()) return false;
    activeLocation_ = kMainLocation;
    return true;
  }
  if (reserveLocation_->Host().empty()) return false;
  activeLocation_ = kReserveLocation;
  return true;
}

void TProtectedServer::NoteError(const std::exception& error) { lastErrors_.push_back(MessageOf(error)); }

bool TProtectedServer::LoadFromConfig(TConfigStorage& section) {
  lastErrors_.clear();
  bool result = true;
  try {
    const std::string host = section.ReadString("web server host");
    const std::string address = section.ReadStringDef("web server address", "");
    SetAddressesText(host + ";" + address);
    veilgateLocation_->Parse(section.ReadString("veilgate location"));
    reserveLocation_->Parse(section.ReadStringDef("reserve location", ""));
    params_->SetEngineType(section.ReadString("crypto engine"));
    include_ = section.ReadBoolDef("Include", false);
    withdraw_ = section.ReadBoolDef("Withdraw", false);
    scanRootPath_ = section.ReadStringDef("Scan root path", "");
    const int32_t mode = section.ReadIntegerDef("compress mode", 1);
    compressMode_ = mode == 0 ? 0 : mode == 2 ? 2 : 1;
  } catch (const std::exception& error) {
    NoteError(error);
    result = false;
  }

  // The parameters are read even when the main block failed, as far as the engine allows.
  try {
    if (section.SectionExists(kCryptoSection)) {
      std::unique_ptr<TConfigStorage> values = section.OpenSection(kCryptoSection, true, false);
      std::vector<std::string> names;
      values->ListItems(names);
      if (!names.empty()) {
        TCryptoParamsEditorLink link;
        link.SetEngineType(params_->EngineType());
        link.SetRootPath(CryptoRootPath());
        for (const std::string& name : names) {
          const int index = link.IndexOfParam(name);
          if (index < 0) continue;
          try {
            params_->AddParam(index, values->ReadString(name));
          } catch (const std::exception& error) {
            NoteError(error);
            result = false;
          }
        }
      }
    }
  } catch (const std::exception& error) {
    // The subsection could not be listed or the crypto library could not be bound.
    NoteError(error);
    result = false;
  }
  return result;
}

bool TProtectedServer::SaveToConfig(TConfigStorage& section) {
  lastErrors_.clear();
  bool result = true;
  try {
    // The host is required on loading, so a record without addresses still writes it (empty);
    // leaving it out would make the saved record unreadable and drop it at the next start.
    section.WriteString("web server host", AddressCount() >= 1 ? addresses_[0]->AsText() : std::string());
    if (AddressCount() >= 2) section.WriteString("web server address", addresses_[1]->AsText());
    section.WriteString("veilgate location", veilgateLocation_->AsText());
    const std::string reserve = reserveLocation_->AsText();
    if (!reserve.empty()) section.WriteString("reserve location", reserve);
    section.WriteString("crypto engine", params_->EngineType());
    section.WriteInteger("compress mode", compressMode_);
    section.WriteBool("Include", include_);
    section.WriteBool("Withdraw", withdraw_);
    section.WriteString("Scan root path", scanRootPath_);
  } catch (const std::exception& error) {
    NoteError(error);
    result = false;
  }

  // The engine is opened before the stored values are cleared: when the crypto library cannot
  // be bound, the parameters in the file stay as they are instead of being erased.
  TCryptoParamsEditorLink link;
  if (params_->Count() > 0) {
    try {
      link.SetEngineType(params_->EngineType());
    } catch (const std::exception& error) {
      NoteError(error);
      return false;
    }
  }
  try {
    std::unique_ptr<TConfigStorage> values = section.OpenSection(kCryptoSection, false, true);
    std::vector<std::string> names;
    values->ListItems(names);
    for (size_t i = names.size(); i-- > 0;) values->DeleteItem(names[i]);
    for (const auto& item : params_->Items()) {
      std::string name;
      if (!link.ParamName(item.Tag, name)) {
        // The engine's parameter list changed since the value was set; the value has no name.
        lastErrors_.push_back(Format(VGT("Параметр с номером %d неизвестен криптографии \"%s\" и не сохранён"),
                                     {item.Tag + 1, params_->EngineType()}));
        continue;
      }
      try {
        values->WriteString(name, item.Text);
      } catch (const std::exception& error) {
        NoteError(error);
        result = false;
      }
    }
  } catch (const std::exception& error) {
    NoteError(error);
    result = false;
  }
  return result;
}

std::string TProtectedServer::CryptoRootPath() {
  std::string root;
  try {
    auto key = OpenRegistryStorage("Software\\NorvelSystems", true, false, platform::registry::Root::kLocalMachine);
    if (key->KeyOpened()) {
      root = key->ReadStringDef("Path", "");
      if (!EndsWithSeparator(root)) root += platform::kPathSeparator;
    }
  } catch (...) {
    root.clear();
  }
  if (root.empty()) root = ParentOfProgramDir(platform::ProgramDir());
  return root;
}

std::string ParentOfProgramDir(const std::string& programDir) {
  std::string dir = programDir;
  while (EndsWithSeparator(dir)) dir.pop_back();
  const size_t cut = dir.find_last_of(std::string{platform::kPathSeparator, '\\'});
  dir.erase(cut == std::string::npos ? 0 : cut);
  return dir + platform::kPathSeparator;
}

}  // namespace vg
