#include "settings/Cfg_Clnt.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>

#include "config/Cfg_Ini.h"
#include "config/fLogMngr.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/ProgramInfo.h"
#include "platform/ScratchDirectory.h"
#include "platform/UserPaths.h"

namespace vg {
namespace {

const char kSettingsFile[] = "veilgate.cfg";
const char kAccessItem[] = "Client acces type";
const char kHostsItem[] = "Allowed hosts";

}  // namespace

std::string TQSClientConfig::DefaultFileName() { return platform::JoinPath(platform::ProgramDir(), kSettingsFile); }

TQSClientConfig::TQSClientConfig() : TQSClientConfig(DefaultFileName()) {}

TQSClientConfig::TQSClientConfig(std::string fileName)
    : clientSection_(AddSection("TCP options")), fileName_(std::move(fileName)) {}

bool TQSClientConfig::LoadSection(int index, TConfigStorage& storage) {
  const bool result = TQSConfig::LoadSection(index, storage);
  if (index != clientSection_) return result;

  uint8_t type = static_cast<uint8_t>(storage.ReadIntegerDef(kAccessItem, kAccessLocal) & 0xFF);
  if (type > kAccessListed) type = kAccessLocal;

  allowedHosts_.clear();
  if (storage.ItemExists(kHostsItem)) {
    const size_t size = storage.BinarySize(kHostsItem);
    if (size != 0 && size % 4 == 0) {
      std::vector<unsigned char> bytes(size);
      if (storage.ReadBinary(kHostsItem, bytes.data(), size) == size) {
        for (size_t at = 0; at < size; at += 4) {
          uint32_t address;
          std::memcpy(&address, bytes.data() + at, 4);
          if (address != kNoHost && !IsAllowedHost(address)) allowedHosts_.push_back(address);
        }
      }
    }
  }
  if (type == kAccessListed && allowedHosts_.empty()) type = kAccessLocal;
  accessType_ = type;
  return result;
}

bool TQSClientConfig::SaveSection(int index, TConfigStorage& storage) {
  const bool result = TQSConfig::SaveSection(index, storage);
  if (index != clientSection_) return result;
  storage.WriteInteger(kAccessItem, accessType_);
  if (allowedHosts_.empty()) {
    const uint32_t none = kNoHost;
    storage.WriteBinary(kHostsItem, &none, sizeof none);
  } else {
    storage.WriteBinary(kHostsItem, allowedHosts_.data(), allowedHosts_.size() * sizeof(uint32_t));
  }
  return result;
}

std::unique_ptr<TConfig> TQSClientConfig::CreateEmpty() const { return std::make_unique<TQSClientConfig>(fileName_); }

void TQSClientConfig::Assign(const TConfig& source) {
  TQSConfig::Assign(source);
  const auto* from = dynamic_cast<const TQSClientConfig*>(&source);
  if (!from)
    throw EConfigException(
        Format(VGT("Не могу присвоить %s данные из %s"), {ConfigClassName(*this), ConfigClassName(source)}));
  if (from == this) return;
  accessType_ = from->accessType_;
  allowedHosts_ = from->allowedHosts_;
}

std::unique_ptr<TConfigStorage> TQSClientConfig::CreateStorage(bool readOnly) {
  // Read as absent, a file the user may not read would look like one with no settings in it.
  if (const int err = platform::UnreadableFileError(fileName_); err != 0)
    throw EIniConfigException(
        Format(VGT("Не могу прочитать файл настроек \"%s\": %s"),
               {platform::Utf8ToCp1251(fileName_), platform::Utf8ToCp1251(platform::ErrorText(err))}));
  return OpenIniStorage(fileName_, "Client", readOnly, false);
}

bool TQSClientConfig::Save() {
  // Every item written to the file itself would replace and flush the whole file; a working
  // copy in scratch space takes those writes instead.
  platform::ScratchDirectory scratch;
  if (!scratch.Ok()) return TQSConfig::Save();
  ClearNotes();
  const std::string work = scratch.File(kSettingsFile);
  bool result = false;
  std::exception_ptr failure;
  const int err = platform::UpdateFileLocked(
      fileName_,
      [&](std::string& content, bool& changed) {
        const int copied = platform::UpdateFileLocked(
            work,
            [&](std::string& copy, bool& copyChanged) {
              copy = content;
              copyChanged = true;
              return 0;
            },
            true);
        if (copied != 0) return copied;
        try {
          result = SaveTo(*OpenIniStorage(work, "Client", false, false));
        } catch (...) {
          failure = std::current_exception();
          return ECANCELED;
        }
        std::string saved;
        if (const int read = platform::ReadWholeFile(work, saved)) return read;
        changed = saved != content;
        content.swap(saved);
        return 0;
      },
      true);
  if (failure) std::rethrow_exception(failure);
  if (err != 0)
    throw EIniConfigException(
        Format(VGT("Не могу записать файл настроек \"%s\". Ошибка %d."), {platform::Utf8ToCp1251(fileName_), err}));
  return result;
}

std::string TQSClientConfig::FileDirectory() const {
  const size_t slash = fileName_.rfind(platform::kPathSeparator);
  return slash == std::string::npos ? std::string() : fileName_.substr(0, slash + 1);
}

std::string TQSClientConfig::LogDirectoryPath() const {
  // The settings hold Windows-1251 text; names on this file system are UTF-8.
  const std::string& written = LogDirectory();
  std::string dir = platform::Cp1251ToUtf8(written);
  std::replace(dir.begin(), dir.end(), '\\', platform::kPathSeparator);
  // A drive ("C:\Logs") or a network share ("\\server\logs") means nothing here; the rest of
  // the name is kept as a relative one, so settings brought from Windows still log somewhere.
  const bool drive = dir.size() >= 2 && std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':';
  const bool share = written.rfind("\\\\", 0) == 0;
  if (drive || share) {
    dir.erase(0, drive ? 2 : 0);
    const size_t first = dir.find_first_not_of(platform::kPathSeparator);
    dir.erase(0, first == std::string::npos ? dir.size() : first);
  }
  if (!dir.empty() && dir.front() == platform::kPathSeparator) return dir;
  const std::string base = logBase_.empty() ? FileDirectory() : logBase_;
  if (dir.empty()) return base.empty() ? std::string(".") : base;
  return base.empty() ? dir : platform::JoinPath(base, dir);
}

bool TQSClientConfig::IsAllowedHost(uint32_t address) const {
  return std::find(allowedHosts_.begin(), allowedHosts_.end(), address) != allowedHosts_.end();
}

TProtectedServer* TQSClientConfig::ConfiguredRecordFor(const TProtectedServer& server) {
  if (server.AddressCount() == 0) return nullptr;
  return FindServer(server.Address(0), server.CryptoParams().EngineType());
}

void TQSClientConfig::LoadServerKeyState(TProtectedServer& server) {
  TConfigLock lock(*this);
  if (const TProtectedServer* configured = ConfiguredRecordFor(server)) {
    server.SetKeyValueA(configured->KeyValueA());
    server.SetKeyValueB(configured->KeyValueB());
  }
}

void TQSClientConfig::StoreServerKeyState(const TProtectedServer& server) {
  TConfigLock lock(*this);
  if (TProtectedServer* configured = ConfiguredRecordFor(server)) {
    configured->SetKeyValueA(server.KeyValueA());
    configured->SetKeyValueB(server.KeyValueB());
  }
}

TQSClientConfig& Settings() {
  static TQSClientConfig settings;
  static const bool sourceInstalled = [] {
    SetLogDirectorySource([] {
      TConfigLock lock(settings);
      return settings.LogDirectoryPath();
    });
    return true;
  }();
  (void)sourceInstalled;
  return settings;
}

platform::SettingsPlace ProgramSettingsPlace(const std::string& configFile, bool create) {
  if (configFile.empty()) return platform::LocateSettings(platform::ProgramDir(), kSettingsFile, create);
  platform::SettingsPlace place;
  place.File = place.Installed = configFile;
  return place;
}

void UseSettingsPlace(TQSClientConfig& config, const platform::SettingsPlace& place) {
  TConfigLock lock(config);
  config.SetFileName(place.File);
  config.SetLogBase(place.LogBase);
}

std::string TakeConfigOption(std::vector<std::string>& args) {
  static const std::string option = "--config";
  for (size_t i = 0; i < args.size(); ++i) {
    std::string file;
    size_t taken = 0;
    if (args[i] == option) {
      if (i + 1 >= args.size() || args[i + 1].empty()) throw Exception("--config needs a settings file name");
      file = args[i + 1];
      taken = 2;
    } else if (args[i].rfind(option + "=", 0) == 0) {
      file = args[i].substr(option.size() + 1);
      if (file.empty()) throw Exception("--config needs a settings file name");
      taken = 1;
    } else {
      continue;
    }
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i + taken));
    return std::filesystem::absolute(file).lexically_normal().string();
  }
  return {};
}

}  // namespace vg
