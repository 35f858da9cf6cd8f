// Protected exchanges through the tray program with the "OpenSSL" engine: with an encrypted
// client key the engine asks for the password from a connection thread, the password window
// comes up on the GUI thread, and what is typed there decides whether the page arrives; a
// server added through the setup dialogs serves protected pages at once and after a restart.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <future>

#include "GuiSupport.h"
#include "TrayRun.h"
#include "gui/PasswordForm.h"
#include "platform/CodePage.h"
#include "support/E2eSupport.h"

using namespace guitest;
using namespace relaytest;
using namespace e2etest;

namespace {

class TrayOpenSsl : public ProtectedPath {
 protected:
  void SetUp() override {
    ProtectedPath::SetUp();
    const ProcessResult made =
        RunProcess({"bash", std::string(VG_TEST_SOURCE_DIR) + "/scripts/make-demo-pki.sh", pki_.Path()}, 120000);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    password_ = ReadFileText(pki_.File("password.txt"));
    while (!password_.empty() && (password_.back() == '\n' || password_.back() == '\r')) password_.pop_back();
    gateEngine_ = "Engine=OpenSSL\n";
    gateEngineParams_ = Identity("gateway.key", "gateway", "vg-client");
    tunnelEngine_ = "OpenSSL";
    tunnelEngineParams_ = Identity("client-enc.key", "client", "vg-gateway");
  }
  // Fetches a page through the tunnel while the GUI thread serves its events.
  ProcessResult Fetch(const std::string& path) {
    auto fetched = std::async(std::launch::async, [this, path] { return Curl({"-D", "-", "http://" + kHost + path}); });
    EXPECT_TRUE(WaitUntil([&] { return Ready(fetched); }, std::chrono::seconds(40)));
    return fetched.get();
  }
  std::string Identity(const std::string& key, const std::string& who, const std::string& partner) const {
    return "CertificateFile=" + pki_.File(who + ".pem") + "\nPrivateKeyFile=" + pki_.File(key) +
           "\nCAFile=" + pki_.File("ca.pem") + "\nSubscribersDir=" + pki_.File("subscribers") +
           "\nPartnerUID=" + partner + "\n";
  }

  // Fetches a page through the tunnel while the script answers the password window.
  ProcessResult FetchAnswering(const std::vector<std::pair<std::string, bool>>& answers) {
    Script script;
    for (const auto& [text, ok] : answers) {
      script.Then([text = text, ok = ok] {
        auto* dialog = VisibleWindow<vg::gui::TfPassword>("TfPassword");
        if (!dialog) return false;
        Type(dialog->findChild<QLineEdit*>("edtPassword"), QString::fromStdString(text));
        dialog->findChild<QPushButton*>(ok ? "btnOk" : "btnCancel")->click();
        return true;
      });
    }
    auto fetched = std::async(std::launch::async, [this] {
      return Curl({"-D", "-", "http://" + kHost + "/len/4000"});
    });
    EXPECT_TRUE(WaitUntil([&] { return script.Done() && Ready(fetched); }, std::chrono::seconds(40)));
    return fetched.get();
  }

