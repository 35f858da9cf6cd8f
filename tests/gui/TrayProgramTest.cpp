// The tray program's shell around the main window: menu, about window, start-up boxes, the
// quit message, message boxes of other threads, a desktop without a tray; and the program as
// a process (second instance, quit message).
#include <gtest/gtest.h>
#include <signal.h>

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <atomic>
#include <future>
#include <regex>
#include <thread>

#include "GuiSupport.h"
#include "TrayRun.h"
#include "config/fLogMngr.h"
#include "gui/AboutWindow.h"
#include "gui/TrayIcon.h"
#include "platform/Instance.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"
#include "support/RelaySupport.h"

using namespace guitest;
using namespace relaytest;
using vg::gui::TAboutWindow;

namespace {

const std::string kProgram = std::string(VG_TEST_BIN_DIR) + "/vgproxy";

class TrayProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    cfg_ = ReadFileText(std::string(VG_TEST_BIN_DIR) + "/veilgate.cfg");
    ASSERT_FALSE(cfg_.empty());
    cfg_ = std::regex_replace(cfg_, std::regex("Self TCP port=\\d+"), "Self TCP port=" + std::to_string(port_));
    cfg_ = std::regex_replace(cfg_, std::regex("Log-file name=[^\n]*"), "Log-file name=" + dir_.File("logs"));
    WriteFileText(Config(), cfg_);
  }
  void TearDown() override { Stop(); }

  std::string Config() const { return dir_.File("veilgate.cfg"); }

  bool Start(bool trayAvailable = true) {
    const bool started = run_.Start(Config(), trayAvailable);
    shell_ = run_.shell.get();
    program_ = run_.program.get();
    start_ = run_.start;
    return started;
  }
  void Stop() { run_.Stop(); }

  TAboutWindow* About() const { return shell_->AboutWindow(); }
  template <class T>
  T* Child(const char* name) const {
    return About()->findChild<T*>(name);
  }
  QAction* Item(const char* name) const { return shell_->Menu()->findChild<QAction*>(name); }
  std::string ServiceLog() const { return RunProcess({"sh", "-c", "cat " + dir_.File("logs") + "/*service*"}).out; }

  TempDir dir_;
  int port_ = 0;
  std::string cfg_;
  TrayRun run_;
  vg::gui::TTrayShell* shell_ = nullptr;
  vg::TClientProgram* program_ = nullptr;
  vg::TClientProgram::TStart start_ = vg::TClientProgram::TStart::Running;
  std::atomic<int>& terminated_ = run_.terminated;
};

TEST_F(TrayProgram, MenuAboutWindowAndUnload) {
  BoxAnswerer boxes;
  ASSERT_TRUE(Start());
  EXPECT_EQ(start_, vg::TClientProgram::TStart::Running);
  EXPECT_TRUE(program_->Form()->Listening());
  EXPECT_TRUE(WaitForPort(port_, 1000));
  EXPECT_TRUE(shell_->Tray()->Active());
  EXPECT_EQ(shell_->Tray()->ToolTip(), "QS-Veilgate (клиентская часть)");
  EXPECT_FALSE(About()->isVisible());
  EXPECT_FALSE(shell_->NoTrayFallback());

  std::vector<std::string> captions;
  for (QAction* action : shell_->Menu()->actions())
    captions.push_back(action->isSeparator() ? "-"
                                             : action->objectName().toStdString() + " " + action->text().toStdString());
  EXPECT_EQ(captions,
            (std::vector<std::string>{"SetupItem Настройки", "AboutItem О программе", "-", "UnloadItem Выгрузить"}));

  Item("AboutItem")->trigger();
  ASSERT_TRUE(About()->isVisible());
  EXPECT_EQ(Child<QLabel>("ProductLabel")->text(), "QS-Veilgate (клиентская часть)");
  EXPECT_TRUE(std::regex_match(Child<QLabel>("VersionLabel")->toolTip().toStdString(),
                               std::regex("\\d+\\.\\d+\\.\\d+\\.\\d+")));
  // This test program carries no version record.
  EXPECT_EQ(Child<QLabel>("BuildLabel")->text(), "Сборка: 0");
  EXPECT_NE(Child<QLabel>("MemoryLabel")->text().indexOf("КБ"), -1);
  EXPECT_FALSE(Child<QWidget>("MenuCommands")->isVisibleTo(About()));
  Child<QPushButton>("CancelButton")->click();
  EXPECT_FALSE(About()->isVisible());
  shell_->Tray()->OnDblClick();
  EXPECT_TRUE(About()->isVisible());
  EXPECT_FALSE(About()->close());  // the close box only hides the window
  EXPECT_FALSE(About()->isVisible());

  // The settings item shows the setup dialog; cancelled, it changes nothing.
  Script cancel;
  cancel.Then([&] {
    auto* dialog = VisibleWindow<QDialog>("TQSClientSetupForm");
    if (dialog) dialog->findChild<QPushButton*>("CancelButton")->click();
    return dialog != nullptr;
  });
  Item("SetupItem")->trigger();
  EXPECT_TRUE(cancel.Done());
  EXPECT_TRUE(boxes.Seen.empty());
  EXPECT_EQ(ReadFileText(Config()), cfg_);

  shell_->Tray()->SetToolTip(QString(70, QChar(0x0416)));
  EXPECT_EQ(shell_->Tray()->ToolTip(), QString(62, QChar(0x0416)));

  Item("UnloadItem")->trigger();
  EXPECT_TRUE(WaitUntil([&] { return terminated_ == 1; }));
  EXPECT_FALSE(shell_->Tray()->Active());
}

