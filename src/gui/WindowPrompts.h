#pragma once
// The prompt service of the tray program: the password and key-medium windows, run on the GUI
// thread; engine threads hand their requests over through the prompt service's hand-over.
#include <memory>

#include "gui/PasswordForm.h"
#include "gui/TMReqForm.h"
#include "protection/PromptService.h"

namespace vg::gui {

class TWindowPromptService : public TPromptService {
 public:
  TWindowPromptService();
  ~TWindowPromptService() override;

  bool AskPassword(std::string& password) override;
  void ShowKeyMediumPrompt() override;
  void HideKeyMediumPrompt() override;

  // Cancels a password dialog that is open and takes the key-medium prompt down (unloading).
  void CloseAll();

  // The windows, for tests and pictures; null while they do not exist.
  TfPassword* PasswordDialog() const { return password_.get(); }
  TfmTMReq* KeyMediumPrompt() const { return keyMedium_.get(); }

 private:
  std::unique_ptr<TfPassword> password_;  // created on first use, then kept
  std::unique_ptr<TfmTMReq> keyMedium_;   // exists while the prompt is up
};

// Creates the service and installs it, served by the calling (GUI) thread; the application
// must exist. Returns the service so that the caller can close its windows when unloading.
std::shared_ptr<TWindowPromptService> InstallWindowPrompts();

}  // namespace vg::gui
