#include "gui/TrayProgram.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>

#include "config/fLogMngr.h"
#include "dialogs/SettingsFlow.h"
#include "gui/AboutWindow.h"
#include "gui/GuiText.h"
#include "gui/MessageBoxes.h"
#include "gui/SetupFrm.h"
#include "gui/TrayIcon.h"
#include "gui/WindowPrompts.h"
#include "platform/CodePage.h"
#include "platform/Environment.h"
#include "platform/Instance.h"
#include "platform/MessageBox.h"
#include "platform/SysUtils.h"
#include "settings/Cfg_Clnt.h"
#include "tunnel/ClientProgram.h"
#include "tunnel/fThrList.h"

namespace vg::gui {
namespace {

// A tray host that was not found in time is still looked for, less often.
constexpr std::chrono::milliseconds kLatePoll{5000};

QAction* AddItem(QMenu* menu, const char* name, const std::string& caption) {
  QAction* action = menu->addAction(FromCp1251(caption));
  action->setObjectName(name);
  return action;
}

}  // namespace

TTrayShell::TTrayShell() : TTrayShell(TOptions{}) {}

TTrayShell::TTrayShell(TOptions options)
    : options_(std::move(options)),
      menu_(new QMenu),
      tray_(new TTrayIcon(this)),
      about_(new TAboutWindow),
      trayTimer_(new QTimer(this)) {
  if (!options_.TrayAvailable) options_.TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  menu_->setObjectName("IconPopupMenu");
  connect(AddItem(menu_, "SetupItem", VGT("Настройки")), &QAction::triggered, this, [this] {
    if (form_) form_->SetupItemClick();
  });
  connect(AddItem(menu_, "AboutItem", VGT("О программе")), &QAction::triggered, this, [this] {
    if (form_) form_->AboutItemClick();
  });
  menu_->addSeparator();
  connect(AddItem(menu_, "UnloadItem", VGT("Выгрузить")), &QAction::triggered, this, &TTrayShell::Unload);

  tray_->SetIcon(ProgramIcon());
  tray_->SetPopupMenu(menu_);
  tray_->OnDblClick = [this] {
    if (form_) form_->AboutItemClick();
  };

  about_->OnOk = [this] {
    if (form_) form_->CancelButtonClick();
  };
  about_->OnCloseQuery = [this] { return form_ ? form_->FormCloseQuery() : false; };
  about_->OnSetup = [this] {
    if (form_) form_->SetupItemClick();
  };
  about_->OnUnload = [this] { Unload(); };

  connect(trayTimer_, &QTimer::timeout, this, &TTrayShell::LookForTray);
}

TTrayShell::~TTrayShell() {
  tray_->SetActive(false);
  delete about_;
  delete menu_;
}

void TTrayShell::ActivateTrayIcon(const std::string& toolTip) {
  tray_->SetToolTip(FromCp1251(toolTip));
  about_->SetProduct(FromCp1251(toolTip));
  trayWanted_ = true;
  trayDeadline_ = std::chrono::steady_clock::now() + options_.TrayWait;
  LookForTray();
}

void TTrayShell::DeactivateTrayIcon() {
  trayWanted_ = false;
  trayTimer_->stop();
  tray_->SetActive(false);
}

void TTrayShell::LookForTray() {
  if (!trayWanted_) return;
  if (options_.TrayAvailable()) {
    trayTimer_->stop();
    tray_->SetActive(true);
    // A tray that came late takes the commands back; the window stays until the user closes it.
    if (fallback_) {
      fallback_ = false;
      about_->SetMenuCommandsVisible(false);
    }
    return;
  }
  if (fallback_) return;
  if (std::chrono::steady_clock::now() >= trayDeadline_) {
    EnterFallback();
    return;
  }
  if (!trayTimer_->isActive()) trayTimer_->start(static_cast<int>(options_.TrayPoll.count()));
}

void TTrayShell::EnterFallback() {
  fallback_ = true;
  trayTimer_->start(static_cast<int>(kLatePoll.count()));
  TLogManager().WriteService(VGT("Область уведомлений не найдена: окно программы показано с командами меню значка"));
  about_->SetMenuCommandsVisible(true);
  about_->show();
  about_->raise();
}

void TTrayShell::SetVersionHint(const std::string& text) { about_->SetVersionHint(FromCp1251(text)); }

void TTrayShell::SetBuildLabel(const std::string& text) { about_->SetBuildLabel(FromCp1251(text)); }

void TTrayShell::ShowAboutWindow() {
  about_->showNormal();
  about_->raise();
  about_->activateWindow();
}

void TTrayShell::HideAboutWindow() {
  // Without a tray a hidden window could not be found again; it goes to the taskbar instead.
  if (fallback_) {
    about_->showMinimized();
  } else {
    about_->hide();
  }
}

namespace {

// The settings flow's windows: the setup dialog and its boxes.
class TTraySettingsView : public ISettingsFlowView {
 public:
  explicit TTraySettingsView(TQSClientSetupForm& form) : form_(form) {}
  bool RunDialog(TQSClientConfig& live, bool reload) override {
    if (reload) form_.SetSettings(live);
    form_.show();
    form_.raise();
    form_.activateWindow();
    return form_.exec() == QDialog::Accepted;
  }
  const TQSClientConfig& DialogSettings() override { return form_.ClientRules().ClientCopy(); }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    QMessageBox box(QMessageBox::Question, FromCp1251(caption), FromCp1251(text), QMessageBox::Yes | QMessageBox::No,
                    &form_);
    box.setObjectName("MessageBox");
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }
  void ShowError(const std::string& text) override { ShowDialogBox(&form_, text, TBoxIcon::Error); }

