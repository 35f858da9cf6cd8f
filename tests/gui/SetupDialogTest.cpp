// The setup dialogs on the offscreen platform, through their controls found by object name:
// the tunnel setup dialog (pages, enabling rules, a failed save that brings its page to the
// front, the allowed hosts), the server dialog opened from the servers page, and the tray's
// settings item changing the port while a download runs. With VG_GUI_SHOTS set every page
// of both dialogs is pictured (scripts/screenshots.sh).
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <cstdlib>
#include <regex>

#include "GuiSupport.h"
#include "TrayRun.h"
#include "gui/SetupFrm.h"
#include "gui/websfrm.h"
#include "platform/Net.h"
#include "support/RelaySupport.h"
#include "tunnel/fThrList.h"

using namespace guitest;
using namespace relaytest;

namespace {

template <class T = QWidget>
T* Find(QWidget* parent, const char* name) {
  T* w = parent->findChild<T*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

void Shot(QWidget* window, const char* file) {
  if (const char* dir = std::getenv("VG_GUI_SHOTS")) window->grab().save(QString(dir) + "/" + file);
}

// Every page of a dialog's top page control pictured as <prefix>-<page object name>.png.
void ShotPages(QDialog* dialog, const std::string& prefix) {
  if (!std::getenv("VG_GUI_SHOTS")) return;
  auto* pages = dialog->findChild<QTabWidget*>("PageControl");
  for (int i = 0; i < pages->count(); ++i) {
    if (!pages->isTabVisible(i)) continue;
    pages->setCurrentIndex(i);
    QApplication::processEvents();
    Shot(dialog, (prefix + "-" + pages->widget(i)->objectName().toStdString() + ".png").c_str());
  }
  pages->setCurrentIndex(0);
}

QString Text(QWidget* parent, const char* name) { return Find<QLineEdit>(parent, name)->text(); }

void SetText(QWidget* parent, const char* name, const QString& text) {
  QLineEdit* edit = Find<QLineEdit>(parent, name);
  edit->clear();
  edit->setFocus();
  Type(edit, text);
}

class SetupDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    live_.SetSelfTcpPort(1030);
    live_.SetLogDirectory("logs");
    live_.SetLogInterval(60);
    live_.SetLogFlags(0x20002);
    dialog_.SetSettings(live_);
    dialog_.SetResolver([](const std::string& name) -> std::optional<uint32_t> {
      if (name == "localhost") return vg::platform::ParseDottedIPv4("127.0.0.1");
      return std::nullopt;
    });
  }

  // Shown and made the active window, so that focus moves as it would on a desktop.
  void Show() {
    dialog_.show();
    QApplication::setActiveWindow(&dialog_);
  }

  vg::TQSClientConfig live_{"/nonexistent/veilgate.cfg"};
  vg::gui::TQSClientSetupForm dialog_;
  BoxAnswerer boxes_;
};