TEST_F(TrayProgram, StartUpFailuresAreShownAndTheProgramStaysInTheTray) {
  // Settings without a port: the program stays, without listening.
  WriteFileText(Config(), std::regex_replace(cfg_, std::regex("Self TCP port=\\d+\n"), ""));
  {
    BoxAnswerer boxes;
    ASSERT_TRUE(Start());
    ASSERT_EQ(boxes.Seen.size(), 1u);
    EXPECT_EQ(boxes.Seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.Seen[0].caption, "QS-Veilgate (клиентская часть)");
    EXPECT_EQ(boxes.Seen[0].text.rfind("QS-Veilgate (клиентская часть) : Ошибка при чтении конфигурации", 0), 0u)
        << boxes.Seen[0].text;
    EXPECT_FALSE(program_->Form()->Listening());
    EXPECT_TRUE(shell_->Tray()->Active());
    EXPECT_EQ(start_, vg::TClientProgram::TStart::Running);
  }
  Stop();

  // A busy port: the socket error is shown, and the next start of the listener tries again.
  WriteFileText(Config(), cfg_);
  auto busy = std::make_unique<TestHttpServer>();
  WriteFileText(Config(), std::regex_replace(cfg_, std::regex("Self TCP port=\\d+"),
                                             "Self TCP port=" + std::to_string(busy->Port())));
  {
    BoxAnswerer boxes;
    ASSERT_TRUE(Start());
    ASSERT_EQ(boxes.Seen.size(), 1u);
    EXPECT_NE(boxes.Seen[0].text.find("Address already in use"), std::string::npos) << boxes.Seen[0].text;
    EXPECT_FALSE(program_->Form()->Listening());
    const int port = busy->Port();
    busy.reset();
    program_->Form()->StartListener();
    EXPECT_TRUE(program_->Form()->Listening());
    EXPECT_TRUE(WaitForPort(port, 1000));
  }
  Stop();

  // An earlier release in the registry: its box, then the program ends.
  namespace reg = vg::platform::registry;
  const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QS-Veilgate";
  reg::Key key;
  ASSERT_EQ(reg::CreateKey(reg::Key::RootKey(reg::Root::kLocalMachine), uninstall, key), reg::kSuccess);
  {
    BoxAnswerer boxes;
    ASSERT_TRUE(Start());
    EXPECT_EQ(start_, vg::TClientProgram::TStart::EarlierRelease);
    ASSERT_EQ(boxes.Seen.size(), 1u);
    EXPECT_EQ(boxes.Seen[0].caption, "Versions error!");
    EXPECT_EQ(boxes.Seen[0].icon, QMessageBox::Critical);
    EXPECT_NE(boxes.Seen[0].text.find("(релиз 15)"), std::string::npos);
  }
  reg::DeleteKeyTree(reg::Key::RootKey(reg::Root::kLocalMachine), uninstall);
}

