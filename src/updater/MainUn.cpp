#include "updater/MainUn.h"

#include <strings.h>

#include <algorithm>
#include <random>
#include <thread>

#include "config/Cfg_Ini.h"
#include "config/Cfg_Rgry.h"
#include "platform/DynLib.h"
#include "platform/FileTransfer.h"
#include "platform/Files.h"
#include "platform/Instance.h"
#include "platform/ProgramInfo.h"
#include "platform/Registry.h"
#include "platform/Spawn.h"
#include "platform/SysUtils.h"
#include "platform/TypeName.h"
#include "platform/UserPaths.h"
#include "tunnel/ReleaseMark.h"
#include "updater/UpdFiles.h"
#include "updater/ZipArc.h"

namespace vg {
namespace {

namespace reg = platform::registry;

// The tunnel's main window classes: this release's, then the one of older releases.
constexpr const char* kTunnelWindowClasses[] = {"TQSVeilgateAboutForm", "TClientAboutForm"};

constexpr char kVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char kUninstallSubkey[] = "Uninstall\\QS-Veilgate";
constexpr char kOldSettingsKey[] = "Software\\NorvelSystems\\QS-Veilgate\\Client";
constexpr char kSettingsFile[] = "veilgate.cfg";
constexpr char kBackupDir[] = "Backup";
constexpr char kDistribOldDir[] = "Distrib.old";
constexpr char kStarter[] = "Vgstart";
constexpr char kArchive[] = "Veilgate.zip";

// The oldest releases carry the product name as a length-prefixed string and the minor
// version digit 27 bytes after the length byte.
constexpr size_t kOldMarkerSize = 28;
constexpr size_t kOldMarkerDigit = 27;

bool EqualNoCase(const std::string& a, const std::string& b) { return ::strcasecmp(a.c_str(), b.c_str()) == 0; }

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && EqualNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string TunnelProgram() { return platform::ProgramFileNameFor("vgproxy.exe"); }

bool ReadBytesAt(const std::string& file, int64_t offset, uint8_t* out, size_t n) {
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.c_str(), "rb"), std::fclose);
  return in && std::fseek(in.get(), offset, SEEK_SET) == 0 && std::fread(out, 1, n, in.get()) == n;
}