TEST_F(SetupDialog, PagesEnablingAndAFailedSaveThatKeepsTheDialogOpen) {
  Show();
  EXPECT_EQ(dialog_.windowTitle(), "Настройки QS-Veilgate (клиентская часть)");
  auto* pages = Find<QTabWidget>(&dialog_, "PageControl");
  ASSERT_EQ(pages->count(), 3);
  EXPECT_EQ(pages->tabText(0), "Настройки");
  EXPECT_EQ(pages->tabText(1), "Защищаемые сервера");
  EXPECT_EQ(pages->tabText(2), "Ограничение доступа");
  EXPECT_EQ(Text(&dialog_, "SelfPortEdit"), "1030");
  EXPECT_EQ(Find<QCheckBox>(&dialog_, "ProxyEnabledCB")->text(), "использовать proxy");
  EXPECT_EQ(Find<QCheckBox>(&dialog_, "LogOutReqCB")->text(), "записывать ответы");

  // Log flags 0x20002: answers only bad; the page "Исходящие" is hidden.
  auto* logPages = Find<QTabWidget>(&dialog_, "LogPageControl");
  EXPECT_FALSE(logPages->isTabVisible(1));
  EXPECT_TRUE(logPages->isTabVisible(2));
  EXPECT_TRUE(Find<QRadioButton>(&dialog_, "InErrLogRB")->isChecked());
  Find<QCheckBox>(&dialog_, "LogOutReqCB")->setChecked(true);
  EXPECT_TRUE(logPages->isTabVisible(1));
  Find<QRadioButton>(&dialog_, "OutFullLogRB")->setChecked(true);

  EXPECT_FALSE(Find(&dialog_, "ProxyHostEdit")->isEnabled());
  EXPECT_FALSE(Find(&dialog_, "ProxyORPCCB")->isEnabled());
  Find<QCheckBox>(&dialog_, "ProxyEnabledCB")->setChecked(true);
  EXPECT_TRUE(Find(&dialog_, "ProxyHostEdit")->isEnabled());
  EXPECT_TRUE(Find(&dialog_, "cbBypass4Local")->isEnabled());
  ShotPages(&dialog_, "setup");

  // The proxy on this machine at the tunnel's own port: refused, the page comes to the front.
  SetText(&dialog_, "ProxyHostEdit", "localhost");
  SetText(&dialog_, "ProxyPortEdit", "1030");
  SetText(&dialog_, "LogDirEdit", "журналы");
  pages->setCurrentIndex(2);
  Find<QPushButton>(&dialog_, "OkButton")->click();
  ASSERT_EQ(boxes_.Seen.size(), 1u);
  EXPECT_EQ(boxes_.Seen[0].text, "При локальном адресе прокси не должны совпадать номера портов (своего и прокси)");
  EXPECT_TRUE(dialog_.isVisible());
  EXPECT_EQ(pages->currentIndex(), 0);
  EXPECT_EQ(dialog_.focusWidget(), Find(&dialog_, "ProxyPortEdit"));
  EXPECT_EQ(Text(&dialog_, "LogDirEdit"), "журналы");

  // A port above 65535 is refused like one below 1; the log retention page sits in the log tabs.
  SetText(&dialog_, "ProxyPortEdit", "3128");
  SetText(&dialog_, "SelfPortEdit", "70000");
  Find<QPushButton>(&dialog_, "OkButton")->click();
  ASSERT_EQ(boxes_.Seen.size(), 2u);
  EXPECT_EQ(boxes_.Seen[1].text, "Неправильный номер порта");
  EXPECT_EQ(dialog_.focusWidget(), Find(&dialog_, "SelfPortEdit"));
  SetText(&dialog_, "SelfPortEdit", "2040");
  SetText(&dialog_, "LogDaysEdit", "0");
  Find<QPushButton>(&dialog_, "OkButton")->click();
  ASSERT_EQ(boxes_.Seen.size(), 3u);
  EXPECT_EQ(boxes_.Seen[2].text, "Неправильный интервал для журнала");

  SetText(&dialog_, "LogDaysEdit", "14");
  Find<QPushButton>(&dialog_, "OkButton")->click();
  EXPECT_EQ(boxes_.Seen.size(), 3u);
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
  vg::TQSClientConfig& copy = dialog_.ClientRules().ClientCopy();
  EXPECT_EQ(copy.SelfTcpPort(), 2040);
  EXPECT_EQ(copy.ProxyPort(), 3128);
  EXPECT_EQ(copy.LogInterval(), 14);
  EXPECT_EQ(copy.LogDirectory(), vg::platform::Utf8ToCp1251("журналы"));
  EXPECT_EQ(copy.LogFlags(), 0x20303u);
  EXPECT_EQ(live_.SelfTcpPort(), 1030);

  // "Обзор" puts the chosen directory in the edit.
  QString prompt;
  dialog_.ChooseDirectory = [&](const QString& p, const QString&) {
    prompt = p;
    return QString("/var/log/vg");
  };
  Find<QPushButton>(&dialog_, "LogDirBrowseButton")->click();
  EXPECT_EQ(prompt, "Укажите каталог для журнала");
  EXPECT_EQ(Text(&dialog_, "LogDirEdit"), "/var/log/vg");

  // The next showing starts from the live settings.
  dialog_.SetSettings(live_);
  dialog_.show();
  EXPECT_EQ(Text(&dialog_, "SelfPortEdit"), "1030");
  EXPECT_EQ(Text(&dialog_, "LogDirEdit"), "logs");
  dialog_.reject();
}