TEST_F(TrayProgram, BoxesOfOtherThreadsWaitOnTheGuiThreadAndUnloadReleasesThem) {
  ASSERT_TRUE(Start());
  // A connection thread's log failure: the box is a window of the GUI thread; the thread waits.
  std::atomic<bool> returned{false};
  std::thread relay([&] {
    vg::TLogManager::ShowLogError("log failure");
    returned = true;
  });
  ASSERT_TRUE(WaitUntil([] { return vg::gui::OpenMessageBoxCount() == 1; }));
  EXPECT_FALSE(returned);
  // While that box is open, another one from the same source is not stacked on it.
  vg::TLogManager::ShowLogError("second");
  EXPECT_EQ(vg::gui::OpenMessageBoxCount(), 1);

  // Unloading closes it and lets the thread go on, so nothing waits behind the box.
  Item("UnloadItem")->trigger();
  EXPECT_TRUE(WaitUntil([&] { return terminated_ == 1 && returned; }));
  EXPECT_EQ(vg::gui::OpenMessageBoxCount(), 0);
  relay.join();
  // Later boxes do not show.
  vg::platform::ShowMessageBox("caption", "after unload");
  EXPECT_EQ(vg::gui::OpenMessageBoxCount(), 0);
}

TEST_F(TrayProgram, WithoutATrayTheAboutWindowCarriesTheMenu) {
  ASSERT_TRUE(Start(false));
  ASSERT_TRUE(WaitUntil([&] { return About()->isVisible(); }));
  EXPECT_TRUE(shell_->NoTrayFallback());
  EXPECT_FALSE(shell_->Tray()->Active());
  EXPECT_TRUE(Child<QWidget>("MenuCommands")->isVisible());
  EXPECT_NE(ServiceLog().find(vg::platform::Utf8ToCp1251("Область уведомлений не найдена")), std::string::npos)
      << ServiceLog();
  // Closing it keeps it reachable.
  EXPECT_FALSE(About()->close());
  EXPECT_TRUE(About()->isVisible());
  EXPECT_TRUE(About()->isMinimized());
  Child<QPushButton>("UnloadButton")->click();
  EXPECT_TRUE(WaitUntil([&] { return terminated_ == 1; }));
}

TEST_F(TrayProgram, TheQuitMessageUnloadsLikeTheMenu) {
  ASSERT_TRUE(Start());
  auto posted = std::async(std::launch::async, [] { return vg::platform::PostQuitToWindow(vg::kMainWindowClass); });
  EXPECT_TRUE(WaitUntil([&] { return terminated_ == 1 && Ready(posted); }));
  EXPECT_TRUE(posted.get());
}

// The program as a process: one instance per desktop whichever kind started first, and the
// quit message ends the tray program.
TEST_F(TrayProgram, OneInstancePerDesktopAndTheQuitMessageAsProcesses) {
  const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + std::string(std::getenv("XDG_RUNTIME_DIR")),
                                        "VG_REGISTRY_DIR=" + dir_.File("registry"),
                                        "DISPLAY=",
                                        "WAYLAND_DISPLAY=",
                                        "QT_QPA_PLATFORM=offscreen",
                                        "VG_TRAY_WAIT_MS=0",
                                        "LD_LIBRARY_PATH=" + std::string(VG_TEST_BIN_DIR)};
  {
    Process headless({kProgram, "--headless", "--config", Config()}, env, dir_.File("headless.txt"));
    ASSERT_TRUE(WaitForPort(port_, 10000)) << ReadFileText(dir_.File("headless.txt"));
    EXPECT_FALSE(Start());  // this process's tray program
    Stop();
    const ProcessResult tray = RunProcess({kProgram, "--config", Config()}, 10000, env);
    EXPECT_EQ(tray.exitCode, 0);
    EXPECT_EQ(headless.Stop(SIGTERM, 5000), 0);
  }
  Process tray({kProgram, "--config", Config()}, env, dir_.File("tray.txt"));
  ASSERT_TRUE(WaitForPort(port_, 10000)) << ReadFileText(dir_.File("tray.txt"));
  const ProcessResult second = RunProcess({kProgram, "--headless", "--config", Config()}, 10000, env);
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_TRUE(vg::platform::PostQuitToWindow(vg::kMainWindowClass));
  EXPECT_EQ(tray.WaitExit(10000), 0) << ReadFileText(dir_.File("tray.txt"));
  EXPECT_FALSE(vg::platform::FindWindowByClass(vg::kMainWindowClass));
}

}  // namespace
