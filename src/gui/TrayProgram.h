#pragma once
// The tray program: the desktop shell of the main window (tray icon and its menu, the about
// window, the settings item) and the program's run with windows.
#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "tunnel/AboutFrm.h"

class QAction;
class QMenu;
class QTimer;

namespace vg::gui {

class TAboutWindow;
class TQSClientSetupForm;
class TTrayIcon;
class TWindowPromptService;

class TTrayShell : public QObject, public TAboutFormView {
  Q_OBJECT
 public:
  struct TOptions {
    // How long to wait for a tray host that is not there yet, and how often to look.
    std::chrono::milliseconds TrayWait{30000};
    std::chrono::milliseconds TrayPoll{1000};
    std::function<bool()> TrayAvailable;  // default: the system tray's own answer
  };

  TTrayShell();
  explicit TTrayShell(TOptions options);
  ~TTrayShell() override;

  // The main window whose handlers the menu and the about window call (null to detach).
  void SetForm(TAboutForm* form) { form_ = form; }
  // The prompt windows to close when unloading.
  void SetPrompts(std::shared_ptr<TWindowPromptService> prompts) { prompts_ = std::move(prompts); }

  void ActivateTrayIcon(const std::string& toolTip) override;
  void DeactivateTrayIcon() override;
  void SetVersionHint(const std::string& text) override;
  void SetBuildLabel(const std::string& text) override;
  void ShowAboutWindow() override;
  void HideAboutWindow() override;
  void RunSetupDialog() override;

  // "Выгрузить" and the quit message: closes every box and prompt so that no connection thread
  // waits for the GUI thread, then lets the main window end every connection and terminate.
  void Unload();
  bool Unloading() const { return unloading_; }

  QMenu* Menu() const { return menu_; }
  // The settings dialog, made on the first use of the settings item.
  TQSClientSetupForm* SetupForm() const { return setupForm_.get(); }
  TAboutWindow* AboutWindow() const { return about_; }
  TTrayIcon* Tray() const { return tray_; }
  // True while the program shows its commands in the about window for want of a tray.
  bool NoTrayFallback() const { return fallback_; }

 private:
  void LookForTray();
  void EnterFallback();

  TOptions options_;
  TAboutForm* form_ = nullptr;
  std::shared_ptr<TWindowPromptService> prompts_;
  QMenu* menu_;
  TTrayIcon* tray_;
  TAboutWindow* about_;
  std::unique_ptr<TQSClientSetupForm> setupForm_;
  bool inSetup_ = false;
  QTimer* trayTimer_;
  std::chrono::steady_clock::time_point trayDeadline_;
  bool trayWanted_ = false;
  bool fallback_ = false;
  bool unloading_ = false;
};

// Runs the tray program until it is unloaded; the result is the process's exit code.
int RunTrayProgram(const std::string& configFile, int argc, char** argv);

}  // namespace vg::gui
