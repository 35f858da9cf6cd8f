#pragma once
// The tray's settings item: the setup dialog is shown on the live settings; when the user
// confirms it, live connections may be ended, the listener stops, the dialog's copy replaces
// the live settings and is saved under the settings lock, and the listener starts again with
// the new port and log settings. A file that cannot be written shows why; the live settings
// then stay as they were and the dialog opens again with the user's edits.
#include <string>

#include "settings/Cfg_Clnt.h"
#include "tunnel/AboutFrm.h"
#include "tunnel/fThrList.h"

namespace vg {

// What the flow needs from the windows.
class ISettingsFlowView {
 public:
  virtual ~ISettingsFlowView() = default;
  // Shows the setup dialog modally; true on OK. With reload the dialog starts from the live
  // settings (SetSettings), else from its copy as the user left it.
  virtual bool RunDialog(TQSClientConfig& live, bool reload) = 0;
  // The dialog's settings copy after OK.
  virtual const TQSClientConfig& DialogSettings() = 0;
  // A Yes/No box with the caption "Предупреждение"; true for Yes.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
  virtual void ShowError(const std::string& text) = 0;
};

// The outcome, for the caller and the tests.
enum class TSettingsFlowResult { Cancelled, Applied };

TSettingsFlowResult RunSettingsFlow(TAboutForm& form, ISettingsFlowView& view, TQSClientConfig& live, TRList& threads);

}  // namespace vg
