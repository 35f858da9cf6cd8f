#pragma once
// The tunnel's settings common to its programs: logging, the listener and the upstream proxy,
// and the list of protected servers. Shared between threads under its own lock.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/Cfg_Abst.h"
#include "protection/ProtSrvr.h"
#include "sockets/fEntry.h"

namespace vg {

// Something that went wrong with one part of the settings while the rest was loaded or saved:
// the section (for a protected server its subsection name, e.g. "s2") and the message.
struct TConfigNote {
  std::string Section;
  std::string Text;  // Windows-1251
};

// Log flag masks: a record is written only when every bit of its mask is set.
namespace logflags {
constexpr uint32_t kService = 0x4;
constexpr uint32_t kRequest = 0x101;
constexpr uint32_t kAnswer = 0x10002;
constexpr uint32_t kBadAnswer = 0x20002;
constexpr uint32_t kAll = 0xFFFFFF;
}  // namespace logflags

class TQSConfig : public TConfig {
 public:
  static constexpr int32_t kDefaultLogInterval = 60;
  static constexpr uint32_t kDefaultLogFlags = logflags::kAll;
  static constexpr int32_t kDefaultMaxHttpDataLength = 0x200000;

  TQSConfig();
  ~TQSConfig() override;

  bool LoadSection(int index, TConfigStorage& storage) override;
  bool SaveSection(int index, TConfigStorage& storage) override;
  // Copies every setting and replaces the records by copies of the source's. The source must
  // be a TQSConfig; a null source raises as well.
  void Assign(const TConfig& source) override;
  void Assign(const TConfig* source);
  virtual std::unique_ptr<TConfigStorage> CreateStorage(bool readOnly) = 0;
  // False when some protected-server record could not be loaded (see Notes()); raises on a
  // missing file, section or required item.
  virtual bool Load();
  virtual bool Save();

  // Enter and leave the settings lock; the same thread may enter again.
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }

  // Problems of the last Load or Save that did not stop it (dropped records and the like).
  const std::vector<TConfigNote>& Notes() const { return notes_; }

  int LogOptionsSection() const { return logSection_; }
  int TcpOptionsSection() const { return tcpSection_; }
  int WebServersSection() const { return webSection_; }

  // Directory for the log files as written in the settings ("Log-file name").
  const std::string& LogDirectory() const { return logDirectory_; }
  void SetLogDirectory(std::string dir) { logDirectory_ = std::move(dir); }
  int32_t LogInterval() const { return logInterval_; }
  void SetLogInterval(int32_t days) { logInterval_ = days; }
  uint32_t LogFlags() const { return logFlags_; }
  void SetLogFlags(uint32_t flags) { logFlags_ = flags; }
  // True when every bit of mask is set in the log flags.
  bool LogFlagsHave(uint32_t mask) const { return (logFlags_ & mask) == mask; }
  bool ErrorTraceMode() const { return errorTraceMode_; }
  void SetErrorTraceMode(bool on) { errorTraceMode_ = on; }
  int32_t SelfTcpPort() const { return selfTcpPort_; }
  void SetSelfTcpPort(int32_t port) { selfTcpPort_ = port; }
  bool ProxyEnabled() const { return proxyEnabled_; }
  void SetProxyEnabled(bool on) { proxyEnabled_ = on; }
  bool BypassProxyForLocal() const { return bypassProxyForLocal_; }
  void SetBypassProxyForLocal(bool on) { bypassProxyForLocal_ = on; }
  const std::string& ProxyHost() const { return proxyHost_; }
  void SetProxyHost(std::string host) { proxyHost_ = std::move(host); }
  int32_t ProxyPort() const { return proxyPort_; }
  void SetProxyPort(int32_t port) { proxyPort_ = port; }
  int32_t MaxHttpDataLength() const { return maxHttpDataLength_; }
  void SetMaxHttpDataLength(int32_t length) { maxHttpDataLength_ = length; }
  bool ProxyORPC() const { return proxyORPC_; }
  void SetProxyORPC(bool on) { proxyORPC_ = on; }

  int ServerCount() const { return static_cast<int>(servers_.size()); }
  TProtectedServer* GetServer(int index) const;
  // Takes ownership; always true.
  bool AddServer(std::unique_ptr<TProtectedServer> server);
  // Removes the record from the list and frees it; a record not in the list is left alone.
  void DeleteServer(TProtectedServer* server);
  // The first record that holds the address and, when engine is not empty, uses exactly that
  // engine type; nullptr when none does.
  TProtectedServer* FindServer(const THttpEntry& address, const std::string& engine = {}) const;
  TProtectedServer* FindServerByAddress(const std::string& address, const std::string& engine = {}) const;

 protected:
  void AddNote(std::string section, std::string text);
  void ClearNotes() { notes_.clear(); }

 private:
  bool LoadServers(TConfigStorage& storage);
  bool SaveServers(TConfigStorage& storage);

  std::recursive_mutex lock_;
  int logSection_;
  int tcpSection_;
  int webSection_;
  std::string logDirectory_;
  int32_t logInterval_ = kDefaultLogInterval;
  uint32_t logFlags_ = kDefaultLogFlags;
  bool errorTraceMode_ = false;
  int32_t selfTcpPort_ = 0;
  bool proxyEnabled_ = false;
  bool bypassProxyForLocal_ = false;
  std::string proxyHost_;
  int32_t proxyPort_ = 0;
  int32_t maxHttpDataLength_ = kDefaultMaxHttpDataLength;
  bool proxyORPC_ = false;
  std::vector<std::unique_ptr<TProtectedServer>> servers_;
  std::vector<TConfigNote> notes_;
};

// Holds the settings lock for a scope.
class TConfigLock {
 public:
  explicit TConfigLock(TQSConfig& config) : config_(config) { config_.Lock(); }
  ~TConfigLock() { config_.Unlock(); }
  TConfigLock(const TConfigLock&) = delete;
  TConfigLock& operator=(const TConfigLock&) = delete;

 private:
  TQSConfig& config_;
};

// The class name of a settings object as messages show it ("TQSClientConfig").
std::string ConfigClassName(const TConfig& config);

}  // namespace vg