 private:
  TQSClientSetupForm& form_;
};

}  // namespace

void TTrayShell::RunSetupDialog() {
  if (!form_ || unloading_) return;
  // A second click while the dialog is open only brings it to the front.
  if (inSetup_) {
    if (setupForm_) {
      setupForm_->raise();
      setupForm_->activateWindow();
    }
    return;
  }
  inSetup_ = true;
  if (!setupForm_) setupForm_ = std::make_unique<TQSClientSetupForm>();
  TTraySettingsView view(*setupForm_);
  try {
    RunSettingsFlow(*form_, view, Settings(), ThreadList());
  } catch (const std::exception& e) {
    form_->ShowError(e.what());
  }
  inSetup_ = false;
}

void TTrayShell::Unload() {
  if (unloading_) return;
  unloading_ = true;
  // An open settings dialog ends as cancelled; its flow then changes nothing.
  if (setupForm_ && setupForm_->isVisible()) setupForm_->reject();
  CloseAllMessageBoxes();
  if (prompts_) prompts_->CloseAll();
  RemovePromptService();
  about_->hide();
  tray_->SetActive(false);
  // Runs once the loops of the boxes and prompts just closed have returned.
  QTimer::singleShot(0, this, [this] {
    if (form_) form_->UnloadItemClick();
  });
}

int RunTrayProgram(const std::string& configFile, int argc, char** argv) {
  platform::EventLoop::BlockTerminationSignals();
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(ProgramIcon());

  TTrayShell::TOptions options;
  // A desktop whose tray host starts slowly, or a test, may ask for another wait.
  if (const auto wait = platform::ReadEnvironmentVariable("VG_TRAY_WAIT_MS"); wait && !wait->empty())
    options.TrayWait = std::chrono::milliseconds(std::max(0, std::atoi(wait->c_str())));
  TTrayShell shell(options);
  auto unload = [&shell] {
    QMetaObject::invokeMethod(
        &shell, [&shell] { shell.Unload(); }, Qt::QueuedConnection);
  };

  int code = 0;
  {
    TClientProgram program(&shell, configFile);
    if (!program.ClaimInstance(unload)) {
      if (program.InstanceProblem().empty()) return 0;
      platform::ShowMessageBox(ClientPartCaption(), platform::Utf8ToCp1251(program.InstanceProblem()),
                               platform::MessageBoxKind::Error);
      return 1;
    }
    platform::TerminationSignalWatcher signalWatcher(unload);
    InstallWindowMessageBoxes();
    std::shared_ptr<TWindowPromptService> prompts = InstallWindowPrompts();
    shell.SetPrompts(prompts);

    bool terminated = false;
    const TClientProgram::TStart start = program.Create(
        [&terminated] {
          terminated = true;
          QCoreApplication::quit();
        },
        [&shell](TQSVeilgateAboutForm& form) { shell.SetForm(&form); });
    if (start == TClientProgram::TStart::EarlierRelease) {
      code = 1;
    } else if (!terminated) {
      // An unload asked for during the creation step ran inside a box's loop already.
      code = QApplication::exec();
    }
    // Nothing may wait for a window from here on.
    CloseAllMessageBoxes();
    prompts->CloseAll();
    RemovePromptService();
    shell.SetForm(nullptr);
  }
  shell.DeactivateTrayIcon();
  RemoveWindowMessageBoxes();
  return code;
}

}  // namespace vg::gui