TEST_F(SetupDialog, AllowedHostsList) {
  Show();
  auto* list = Find<QListWidget>(&dialog_, "lbAllowedHosts");
  auto* edit = Find<QLineEdit>(&dialog_, "edtAddHost");
  auto* add = Find<QPushButton>(&dialog_, "AddHostButton");
  auto* remove = Find<QPushButton>(&dialog_, "DeleteHostButton");
  EXPECT_FALSE(list->isEnabled());
  EXPECT_FALSE(add->isEnabled());
  Find<QRadioButton>(&dialog_, "rbAccessListed")->setChecked(true);
  EXPECT_TRUE(list->isEnabled());
  EXPECT_TRUE(add->isEnabled());
  EXPECT_FALSE(remove->isEnabled());

  SetText(&dialog_, "edtAddHost", "10.0.0.1");
  EXPECT_TRUE(add->isDefault());
  add->click();
  SetText(&dialog_, "edtAddHost", "10.0.0.01");
  add->click();
  ASSERT_EQ(boxes_.Seen.size(), 1u);
  EXPECT_EQ(boxes_.Seen[0].text, "IP-адрес уже внесен в список");
  EXPECT_EQ(boxes_.Seen[0].icon, QMessageBox::Warning);
  EXPECT_EQ(list->count(), 1);
  EXPECT_TRUE(list->item(0)->isSelected());
  EXPECT_TRUE(remove->isEnabled());
  SetText(&dialog_, "edtAddHost", "узел");
  add->click();
  ASSERT_EQ(boxes_.Seen.size(), 2u);
  EXPECT_EQ(boxes_.Seen[1].text, "Неизвестный адрес \"узел\"");
  EXPECT_EQ(boxes_.Seen[1].icon, QMessageBox::Critical);
  SetText(&dialog_, "edtAddHost", "localhost");
  add->click();
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(1)->text(), "127.0.0.1");
  EXPECT_EQ(dialog_.focusWidget(), edit);

  // A double click copies a line into the edit; Delete removes the selected lines.
  emit list->itemDoubleClicked(list->item(1));
  EXPECT_EQ(edit->text(), "127.0.0.1");
  list->clearSelection();
  list->item(0)->setSelected(true);
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(list, &del);
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), "127.0.0.1");
  Find<QPushButton>(&dialog_, "OkButton")->click();
  EXPECT_EQ(dialog_.ClientRules().ClientCopy().ClientAccessType(), vg::TQSClientConfig::kAccessListed);
  EXPECT_EQ(dialog_.ClientRules().ClientCopy().AllowedHosts(),
            std::vector<uint32_t>{vg::platform::ParseDottedIPv4("127.0.0.1")});

  // The list emptied: "only listed hosts" is stored as "only this computer".
  dialog_.show();
  list->selectAll();
  remove->click();
  EXPECT_EQ(list->count(), 0);
  Find<QPushButton>(&dialog_, "OkButton")->click();
  EXPECT_EQ(dialog_.ClientRules().ClientCopy().ClientAccessType(), vg::TQSClientConfig::kAccessLocal);
}

