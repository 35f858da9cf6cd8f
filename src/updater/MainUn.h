#pragma once
// The update procedure of vgupdate: it replaces the installed tunnel by the release in the
// package directory and refreshes the installation medium.
//
// Glossary:
//   installation   the directory holding vgproxy and veilgate.cfg
//   package        the directory the updater runs in, holding the new files (and the updater)
//   Backup         the installation's files copied aside before anything is replaced; copied
//                  back when the new files or the carried settings fail
//   medium         the diskette or directory the product was installed from: the starter
//                  Vgstart and the archive Veilgate.zip
//   Distrib.old    the medium's starter and archive as they were before the update
//   control        an ActiveX control of the package (*.ocx), a shared library that registers
//                  and unregisters itself through its entries
//   release marker the bytes in vgproxy's data that tell its release (see tunnel/ReleaseMark.h)
//
// The procedure runs on the caller's thread from start to end and talks to the user only
// through IUpdateView, so the window and the terminal face run the same code.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/Cfg_Abst.h"
#include "platform/Clock.h"
#include "platform/Drives.h"

namespace vg {

enum class TUpdateMessageKind { Error, Warning };
enum class TFolderQuestion { InstallDir, InstallSource };

inline constexpr int kUpdateProgressMax = 25;

// What the procedure shows and asks. Texts are Windows-1251.
class IUpdateView {
 public:
  virtual ~IUpdateView() = default;
  virtual void SetStatus(const std::string& text) = 0;
  // 0..kUpdateProgressMax.
  virtual void SetProgress(int position) = 0;
  // Modal: returns when the user has confirmed it.
  virtual void ShowMessage(const std::string& caption, const std::string& text, TUpdateMessageKind kind) = 0;
  // The folder chosen, or nothing when the user cancelled.
  virtual std::optional<std::string> ChooseFolder(TFolderQuestion question, const std::string& title) = 0;
};

struct TUpdateOptions {
  std::string packageDir;       // the directory with the new files
  std::string updaterName;      // the updater's own file name, never a new file
  bool noMediumUpdate = false;  // "NUD": steps 14 to 21 are skipped
  bool tunnelHeadless = false;  // start the tunnel again without its tray
  const platform::Clock* clock = &platform::Clock::System();
  std::function<void(std::chrono::milliseconds)> sleep;  // defaults to a real sleep
  std::chrono::milliseconds quitWait{5000};
  std::chrono::milliseconds busyWait{5000};
  std::chrono::milliseconds pollInterval{100};
  std::function<std::vector<std::string>()> removableDrives;                // defaults to the platform's
  std::function<bool(const std::string&, platform::DiskSpace&)> diskSpace;  // defaults to the platform's
  std::string tempBase;  // defaults to the system's temporary directory
};

enum class TUpdateResult {
  Completed,         // installation updated and the medium refreshed (or "NUD")
  InstallationOnly,  // installation updated, the medium not refreshed
  NotUpdated,        // the installation is as it was (or, after a failed restore, mixed)
};

// "NUD" in any letter case.
bool IsNoMediumArgument(const std::string& arg);

// The release of a tunnel executable as 65536 * major + minor, from its release marker (or the
// oldest releases' product-name marker); 0 when it carries neither.
uint32_t ReadReleaseVersion(const std::string& executable);

// Copies every item and subsection of source into dest: strings as strings, integers as
// integers, booleans as booleans, anything else as binary. False when a subsection fails.
bool CopySettingsTree(TConfigStorage& source, TConfigStorage& dest);

// Result of a control's registration entry; the system's error code when the library or the
// entry cannot be found. Zero is success.
int32_t CallRegistrationEntry(const std::string& library, const char* entry);

class TUpdateProcedure {
 public:
  TUpdateProcedure(IUpdateView& view, TUpdateOptions options);
  TUpdateResult Run();

  const std::string& InstallDir() const { return installDir_; }
  uint32_t InstalledVersion() const { return installedVersion_; }
  // Process id of the tunnel started at the end; -1 when none was started.
  int StartedTunnelPid() const { return tunnelPid_; }
  bool BackupKept() const { return keepBackup_; }

 private:
  TUpdateResult Procedure();
  void SetStatus(const std::string& text);
  void Advance();
  void Error(const std::string& text);
  void Warning(const std::string& text);
  void Sleep(std::chrono::milliseconds ms);

  bool FindInstallDir();
  bool UnloadTunnel();
  bool BackupInstall();
  bool ReadInstalledVersion();
  bool PrepareFileList();
  void PrepareActiveXList();
  void UnregisterActiveX();
  bool CopyNewFiles();
  void RegisterActiveX();
  bool CarrySettings();
  bool RestoreInstall();
  bool FindInstallSource();
  bool CreateTempDir();
  bool BackupDistrib();
  void UnpackArchive();
  bool UpdateArchiveFiles();
  void PackArchive();
  bool UpdateDistrib();
  void CleanUp();
  void DeleteTempDir();
  void DeleteBackup();
  void StartTunnel();

  std::string Path(const std::string& name) const;
  std::string BackupDir() const;
  std::string DistribOldDir() const;

  IUpdateView& view_;
  TUpdateOptions options_;
  int progress_ = 0;

  std::string installDir_;
  std::string mediumDir_;
  std::string tempDir_;
  uint32_t installedVersion_ = 0;
  std::vector<std::string> files_;
  std::vector<std::string> controls_;
  std::vector<std::string> archiveEntries_;

  // How far the procedure has come, for the clean-up and the exception rules.
  int stepReached_ = 0;
  bool tunnelStopped_ = false;
  bool backupStarted_ = false;
  bool controlsRegistered_ = false;
  bool installationComplete_ = false;
  bool keepBackup_ = false;
  int tunnelPid_ = -1;
};

}  // namespace vg
