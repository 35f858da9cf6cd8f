#pragma once
// One protected web server: the names the browser uses for it, the gateway locations its
// protected traffic goes to, its crypto engine with parameters and its compression.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/Cfg_Abst.h"
#include "platform/SysUtils.h"
#include "protection/fcrypt.h"
#include "sockets/fEntry.h"

namespace vg {

// Raised when a record would get more addresses than it may hold.
class EServerAddressError : public Exception {
 public:
  using Exception::Exception;
};

class TProtectedServer {
 public:
  // The first address is the web server host, the second the web server address.
  static constexpr int kMaxAddresses = 2;
  static constexpr uint8_t kMainLocation = 1;
  static constexpr uint8_t kReserveLocation = 2;

  TProtectedServer();
  ~TProtectedServer();
  TProtectedServer(const TProtectedServer&) = delete;
  TProtectedServer& operator=(const TProtectedServer&) = delete;

  // Copies everything, the key values and the active location included.
  void Assign(const TProtectedServer& other);

  bool Include() const { return include_; }
  void SetInclude(bool value) { include_ = value; }
  bool Withdraw() const { return withdraw_; }
  void SetWithdraw(bool value) { withdraw_ = value; }
  // "Очистить буфер" of the server dialog as last confirmed; kept in memory only.
  bool ClearBuffer() const { return clearBuffer_; }
  void SetClearBuffer(bool value) { clearBuffer_ = value; }
  const std::string& ScanRootPath() const { return scanRootPath_; }
  void SetScanRootPath(std::string path) { scanRootPath_ = std::move(path); }

  const TCryptoParams& CryptoParams() const { return *params_; }
  TCryptoParams& CryptoParams() { return *params_; }
  // Copies values, indices and the engine type name.
  void SetCryptoParams(const TCryptoParams& params);

  int AddressCount() const { return static_cast<int>(addresses_.size()); }
  const THttpEntry& Address(int index) const;
  // Index equal to the count appends an entry first; the entry then takes host and port.
  void SetAddress(int index, const THttpEntry& entry);
  void ClearAddresses();
  // Host compared without regard to letter case, port exactly; the last match wins; -1 if none.
  int IndexOfAddress(const THttpEntry& entry) const;
  // The addresses' text forms joined by ";".
  std::string AddressesText() const;
  // Replaces the addresses by the ";"-separated parts of text (empty parts skipped). A third
  // address raises EServerAddressError; the addresses taken before it stay.
  void SetAddressesText(const std::string& text);

  THttpEntry& VeilgateLocation() { return *veilgateLocation_; }
  const THttpEntry& VeilgateLocation() const { return *veilgateLocation_; }
  // An empty host means there is no reserve gateway.
  THttpEntry& ReserveLocation() { return *reserveLocation_; }
  const THttpEntry& ReserveLocation() const { return *reserveLocation_; }

  // 0 none, 1 medium, 2 maximum.
  uint8_t CompressMode() const { return compressMode_; }
  void SetCompressMode(uint8_t mode) { compressMode_ = mode; }

  // 1 while the main gateway is in use, 2 while the reserve is.
  uint8_t ActiveLocation() const { return activeLocation_; }
  const THttpEntry& CurrentLocation() const;
  // Moves to the other gateway when that one has a host; false when there is none.
  bool SwitchLocation();

  // Handed out by the gateway with a connection key; kept in memory only.
  int32_t KeyValueA() const { return keyValueA_; }
  void SetKeyValueA(int32_t value) { keyValueA_ = value; }
  int32_t KeyValueB() const { return keyValueB_; }
  void SetKeyValueB(int32_t value) { keyValueB_ = value; }

  // Both return false when something could not be read or written; nothing is raised for
  // storage errors. What went wrong is left in LastErrors() (Windows-1251 texts).
  bool LoadFromConfig(TConfigStorage& section);
  bool SaveToConfig(TConfigStorage& section);
  const std::vector<std::string>& LastErrors() const { return lastErrors_; }

  // The root directory handed to the engine while parameter names are matched on loading:
  // the maker's installation path from the registry, else the parent of the program's
  // directory; always with a trailing separator.
  static std::string CryptoRootPath();

 private:
  void NoteError(const std::exception& error);

  bool include_ = false;
  bool withdraw_ = false;
  bool clearBuffer_ = false;
  std::string scanRootPath_;
  std::unique_ptr<TCryptoParams> params_;
  std::vector<std::unique_ptr<THttpEntry>> addresses_;
  std::unique_ptr<THttpEntry> veilgateLocation_;
  std::unique_ptr<THttpEntry> reserveLocation_;
  uint8_t compressMode_ = 0;
  uint8_t activeLocation_ = kMainLocation;
  int32_t keyValueA_ = 0;
  int32_t keyValueB_ = 0;
  std::vector<std::string> lastErrors_;
};

// The parent of a program directory ("/opt/vg/bin/" gives "/opt/vg/"), with a trailing
// separator; a lone separator when the directory has no parent part.
std::string ParentOfProgramDir(const std::string& programDir);

}  // namespace vg