TEST_F(SetupDialog, ServersAddedChangedAndDeletedThroughTheServerDialog) {
  dialog_.show();
  auto* grid = Find<QTableWidget>(&dialog_, "ServersGrid");
  ASSERT_EQ(grid->rowCount(), 1);
  EXPECT_EQ(grid->item(0, 0)->text(), "");
  EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), "Имя сервера");

  std::vector<std::string> seen;
  Script add;
  add.Then([&] {
       auto* server = VisibleWindow<QDialog>("TWebServerClientFrom");
       if (!server) return false;
       EXPECT_EQ(server->windowTitle(), "Настройки защищаемого сервера");
       auto* pages = Find<QTabWidget>(server, "PageControl");
       EXPECT_FALSE(pages->isTabVisible(2));  // no certificates page in the client variant
       EXPECT_NE(server->findChild<QLineEdit*>("ReservedAddressEdit"), nullptr);
       auto* engine = Find<QComboBox>(server, "CryptoEngineTypeEdit");
       EXPECT_EQ(engine->currentIndex(), -1);
       auto* params = Find<QTableWidget>(server, "CryptoParametersGrid");
       EXPECT_EQ(params->rowCount(), 1);
       EXPECT_FALSE(params->item(0, 2)->flags() & Qt::ItemIsSelectable);
       SetText(server, "WebLocationEdit", "web.example");
       SetText(server, "VeilgateAddressEdit", "127.0.0.1");
       SetText(server, "VeilgatePortEdit", "0");
       Find<QPushButton>(server, "OkButton")->click();  // the box comes from the answerer
       return true;
     })
      .Then([&] {
        auto* server = VisibleWindow<QDialog>("TWebServerClientFrom");
        if (!server || boxes_.Seen.empty()) return false;
        EXPECT_EQ(boxes_.Seen.back().text, "Неправильный номер порта");
        SetText(server, "VeilgatePortEdit", "8443");
        auto* engine = Find<QComboBox>(server, "CryptoEngineTypeEdit");
        engine->setCurrentText("Emulation/1.0");
        emit engine->textActivated("Emulation/1.0");
        auto* params = Find<QTableWidget>(server, "CryptoParametersGrid");
        EXPECT_EQ(params->rowCount(), 6);
        EXPECT_EQ(params->item(0, 1)->text(), "UID");
        EXPECT_TRUE(params->item(0, 2)->flags() & Qt::ItemIsSelectable);
        EXPECT_FALSE(params->item(0, 1)->flags() & Qt::ItemIsSelectable);
        EXPECT_EQ(params->currentColumn(), 2);
        params->item(0, 2)->setText("client-1");
        params->item(1, 2)->setText("gate-1");
        EXPECT_EQ(params->item(0, 0)->text(), "*");
        EXPECT_EQ(params->item(2, 0)->text(), "");
        Find<QComboBox>(server, "CompressMethod")->setCurrentIndex(2);
        ShotPages(server, "server-client");
        Find<QPushButton>(server, "OkButton")->click();
        return true;
      });
  Find<QPushButton>(&dialog_, "AddServerButton")->click();
  EXPECT_TRUE(add.Done());
  ASSERT_EQ(grid->rowCount(), 1);
  EXPECT_EQ(grid->item(0, 0)->text(), "web.example");
  EXPECT_EQ(grid->item(0, 1)->text(), "Emulation/1.0");
  vg::TQSClientConfig& copy = dialog_.ClientRules().ClientCopy();
  ASSERT_EQ(copy.ServerCount(), 1);
  EXPECT_EQ(copy.GetServer(0)->CompressMode(), 2);
  EXPECT_EQ(live_.ServerCount(), 0);

  // "Изменить" opens the row's record; the keys test gets the page's parameters.
  std::string testedType, testedUid;
  Script change;
  change.Then([&] {
    auto* server = VisibleWindow<vg::gui::TWebServerForm>("TWebServerClientFrom");
    if (!server) return false;
    EXPECT_EQ(Text(server, "WebLocationEdit"), "web.example");
    EXPECT_EQ(Text(server, "VeilgatePortEdit"), "8443");
    EXPECT_EQ(Find<QComboBox>(server, "CompressMethod")->currentText(), "Максимальная");
    EXPECT_FALSE(Find<QCheckBox>(server, "ClearBufferCheckBox")->isChecked());
    server->RunKeysTest = [&](const vg::TCryptoParams& p) {
      testedType = p.EngineType();
      testedUid = p.ParamValue(0);
    };
    Find<QTableWidget>(server, "CryptoParametersGrid")->item(0, 2)->setText("client-2");
    Find<QPushButton>(server, "KeysTestButton")->click();
    SetText(server, "ReservedAddressEdit", "127.0.0.2");
    SetText(server, "ReservedPortEdit", "9443");
    Find<QPushButton>(server, "OkButton")->click();
    return true;
  });
  grid->setCurrentCell(0, 0);
  Find<QPushButton>(&dialog_, "EditServerButton")->click();
  EXPECT_TRUE(change.Done());
  EXPECT_EQ(testedType, "Emulation/1.0");
  EXPECT_EQ(testedUid, "client-2");
  EXPECT_EQ(copy.GetServer(0)->ReserveLocation().AsText(), "127.0.0.2:9443");
  ShotPages(&dialog_, "setup-with-server");

  Find<QPushButton>(&dialog_, "DeleteServerButton")->click();
  EXPECT_EQ(copy.ServerCount(), 0);
  ASSERT_EQ(grid->rowCount(), 1);
  EXPECT_EQ(grid->item(0, 0)->text(), "");
  dialog_.reject();
}

