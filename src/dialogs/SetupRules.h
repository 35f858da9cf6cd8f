#pragma once
// What the tunnel setup dialog does, without its windows: it edits a private copy of the
// settings, fills its controls from the copy and checks and writes them back in a fixed
// order, says which controls are usable, keeps the list of allowed hosts and lists the
// protected servers. The dialog classes of the desktop shell are views over these rules.
//
// Terms:
//   copy     - the dialog's own settings object, cloned from the live settings on the first
//              showing and re-filled from them before every later one.
//   controls - the values of the dialog's controls as the user sees them (texts as typed).
//   control  - a control's object name ("SelfPortEdit"); a failed save names the one to focus.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/SysUtils.h"
#include "settings/Cfg_Clnt.h"

namespace vg {

// A value of the setup dialog that cannot be stored; Control() names the control to focus.
class ESaveSettingsException : public Exception {
 public:
  ESaveSettingsException(std::string message, std::string control)
      : Exception(std::move(message)), control_(std::move(control)) {}
  const std::string& Control() const { return control_; }

 private:
  std::string control_;
};

// A numeric edit's text as a number: -1 when it is not a decimal number that fits.
int32_t NumberOrMinusOne(const std::string& text);
// A TCP port: 1 to 65535.
bool IsValidPort(int32_t port);

// The first IPv4 address (network byte order) a host name stands for; none when it does not
// resolve. Tests put their own in.
using THostResolver = std::function<std::optional<uint32_t>(const std::string& name)>;
THostResolver SystemHostResolver();
// Exactly four decimal parts of 0 to 255; 255.255.255.255 does not count.
std::optional<uint32_t> ParseTypedAddress(const std::string& text);

// Which button of a log mode group is chosen.
enum class TLogMode { None, OnlyBad, All };

// The controls of the setup dialog (texts Windows-1251).
struct TSetupControls {
  std::string SelfPort = "1030";
  bool ProxyEnabled = false;
  bool BypassForLocal = false;
  std::string ProxyHost;
  std::string ProxyPort;
  bool ProxyORPC = false;
  int32_t MaxHttpDataLength = TQSConfig::kDefaultMaxHttpDataLength;
  std::string LogDirectory;
  std::string LogDays = "60";
  bool LogOutReq = false;             // bit 0
  bool LogInReq = false;              // bit 1
  bool LogErrDesc = false;            // bit 2
  TLogMode OutMode = TLogMode::None;  // bits 8-15
  TLogMode InMode = TLogMode::None;   // bits 16-23
  bool Trace = false;
  // Client part: the chosen item of "Разрешить доступ" (the stored access type) and the list.
  int AccessItem = TQSClientConfig::kAccessLocal;
  std::vector<std::string> Hosts;
};

// Log flags word <-> the log controls.
void LogFlagsToControls(uint32_t flags, TSetupControls& controls);
uint32_t LogFlagsFromControls(const TSetupControls& controls);
// The same over the stored word: bits the dialog does not show, and a mode byte whose mode the
// user left as it was, keep their stored values, so an untouched word is written back as read.
uint32_t LogFlagsFromControls(const TSetupControls& controls, uint32_t stored);

// Which controls are usable for the current values.
struct TSetupEnabling {
  bool Proxy = false;       // proxy host and port with labels, bypass, ORPC
  bool OutPage = false;     // page "Исходящие" shown
  bool InPage = false;      // page "Входящие" shown
  bool Hosts = false;       // host list, its edit, labels and "Добавить"
  bool DeleteHost = false;  // "Удалить"
};
TSetupEnabling SetupEnabling(const TSetupControls& controls, bool hostSelected);

// One row of the protected servers grid.
struct TServerRow {
  std::string Name;    // text form of the first address
  std::string Engine;  // engine type name
};

// Adding a line to the allowed hosts list.
struct THostAddResult {
  enum TKind { Added, Duplicate, Unknown } Kind = Unknown;
  int Line = -1;        // the appended or the matching line
  std::string Message;  // the box to show for Duplicate and Unknown
};
THostAddResult AddHostLine(const std::string& text, std::vector<std::string>& hosts, const THostResolver& resolve);

// The rules of the general setup dialog.
class TSetupRules {
 public:
  explicit TSetupRules(THostResolver resolve = SystemHostResolver());
  virtual ~TSetupRules();
  TSetupRules(const TSetupRules&) = delete;
  TSetupRules& operator=(const TSetupRules&) = delete;

  // The first call clones the live settings into the copy, later calls assign them to it.
  void SetSettings(TQSConfig& live);
  bool HasCopy() const { return copy_ != nullptr; }
  TQSConfig& Copy() { return *copy_; }

  // Controls from the copy; then the server rows are to be refilled (ServerRows).
  virtual void LoadControls(TSetupControls& controls);
  // Checks and writes the controls into the copy in order; the first bad value raises
  // ESaveSettingsException and leaves the values written before it in the copy.
  virtual void SaveControls(const TSetupControls& controls);

  // The grid: servers in list order, without those whose first address begins with "."; one
  // empty row when none is listed.
  std::vector<TServerRow> ServerRows();
  // "Удалить" on a row: the matching server leaves the copy; false for an empty row or none.
  bool DeleteServer(const TServerRow& row);

  const THostResolver& Resolver() const { return resolve_; }
  void SetResolver(THostResolver resolve) { resolve_ = std::move(resolve); }

 private:
  THostResolver resolve_;
  std::unique_ptr<TQSConfig> copy_;
};

// The client part: who may connect to the tunnel.
class TClientSetupRules : public TSetupRules {
 public:
  using TSetupRules::TSetupRules;
  TQSClientConfig& ClientCopy() { return static_cast<TQSClientConfig&>(Copy()); }
  void LoadControls(TSetupControls& controls) override;
  void SaveControls(const TSetupControls& controls) override;
};

}  // namespace vg
