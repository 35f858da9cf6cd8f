// A protected exchange through the tray program with the "OpenSSL" engine and an encrypted
// client key: the engine asks for the password from a connection thread, the password window
// comes up on the GUI thread, and what is typed there decides whether the page arrives.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
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

class PasswordExchange : public ProtectedPath {
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

TEST_F(PasswordExchange, ThePasswordTypedIntoTheWindowUnlocksTheKey) {
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

}  // namespace