TEST(ServerDialog, GeneralVariantShowsTheCertificatesPage) {
  vg::TQSClientConfig copy("/nonexistent/veilgate.cfg");
  vg::gui::TWebServerForm server(copy, "", "");
  server.show();
  EXPECT_GE(server.minimumWidth(), 590);
  auto* pages = Find<QTabWidget>(&server, "PageControl");
  EXPECT_TRUE(pages->isTabVisible(2));
  EXPECT_EQ(pages->tabText(2), "Сертификаты");
  EXPECT_EQ(server.findChild<QLineEdit*>("ReservedAddressEdit"), nullptr);
  EXPECT_EQ(Find<QLabel>(&server, "IncludeDirLabel")->text(), "<путь не задан>/Include");
  EXPECT_EQ(Find<QLabel>(&server, "BadDirLabel")->text(), "<путь не задан>/BAD");
  server.ChooseDirectory = [](const QString& prompt, const QString&) {
    EXPECT_EQ(prompt, "Укажите каталог для сканирования");
    return QString("/srv/certs");
  };
  Find<QPushButton>(&server, "ScanCertBrowseButton")->click();
  EXPECT_EQ(Find<QLabel>(&server, "WithdrawDirLabel")->text(), "/srv/certs/Withdraw");
  ShotPages(&server, "server");
  // Cancel: the fresh record never reaches the copy.
  server.reject();
  EXPECT_EQ(copy.ServerCount(), 0);
}

// The tray's settings item while a download runs: "No" keeps it going, new connections use
// the new port, and the file changes only in the line of the port.
TEST(TraySettings, PortChangedWhileADownloadRunsAndTheFileKeptAsItWas) {
  TempDir dir;
  const int oldPort = FreePort();
  std::string cfg = ReadFileText(std::string(VG_TEST_BIN_DIR) + "/veilgate.cfg");
  cfg = std::regex_replace(cfg, std::regex("Self TCP port=\\d+"), "Self TCP port=" + std::to_string(oldPort));
  cfg = std::regex_replace(cfg, std::regex("Log-file name=[^\n]*"), "Log-file name=" + dir.File("logs"));
  cfg += "; kept as written\n";
  WriteFileText(dir.File("veilgate.cfg"), cfg);
  TestHttpServer web;
  BoxAnswerer boxes;
  boxes.Answer = false;
  TrayRun run;
  ASSERT_TRUE(run.Start(dir.File("veilgate.cfg")));
  ASSERT_TRUE(WaitForPort(oldPort, 2000));

  RawClient download(oldPort);
  const std::string host = "127.0.0.1:" + std::to_string(web.Port());
  const std::string request = "GET http://" + host + "/len/400000 HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
  download.Send(request.substr(0, 25));
  ASSERT_TRUE(WaitUntil([] { return vg::ThreadList().Count() > 0; }));

  const int newPort = FreePort();
  std::string question;
  Script user;
  user.Then([&] {
        auto* dialog = VisibleWindow<QDialog>("TQSClientSetupForm");
        if (!dialog) return false;
        SetText(dialog, "SelfPortEdit", QString::number(newPort));
        Find<QPushButton>(dialog, "OkButton")->click();
        return true;
      })
      .Then([&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
          auto* box = qobject_cast<QMessageBox*>(w);
          if (!box || !box->isVisible()) continue;
          question = box->windowTitle().toStdString() + "|" + box->text().toStdString();
          box->button(QMessageBox::No)->click();
          return true;
        }
        return false;
      });
  run.shell->Menu()->findChild<QAction*>("SetupItem")->trigger();
  EXPECT_TRUE(user.Done());
  EXPECT_EQ(question, "Предупреждение|В данный момент существуют активные соединения. Оборвать?");
  EXPECT_EQ(run.program->Form()->ListeningPort(), newPort);

  download.Send(request.substr(25));
  const std::string answer = download.ReadAnswer(10000);
  EXPECT_EQ(StatusOf(answer), 200);
  EXPECT_EQ(BodyOf(answer).size(), 400000u);
  RawClient fresh(newPort);
  ASSERT_TRUE(fresh.Connected());
  fresh.Send("GET http://" + host + "/len/5 HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
  EXPECT_EQ(StatusOf(fresh.ReadAnswer()), 200);
  EXPECT_FALSE(RawClient(oldPort).Connected());
  const std::string expected =
      std::regex_replace(cfg, std::regex("Self TCP port=\\d+"), "Self TCP port=" + std::to_string(newPort));
  EXPECT_EQ(ReadFileText(dir.File("veilgate.cfg")), expected);
  EXPECT_TRUE(boxes.Seen.empty());
  run.Stop();
}

}  // namespace
