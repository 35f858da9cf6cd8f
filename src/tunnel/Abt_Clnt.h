#pragma once
// The client part's main window and the checks the program makes at start.
#include <string>

#include "tunnel/AboutFrm.h"

namespace vg {

// The window class name by which other programs find the running tunnel.
inline constexpr char kMainWindowClass[] = "TQSVeilgateAboutForm";

class TQSVeilgateAboutForm : public TAboutForm {
 public:
  explicit TQSVeilgateAboutForm(TAboutFormView* view = nullptr);
  ~TQSVeilgateAboutForm() override;

  // Activates the tray icon, runs the common creation step and sets the build label.
  void FormCreate() override;
  // Also forgets every agreed session key, so that keys are agreed anew after a restart.
  void StopListener() override;
  std::string Caption() const override;

 protected:
  void MServerSockGetThread(platform::ClientSocket&& accepted) override;
};

// "QS-Veilgate (клиентская часть)": the window caption and the tray tooltip.
const std::string& ClientPartCaption();

// The registry key whose presence means that an earlier release is installed.
const std::string& EarlierReleaseKey();
// True when that key exists (read-only look-up).
bool EarlierReleaseInstalled();
// The message shown before the program ends because of it, and its caption.
const std::string& EarlierReleaseText();
const std::string& EarlierReleaseCaption();

}  // namespace vg
