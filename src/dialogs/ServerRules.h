#pragma once
// What the protected server dialog does, without its windows: it finds the record it edits in
// the setup dialog's settings copy (or makes a fresh one), keeps an editor link on the record's
// engine for the parameter grid, fills the controls, and checks and writes them back in a
// fixed order. The dialog classes of the desktop shell are views over these rules.
//
// Terms:
//   copy   - the setup dialog's settings copy; the dialog never touches the live settings.
//   record - the server being edited: the copy's own record, or a fresh one owned here until
//            a successful save adds it to the copy.
//   link   - the editor link: a temporary engine of the chosen type that knows the parameter
//            names, their defaults and their current values, and checks new values.
//   grid   - the parameter grid: one row per parameter with a "*" against a changed default.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "protection/fcrypt.h"
#include "settings/Cfg_Comm.h"

namespace vg {

// The controls of the server dialog (texts Windows-1251).
struct TServerControls {
  std::string Name;             // WebLocationEdit
  std::string RedirectAddress;  // VeilgateAddressEdit
  std::string RedirectPort;     // VeilgatePortEdit
  std::string Compress;         // CompressMethod's text
  std::string ReserveAddress;   // ReservedAddressEdit (client variant)
  std::string ReservePort;      // ReservedPortEdit (client variant)
  std::string EngineType;       // CryptoEngineTypeEdit's text
  // CryptoParametersGrid: column 1 (name) and column 2 (value) of every row.
  std::vector<std::pair<std::string, std::string>> Params;
  std::string CertDirectory;  // ScanCertRootPathEdit
  bool Include = false;
  bool Withdraw = false;
  bool ClearBuffer = false;  // "Очистить буфер": opens unchecked
};

// One row of the parameter grid.
struct TParamRow {
  std::string Mark;  // "*" when the value differs from the engine's default
  std::string Name;
  std::string Value;
};

// The outcome of SaveControls: empty message on success; else the box's text and the control
// to focus.
struct TServerSaveResult {
  bool Ok = true;
  std::string Message;
  std::string Control;
};

class TWebServerRules {
 public:
  // The compression pick list, in CompressMode order.
  static std::vector<std::string> CompressNames();
  // The three texts under the certificates page for a directory.
  static std::array<std::string, 3> DerivedDirectories(const std::string& directory);
  // The engine types the crypto library offers (empty without the library).
  static std::vector<std::string> EngineTypes();

  // serverName and engineType: the grid row the dialog was opened on (both empty for a new
  // server). The copy must outlive the rules.
  TWebServerRules(TQSConfig& copy, std::string serverName, std::string engineType);
  virtual ~TWebServerRules();
  TWebServerRules(const TWebServerRules&) = delete;
  TWebServerRules& operator=(const TWebServerRules&) = delete;

  // Showing: the record found or made and its parameters loaded into the link; false when an
  // existing server is no longer in the copy (the dialog then only closes).
  bool Open();
  bool IsNew() const { return isNew_; }
  TProtectedServer* Record() { return record_; }
  const std::string& OpenedEngineType() const { return engineType_; }
  TCryptoParamsEditorLink& Link() { return link_; }

  // Controls from the record (nothing when it has no address yet) with the parameter grid.
  virtual void LoadControls(TServerControls& controls);
  // Checks and writes the controls into the record; a new record joins the copy at the end.
  virtual TServerSaveResult SaveControls(const TServerControls& controls);
  // Cancel: a fresh record is dropped.
  void Cancel();

  // The grid for the link's engine (one empty row when it has no parameters).
  std::vector<TParamRow> ParamRows() const;
  // The marks for edited values, row by row.
  std::vector<std::string> Marks(const std::vector<std::pair<std::string, std::string>>& rows) const;
  // A new engine type chosen in the pick list: the link switches to it.
  void SelectEngineType(const std::string& type);
  // The parameters the keys test runs with: the link's current ones.
  const TCryptoParams& CurrentParams() { return link_.GetParams(); }

 private:
  TQSConfig& copy_;
  std::string serverName_;
  std::string engineType_;
  bool isNew_ = false;
  TProtectedServer* record_ = nullptr;
  std::unique_ptr<TProtectedServer> fresh_;
  TCryptoParamsEditorLink link_;
};

// The client variant: the reserve channel; no certificates page.
class TWebServerClientRules : public TWebServerRules {
 public:
  using TWebServerRules::TWebServerRules;
  void LoadControls(TServerControls& controls) override;
  TServerSaveResult SaveControls(const TServerControls& controls) override;
};

}  // namespace vg