std::string RegistryString(const reg::Key& key, const std::string& name) {
  uint32_t type = 0;
  std::string data;
  if (reg::QueryValue(key, name, type, data) != reg::kSuccess) return {};
  if (type != reg::kTypeString && type != reg::kTypeExpandString) return {};
  while (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

// A whole number of clusters: an empty file takes one.
int64_t RoundToClusters(uint64_t size, uint64_t cluster) {
  const int64_t s = static_cast<int64_t>(size);
  const int64_t c = static_cast<int64_t>(cluster);
  return ((s - 1) / c + 1) * c;
}

}  // namespace

bool IsNoMediumArgument(const std::string& arg) { return EqualNoCase(arg, "NUD"); }

uint32_t ReadReleaseVersion(const std::string& executable) {
  const std::vector<uint8_t> signature(kReleaseSignature.begin(), kReleaseSignature.end());
  if (const int64_t at = FindInFile(executable, signature); at >= 0) {
    uint8_t v[4];
    if (!ReadBytesAt(executable, at + static_cast<int64_t>(signature.size()), v, sizeof v)) return 0;
    return static_cast<uint32_t>(v[0]) | static_cast<uint32_t>(v[1]) << 8 | static_cast<uint32_t>(v[2]) << 16 |
           static_cast<uint32_t>(v[3]) << 24;
  }
  std::vector<uint8_t> oldMarker(kOldMarkerSize, 0);
  const std::string product = "QS-Veilgate";
  oldMarker[0] = static_cast<uint8_t>(product.size());
  std::copy(product.begin(), product.end(), oldMarker.begin() + 1);
  if (const int64_t at = FindInFile(executable, oldMarker); at >= 0) {
    uint8_t digit = 0;
    if (ReadBytesAt(executable, at + static_cast<int64_t>(kOldMarkerDigit), &digit, 1) && digit >= '0' && digit <= '9')
      return 0x10000u + (digit - '0');
  }
  return 0;
}

bool CopySettingsTree(TConfigStorage& source, TConfigStorage& dest) {
  std::vector<std::string> items;
  source.ListItems(items);
  for (const std::string& name : items) {
    const TItemKinds kinds = source.ItemKinds(name);
    if (kinds.Has(TItemKind::Str)) {
      dest.WriteString(name, source.ReadString(name));
    } else if (kinds.Has(TItemKind::Int)) {
      dest.WriteInteger(name, source.ReadInteger(name));
    } else if (kinds.Has(TItemKind::Bool)) {
      dest.WriteBool(name, source.ReadBool(name));
    } else {
      std::vector<uint8_t> buffer(source.BinarySize(name));
      const size_t count = source.ReadBinary(name, buffer.data(), buffer.size());
      dest.WriteBinary(name, buffer.data(), std::min(count, buffer.size()));
    }
  }
  std::vector<std::string> sections;
  source.ListSections(sections);
  for (const std::string& name : sections) {
    std::unique_ptr<TConfigStorage> from = source.OpenSection(name, true, false);
    std::unique_ptr<TConfigStorage> to = dest.OpenSection(name, false, true);
    if (!CopySettingsTree(*from, *to)) return false;
  }
  return true;
}

int32_t CallRegistrationEntry(const std::string& library, const char* entry) {
  constexpr int32_t kModuleNotFound = 126;
  constexpr int32_t kProcNotFound = 127;
  platform::LibraryHandle handle = platform::LoadLibraryFile(library);
  if (handle == nullptr) return kModuleNotFound;
  int32_t result = kProcNotFound;
  if (void* address = platform::LibrarySymbol(handle, entry)) result = reinterpret_cast<int32_t (*)()>(address)();
  platform::FreeLibraryFile(handle);
  return result;
}

TUpdateProcedure::TUpdateProcedure(IUpdateView& view, TUpdateOptions options)
    : view_(view), options_(std::move(options)) {
  if (!options_.sleep) options_.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
  if (!options_.removableDrives) options_.removableDrives = platform::RemovableDriveRoots;
  if (!options_.diskSpace) options_.diskSpace = platform::ReadDiskSpace;
  if (options_.tempBase.empty()) options_.tempBase = platform::TempDirectory();
  if (options_.clock == nullptr) options_.clock = &platform::Clock::System();
}

std::string TUpdateProcedure::Path(const std::string& name) const { return platform::JoinPath(installDir_, name); }
std::string TUpdateProcedure::BackupDir() const { return Path(kBackupDir); }
std::string TUpdateProcedure::DistribOldDir() const { return Path(kDistribOldDir); }

void TUpdateProcedure::SetStatus(const std::string& text) { view_.SetStatus(text); }

void TUpdateProcedure::Advance() {
  if (progress_ < kUpdateProgressMax) view_.SetProgress(++progress_);
}

void TUpdateProcedure::Error(const std::string& text) {
  view_.ShowMessage(VGT("Ошибка"), text + VGT("\r\nОбновление QS-Veilgate не завершено"), TUpdateMessageKind::Error);
}

void TUpdateProcedure::Warning(const std::string& text) {
  view_.ShowMessage(VGT("Внимание!"), text, TUpdateMessageKind::Warning);
}

void TUpdateProcedure::Sleep(std::chrono::milliseconds ms) { options_.sleep(ms); }

TUpdateResult TUpdateProcedure::Run() {
  TUpdateResult result = TUpdateResult::NotUpdated;
  try {
    result = Procedure();
  } catch (const std::exception& e) {
    // Whatever the new files did to the installation is undone as a failed copy would be.
    try {
      if (stepReached_ >= 8 && !controlsRegistered_ && !controls_.empty()) RegisterActiveX();
      if (stepReached_ >= 7 && !installationComplete_) RestoreInstall();
    } catch (const std::exception&) {
      keepBackup_ = true;
    }
    try {
      CleanUp();
    } catch (const std::exception&) {
    }
    Warning(Format(VGT("Неизвестная ошибка \"%s\" при обновлении QS-Veilgate\r\n%s"),
                   {platform::ClassNameOf(e), std::string(e.what())}));
    SetStatus(VGT("Обновление не завершено"));
    return installationComplete_ ? TUpdateResult::InstallationOnly : TUpdateResult::NotUpdated;
  }
  CleanUp();
  return result;
}

TUpdateResult TUpdateProcedure::Procedure() {
  stepReached_ = 1;
  if (!FindInstallDir()) return TUpdateResult::NotUpdated;
  stepReached_ = 2;
  if (!UnloadTunnel()) return TUpdateResult::NotUpdated;
  stepReached_ = 3;
  if (!BackupInstall()) return TUpdateResult::NotUpdated;
  stepReached_ = 4;
  if (!ReadInstalledVersion()) return TUpdateResult::NotUpdated;
  stepReached_ = 5;
  if (!PrepareFileList()) return TUpdateResult::NotUpdated;
  stepReached_ = 6;
  PrepareActiveXList();
  stepReached_ = 7;
  if (!controls_.empty()) UnregisterActiveX();
  Advance();
  stepReached_ = 8;
  bool installed = CopyNewFiles();
  Advance();
  stepReached_ = 9;
  if (!controls_.empty()) RegisterActiveX();
  controlsRegistered_ = true;
  Advance();
  stepReached_ = 10;
  if (installed && installedVersion_ <= 0x10003) installed = CarrySettings();
  Advance();
  stepReached_ = 11;
  installationComplete_ = installed;
  Advance();
  stepReached_ = 12;
  if (!installed) {
    RestoreInstall();
    return TUpdateResult::NotUpdated;
  }
  Advance();
  stepReached_ = 13;
  Advance();
  if (options_.noMediumUpdate) return TUpdateResult::Completed;
  stepReached_ = 14;
  if (!FindInstallSource()) return TUpdateResult::InstallationOnly;
  stepReached_ = 15;
  if (!CreateTempDir()) return TUpdateResult::InstallationOnly;
  stepReached_ = 16;
  if (!BackupDistrib()) return TUpdateResult::InstallationOnly;
  stepReached_ = 17;
  UnpackArchive();
  stepReached_ = 18;
  if (!UpdateArchiveFiles()) return TUpdateResult::InstallationOnly;
  stepReached_ = 19;
  PackArchive();
  stepReached_ = 20;
  if (!UpdateDistrib()) return TUpdateResult::InstallationOnly;
  stepReached_ = 21;
  SetStatus(VGT("Обновление завершено"));
  Advance();
  return TUpdateResult::Completed;
}

bool TUpdateProcedure::FindInstallDir() {
  SetStatus(VGT("Поиск каталога установки QS-Veilgate"));
  const reg::Key machine = reg::Key::RootKey(reg::Root::kLocalMachine);
  reg::Key versionKey;
  if (reg::OpenKey(machine, kVersionKey, reg::Access::kRead, versionKey) == reg::kSuccess) {
    reg::Key uninstall;
    if (reg::OpenKey(versionKey, kUninstallSubkey, reg::Access::kRead, uninstall) == reg::kSuccess)
      installDir_ = RegistryString(uninstall, "InstallPath");
    if (installDir_.empty()) {
      const std::string programFiles = RegistryString(versionKey, "ProgramFilesDir");
      if (!programFiles.empty()) {
        const std::string dir = platform::JoinPath(programFiles, "QS-Veilgate");
        if (platform::FileExists(platform::JoinPath(dir, TunnelProgram()))) installDir_ = dir;
      }
    }
  }
  if (installDir_.empty()) {
    if (auto chosen = view_.ChooseFolder(TFolderQuestion::InstallDir, VGT("Укажите каталог установки QS-Veilgate")))
      installDir_ = *chosen;
  }
  while (installDir_.size() > 1 && installDir_.back() == platform::kPathSeparator) installDir_.pop_back();
  if (installDir_.empty() || !platform::FileExists(Path(TunnelProgram()))) {
    Error(VGT("Не обнаружен каталог QS-Veilgate"));
    return false;
  }
  Advance();
  return true;
}

bool TUpdateProcedure::UnloadTunnel() {
  SetStatus(VGT("Выгрузка QS-Veilgate"));
  for (const char* windowClass : kTunnelWindowClasses) {
    if (!platform::FindWindowByClass(windowClass)) continue;
    platform::PostQuitToWindow(windowClass);
    const auto deadline = options_.clock->Monotonic() + options_.quitWait;
    bool gone = false;
    while (!(gone = !platform::FindWindowByClass(windowClass)) && options_.clock->Monotonic() < deadline)
      Sleep(options_.pollInterval);
    if (!gone) Warning(VGT("Пожалуйста закройте QS-Veilgate"));
    break;
  }
  // The program file stays busy until the tunnel's process has ended.
  const auto deadline = options_.clock->Monotonic() + options_.busyWait;
  for (;;) {
    const platform::UpdateOpen state = platform::TryOpenForUpdate(Path(TunnelProgram()));
    if (state == platform::UpdateOpen::Ok) break;
    if (state == platform::UpdateOpen::Other || options_.clock->Monotonic() >= deadline) {
      Error(VGT("Ошибка при выгрузке QS-Veilgate"));
      return false;
    }
    Sleep(options_.pollInterval);
  }
  tunnelStopped_ = true;
  Advance();
  return true;
}

bool TUpdateProcedure::BackupInstall() {
  SetStatus(VGT("Сохранение резервной копии в каталоге ") + BackupDir());
  std::string failed;
  // A Backup left by an earlier run may be the only good copy of an installation whose restore
  // failed: it is set aside as Backup.1 (.2, ...), never overwritten or removed.
  if (platform::IsDirectory(BackupDir())) {
    std::string aside;
    for (int n = 1; aside.empty() || platform::IsDirectory(aside) || platform::FileExists(aside); ++n)
      aside = BackupDir() + "." + std::to_string(n);
    if (!platform::ReplaceFile(BackupDir(), aside)) {
      Error(Format(VGT("Ошибка при сохранении резервной копии файла \"%s\""), {BackupDir()}));
      return false;
    }
  }
  backupStarted_ = true;
  if (!CopyDirectory(installDir_, BackupDir(), false, failed)) {
    Error(Format(VGT("Ошибка при сохранении резервной копии файла \"%s\""), {failed}));
    return false;
  }
  Advance();
  return true;
}

bool TUpdateProcedure::ReadInstalledVersion() {
  SetStatus(VGT("Считывание уникальных параметров QS-Veilgate"));
  installedVersion_ = ReadReleaseVersion(Path(TunnelProgram()));
  if (installedVersion_ == 0) {
    Error(VGT("Ошибка при анализе файла vgproxy.exe - неверный формат файла"));
    return false;
  }
  if (installedVersion_ >= 0x10006) {
    Error(VGT("Попытка установки устаревшей версии QS-Veilgate"));
    return false;
  }
  Advance();
  return true;
}

bool TUpdateProcedure::PrepareFileList() {
  SetStatus(VGT("Подготовка списка файлов"));
  std::vector<std::string> names;
  if (!platform::ListFilesChecked(options_.packageDir, names)) {
    Error(VGT("Ошибка определения списка файлов для установки"));
    return false;
  }
  files_.clear();
  const std::string& self = options_.updaterName;
  for (const std::string& name : names) {
    if (EqualNoCase(name, self) || EqualNoCase(name, self + ".inf") || EqualNoCase(name, self + ".cab")) continue;
    files_.push_back(name);
  }
  Advance();
  return true;
}

void TUpdateProcedure::PrepareActiveXList() {
  SetStatus(VGT("Подготовка списка ActiveX"));
  controls_.clear();
  for (const std::string& name : files_)
    if (EndsWithNoCase(name, ".ocx")) controls_.push_back(name);
  Advance();
}

void TUpdateProcedure::UnregisterActiveX() {
  SetStatus(VGT("Разрегистрация ActiveX"));
  for (const std::string& name : controls_) (void)CallRegistrationEntry(Path(name), "DllUnregisterServer");
}

bool TUpdateProcedure::CopyNewFiles() {
  SetStatus(VGT("Копирование новых версий файлов"));
  std::string failed;
  if (!CopyFileList(options_.packageDir, installDir_, files_, failed)) {
    Error(Format(VGT("Ошибка при копировании файла \"%s\""), {failed}));
    return false;
  }
  return true;
}

void TUpdateProcedure::RegisterActiveX() {
  controlsRegistered_ = true;
  SetStatus(VGT("Регистрация ActiveX"));
  for (const std::string& name : controls_) (void)CallRegistrationEntry(Path(name), "DllRegisterServer");
}

bool TUpdateProcedure::CarrySettings() {
  SetStatus(VGT("Подготовка новой версии к работе"));
  bool ok = false;
  try {
    // The file the tunnel reads: beside it when writable, else the user's own copy.
    const platform::SettingsPlace place = platform::LocateSettings(installDir_, kSettingsFile, true);
    std::unique_ptr<TIniConfigStorage> settings = OpenIniStorage(place.File, "Client", false, false);
    std::unique_ptr<TRegistryConfigStorage> old =
        OpenRegistryStorage(kOldSettingsKey, true, false, reg::Root::kCurrentUser);
    ok = CopySettingsTree(*old, *settings);
    if (ok) {
      std::unique_ptr<TConfigStorage> log = settings->OpenSection("Log options", false, false);
      if (!log->ItemExists("Error trace mode") && log->ItemExists("Error trace regim")) {
        log->WriteInteger("Error trace mode", log->ReadInteger("Error trace regim"));
        log->DeleteItem("Error trace regim");
      }
    }
  } catch (const EConfigException&) {
    ok = false;
  }
  if (!ok) Error(VGT("Ошибка при переносе настроек"));
  return ok;
}

bool TUpdateProcedure::RestoreInstall() {
  SetStatus(VGT("Восстановление предыдущей версии QS-Veilgate"));
  std::string failed;
  if (CopyDirectory(BackupDir(), installDir_, false, failed)) {
    Warning(VGT("Восстановлена предыдущая версия QS-Veilgate"));
    return true;
  }
  // Backup is then the only good copy of the installation: it stays.
  keepBackup_ = true;
  const std::string name = failed.substr(failed.rfind(platform::kPathSeparator) + 1);
  Error(Format(VGT("Ошибка при восстановлении файла \"%s\" предыдущей версии QS-Veilgate"), {name}));
  Warning(Format(VGT("Файлы предыдущей версии QS-Veilgate сохранены в каталоге \"%s\""), {BackupDir()}));
  return false;
}

bool TUpdateProcedure::FindInstallSource() {
  SetStatus(VGT("Поиск источника установки QS-Veilgate"));
  for (const std::string& root : options_.removableDrives()) {
    if (!platform::FindNameNoCase(root, kStarter).empty()) {
      mediumDir_ = root;
      break;
    }
  }
  if (mediumDir_.empty()) {
    auto chosen =
        view_.ChooseFolder(TFolderQuestion::InstallSource, VGT("Укажите откуда производилась установка QS-Veilgate"));
    if (!chosen) return false;
    mediumDir_ = *chosen;
  }
  Advance();
  return true;
}

bool TUpdateProcedure::CreateTempDir() {
  SetStatus(VGT("Создание временного каталога"));
  static constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
  std::mt19937 rng{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  for (;;) {
    std::string name(8, ' ');
    for (char& c : name) c = kAlphabet[pick(rng)];
    const std::string dir = platform::JoinPath(options_.tempBase, name);
    const platform::CreateDirResult made = platform::CreateNewDirectory(dir);
    if (made == platform::CreateDirResult::Exists) continue;
    if (made == platform::CreateDirResult::Failed) return false;
    tempDir_ = dir;
    Advance();
    return true;
  }
}

bool TUpdateProcedure::BackupDistrib() {
  SetStatus(VGT("Сохранение резервной копии дистрибутива"));
  std::vector<std::string> names;
  for (const char* wanted : {kStarter, kArchive}) {
    const std::string found = platform::FindNameNoCase(mediumDir_, wanted);
    names.push_back(found.empty() ? wanted : found);
  }
  std::string failed;
  if (!CopyFileList(mediumDir_, DistribOldDir(), names, failed)) {
    Error(Format(VGT("Ошибка при сохранении резервной копии файла \"%s\""), {failed}));
    return false;
  }
  Advance();
  return true;
}

void TUpdateProcedure::UnpackArchive() {
  SetStatus(VGT("Разархивирование"));
  std::string archive = platform::FindNameNoCase(DistribOldDir(), kArchive);
  archive = platform::JoinPath(DistribOldDir(), archive.empty() ? kArchive : archive);
  archiveEntries_ = ListZipEntries(archive);
  ExtractZip(archive, tempDir_);
  Advance();
}

bool TUpdateProcedure::UpdateArchiveFiles() {
  SetStatus(VGT("Обновление файлов архива"));
  for (const std::string& name : files_) {
    if (EqualNoCase(name, kStarter)) continue;
    // A package file replaces the entry of the same name, whatever its letter case there.
    auto entry = std::find_if(archiveEntries_.begin(), archiveEntries_.end(),
                              [&](const std::string& e) { return EqualNoCase(e, name); });
    if (entry == archiveEntries_.end()) entry = archiveEntries_.insert(archiveEntries_.end(), name);
    const std::string source = platform::JoinPath(options_.packageDir, name);
    if (!platform::CopyFileWhole(source, platform::JoinPath(tempDir_, *entry))) {
      Error(Format(VGT("Ошибка при копировании файла \"%s\""), {source}));
      return false;
    }
  }
  Advance();
  return true;
}

void TUpdateProcedure::PackArchive() {
  SetStatus(VGT("Архивирование"));
  CreateZip(platform::JoinPath(tempDir_, kArchive), tempDir_, archiveEntries_);
  Advance();
}

bool TUpdateProcedure::UpdateDistrib() {
  SetStatus(VGT("Обновление файлов дистрибутива"));
  platform::DiskSpace space;
  if (!options_.diskSpace(mediumDir_, space) || space.clusterSize == 0) return false;
  const uint64_t cluster = space.clusterSize;
  std::string mediumArchive = platform::FindNameNoCase(mediumDir_, kArchive);
  mediumArchive = platform::JoinPath(mediumDir_, mediumArchive.empty() ? kArchive : mediumArchive);
  const std::string newArchive = platform::JoinPath(tempDir_, kArchive);
  uint64_t newSize = 0, oldSize = 0;
  if (!platform::FileSize(newArchive, newSize) || !platform::FileSize(mediumArchive, oldSize)) return false;
  int64_t needed = RoundToClusters(newSize, cluster) - RoundToClusters(oldSize, cluster);

  std::string packageStarter;
  std::string mediumStarter;
  for (const std::string& name : files_)
    if (EqualNoCase(name, kStarter)) packageStarter = platform::JoinPath(options_.packageDir, name);
  if (!packageStarter.empty()) {
    std::string found = platform::FindNameNoCase(mediumDir_, kStarter);
    mediumStarter = platform::JoinPath(mediumDir_, found.empty() ? kStarter : found);
    uint64_t newStarter = 0, oldStarter = 0;
    if (!platform::FileSize(packageStarter, newStarter) || !platform::FileSize(mediumStarter, oldStarter)) return false;
    needed += RoundToClusters(newStarter, cluster) - RoundToClusters(oldStarter, cluster);
  }
  if (static_cast<int64_t>(space.freeBytes) < needed) {
    Error(VGT("Недостаточно места на установочной дискете для ее обновления"));
    return false;
  }
  // Each file on the medium is replaced only once its new copy is complete there.
  if (!platform::CopyFileWhole(newArchive, mediumArchive)) {
    Error(Format(VGT("Ошибка при копировании файла \"%s\""), {newArchive}));
    return false;
  }
  if (!packageStarter.empty() && !platform::CopyFileWhole(packageStarter, mediumStarter)) {
    Error(Format(VGT("Ошибка при копировании файла \"%s\""), {packageStarter}));
    return false;
  }
  Advance();
  return true;
}

void TUpdateProcedure::CleanUp() {
  if (!tempDir_.empty()) DeleteTempDir();
  if (backupStarted_) DeleteBackup();
  if (tunnelStopped_) StartTunnel();
}

void TUpdateProcedure::DeleteTempDir() {
  SetStatus(VGT("Удаление временного каталога"));
  std::string failed;
  (void)DeleteTree(tempDir_, failed);
  tempDir_.clear();
  Advance();
}

void TUpdateProcedure::DeleteBackup() {
  backupStarted_ = false;
  if (keepBackup_) return;
  SetStatus(VGT("Удаление резервной копии"));
  std::string failed;
  if (platform::IsDirectory(BackupDir())) (void)DeleteTree(BackupDir(), failed);
  Advance();
}

void TUpdateProcedure::StartTunnel() {
  tunnelStopped_ = false;
  SetStatus(VGT("Запуск QS-Veilgate"));
  std::vector<std::string> args;
  if (options_.tunnelHeadless) args.push_back("--headless");
  tunnelPid_ = platform::StartDetached(Path(TunnelProgram()), args, installDir_);
  Advance();
}

}  // namespace vg