  TempDir pki_;
  std::string password_;
};

TEST_F(TrayOpenSsl, ThePasswordTypedIntoTheWindowUnlocksTheKey) {
  StartGate();
  WriteTunnelConfig("", true);  // error pages carry the engine's text
  TrayRun run;
  ASSERT_TRUE(run.Start(Config()));
  ASSERT_TRUE(run.program->Form()->Listening());

  ProcessResult r = FetchAnswering({{"", false}});  // cancelled
  EXPECT_EQ(StatusOf(r.out), 510) << r.out << Diagnostics();
  EXPECT_NE(r.out.find(": 10;"), std::string::npos) << r.out;  // the engine's "password refused"

  r = FetchAnswering({{"wrong", true}, {"wrong again", true}, {"still wrong", true}});
  EXPECT_EQ(StatusOf(r.out), 510) << r.out << Diagnostics();
  EXPECT_NE(r.out.find(vg::platform::Utf8ToCp1251("Неверный пароль секретного ключа")), std::string::npos);

  r = FetchAnswering({{password_, true}});
  EXPECT_EQ(StatusOf(r.out), 200) << r.out.substr(0, 600) << Diagnostics();
  EXPECT_NE(r.out.find("\r\n\r\n" + Body(4000)), std::string::npos);
}

// The user adds the server from the tray: "Настройки", the servers page, "Добавить", the server
// dialog with the engine's parameters typed into its grid, then OK in both dialogs.
TEST_F(TrayOpenSsl, AServerAddedThroughTheSetupDialogsServesProtectedPages) {
  StartGate();
  WriteTunnelConfig();
  std::string cfg = ReadFileText(Config());
  cfg.erase(cfg.find("\n[Client\\Web servers\\s1]"));
  WriteFileText(Config(), cfg + "\n");
  const auto click = [](QWidget* parent, const char* name) {
    auto* button = parent->findChild<QPushButton*>(name);
    EXPECT_NE(button, nullptr) << name;
    if (button) QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
  };

  BoxAnswerer boxes;
  {
    TrayRun run;
    ASSERT_TRUE(run.Start(Config()));
    ASSERT_TRUE(run.program->Form()->Listening());

    std::smatch param;
    std::vector<std::pair<QString, QString>> params;
    for (std::string rest = Identity("client.key", "client", "vg-gateway");
         std::regex_search(rest, param, std::regex("([^=\n]+)=([^\n]*)\n")); rest = param.suffix())
      params.emplace_back(QString::fromStdString(param[1]), QString::fromStdString(param[2]));
    Script user;
    user.Then([&] {
          auto* setup = VisibleWindow<QDialog>("TQSClientSetupForm");
          if (!setup) return false;
          auto* pages = setup->findChild<QTabWidget*>("PageControl");
          pages->setCurrentWidget(pages->findChild<QWidget*>("tsServers"));
          click(setup, "AddServerButton");
          return true;
        })
        .Then([&] {
          auto* server = VisibleWindow<QDialog>("TWebServerClientFrom");
          if (!server) return false;
          server->findChild<QLineEdit*>("WebLocationEdit")->setText(QString::fromStdString(kHost));
          server->findChild<QLineEdit*>("VeilgateAddressEdit")->setText("127.0.0.1");
          server->findChild<QLineEdit*>("VeilgatePortEdit")->setText(QString::number(gatePort_));
          auto* engine = server->findChild<QComboBox*>("CryptoEngineTypeEdit");
          engine->setCurrentText("OpenSSL");
          emit engine->textActivated("OpenSSL");
          auto* grid = server->findChild<QTableWidget*>("CryptoParametersGrid");
          for (const auto& [name, value] : params)
            for (int row = 0; row < grid->rowCount(); ++row)
              if (grid->item(row, 1)->text() == name) grid->item(row, 2)->setText(value);
          click(server, "OkButton");
          return true;
        })
        .Then([&] {
          // The grid shows the server once the server dialog's call has returned.
          auto* setup = VisibleWindow<QDialog>("TQSClientSetupForm");
          if (!setup || VisibleWindow<QDialog>("TWebServerClientFrom")) return false;
          auto* grid = setup->findChild<QTableWidget*>("ServersGrid");
          if (grid->item(0, 0)->text().toStdString() != kHost) return false;
          EXPECT_EQ(grid->item(0, 1)->text(), "OpenSSL");
          click(setup, "OkButton");
          return true;
        });
    run.shell->Menu()->findChild<QAction*>("SetupItem")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return user.Done() && !VisibleWindow<QDialog>("TQSClientSetupForm"); }));
    ASSERT_TRUE(run.program->Form()->Listening());

    const ProcessResult r = Fetch("/len/50000");
    EXPECT_EQ(StatusOf(r.out), 200) << r.out.substr(0, 600) << Diagnostics();
    EXPECT_NE(r.out.find("\r\n\r\n" + Body(50000)), std::string::npos);
  }
  // What the dialogs did not touch is still in the file as it was written, and the program
  // started again on it serves the server as before.
  EXPECT_EQ(ReadFileText(Config()).substr(0, cfg.size()), cfg);
  TrayRun again;
  ASSERT_TRUE(again.Start(Config()));
  EXPECT_EQ(StatusOf(Fetch("/len/20").out), 200) << Diagnostics();
  again.Stop();
  StopAll();
  EXPECT_EQ(Count(GateLog(), "status=200 key="), 4u) << GateLog();  // a key request and a page, twice
  EXPECT_TRUE(boxes.Seen.empty()) << boxes.Seen.front().text;
}

}  // namespace
