#pragma once
// The tunnel program's settings: the common settings plus who may connect to the tunnel, kept
// in "veilgate.cfg" beside the running program (or in the file the program was given).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/UserPaths.h"
#include "settings/Cfg_Comm.h"

namespace vg {

class TQSClientConfig : public TQSConfig {
 public:
  // Client access types.
  static constexpr uint8_t kAccessAny = 0;
  static constexpr uint8_t kAccessLocal = 1;
  static constexpr uint8_t kAccessListed = 2;
  // The value that stands for an empty allowed-hosts list in the file.
  static constexpr uint32_t kNoHost = 0xFFFFFFFFu;

  // On the settings file beside the running program.
  TQSClientConfig();
  explicit TQSClientConfig(std::string fileName);

  bool LoadSection(int index, TConfigStorage& storage) override;
  bool SaveSection(int index, TConfigStorage& storage) override;
  // An empty object on the same settings file.
  std::unique_ptr<TConfig> CreateEmpty() const override;
  // As the common settings, then the client settings; the source must be a TQSClientConfig.
  void Assign(const TConfig& source) override;
  using TQSConfig::Assign;
  // The settings file as an untyped INI storage with the root path "Client".
  std::unique_ptr<TConfigStorage> CreateStorage(bool readOnly) override;
  // Saves into a working copy of the file and then replaces the file once, holding its lock
  // throughout: the file changes as a whole or, when saving raises, not at all.
  bool Save() override;

  const std::string& FileName() const { return fileName_; }
  void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }
  // The directory of the settings file, with a trailing separator ("" for a bare file name).
  std::string FileDirectory() const;
  // Where relative log directory names are taken from; empty: the settings file's directory.
  void SetLogBase(std::string dir) { logBase_ = std::move(dir); }
  // The log directory to write into, as a file-system name: "Log-file name" converted from
  // Windows-1251, backslashes read as separators, a drive letter or network share prefix
  // dropped; a relative name (an empty one included) is taken relative to the log base.
  std::string LogDirectoryPath() const;

  uint8_t ClientAccessType() const { return accessType_; }
  void SetClientAccessType(uint8_t type) { accessType_ = type; }
  // IPv4 addresses in network byte order, without duplicates.
  const std::vector<uint32_t>& AllowedHosts() const { return allowedHosts_; }
  void SetAllowedHosts(std::vector<uint32_t> hosts) { allowedHosts_ = std::move(hosts); }
  bool IsAllowedHost(uint32_t address) const;

  // Under the settings lock, copy the key values between the given record and the configured
  // record with the same first address and engine; nothing happens when there is none.
  void LoadServerKeyState(TProtectedServer& server);
  void StoreServerKeyState(const TProtectedServer& server);

  // "veilgate.cfg" in the directory of the running program.
  static std::string DefaultFileName();

 private:
  TProtectedServer* ConfiguredRecordFor(const TProtectedServer& server);

  int clientSection_;
  std::string fileName_;
  std::string logBase_;
  uint8_t accessType_ = kAccessAny;
  std::vector<uint32_t> allowedHosts_;
};

// The program's one settings object, created with the pre-load values on first use (no file
// is read). Its creation makes the log files follow its "Log-file name" (read under its lock).
TQSClientConfig& Settings();

// The settings file and log base of a program: FILE given with --config (logs relative to it),
// else the rule of platform::LocateSettings for "veilgate.cfg" beside the running program.
// create: make the per-user copy when it is missing (the tunnel does; a look at the settings
// does not).
platform::SettingsPlace ProgramSettingsPlace(const std::string& configFile, bool create);
// Points the settings object at the place.
void UseSettingsPlace(TQSClientConfig& config, const platform::SettingsPlace& place);

// Takes "--config FILE" or "--config=FILE" out of a program's arguments and returns FILE as an
// absolute path; empty when the option is absent. Raises when FILE is missing.
std::string TakeConfigOption(std::vector<std::string>& args);

}  // namespace vg
