// The setup dialog's rules: the copy it edits, the log flags word, the checks of SaveControls
// in order, the allowed hosts list and the server grid.
#include <gtest/gtest.h>

#include "DialogSupport.h"
#include "dialogs/SetupRules.h"

using namespace dialogtest;

namespace {

class SetupRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live_ = SampleSettings();
    rules_.SetResolver(resolver_.Fn());
    rules_.SetSettings(*live_);
    rules_.LoadControls(controls_);
  }
  // The message of the failed save ("" when it passed) and the control named.
  std::pair<std::string, std::string> Save() {
    try {
      rules_.SaveControls(controls_);
      return {};
    } catch (const vg::ESaveSettingsException& e) {
      return {e.Message(), e.Control()};
    }
  }

  FakeResolver resolver_;
  std::unique_ptr<vg::TQSClientConfig> live_;
  vg::TClientSetupRules rules_;
  vg::TSetupControls controls_;
};

TEST_F(SetupRulesTest, EditsAPrivateCopyRefilledFromTheLiveSettings) {
  EXPECT_EQ(controls_.SelfPort, "1030");
  controls_.SelfPort = "2040";
  controls_.LogDays = "7";
  ASSERT_EQ(Save().first, "");
  EXPECT_EQ(rules_.Copy().SelfTcpPort(), 2040);
  EXPECT_EQ(live_->SelfTcpPort(), 1030);
  // A cancelled dialog: the next showing starts from the live settings again.
  rules_.SetSettings(*live_);
  EXPECT_EQ(rules_.Copy().SelfTcpPort(), 1030);
  EXPECT_EQ(rules_.Copy().LogInterval(), 60);
}

TEST_F(SetupRulesTest, LogFlagsWordIsReadAndWrittenBitByBit) {
  vg::TSetupControls c;
  vg::LogFlagsToControls(0xFFFFFF, c);
  EXPECT_TRUE(c.LogOutReq && c.LogInReq && c.LogErrDesc);
  EXPECT_EQ(c.OutMode, vg::TLogMode::All);
  EXPECT_EQ(c.InMode, vg::TLogMode::All);
  EXPECT_EQ(vg::LogFlagsFromControls(c), 0x030307u);
  vg::LogFlagsToControls(0x20002, c);
  EXPECT_FALSE(c.LogOutReq);
  EXPECT_TRUE(c.LogInReq);
  EXPECT_FALSE(c.LogErrDesc);
  EXPECT_EQ(c.OutMode, vg::TLogMode::None);
  EXPECT_EQ(c.InMode, vg::TLogMode::OnlyBad);
  EXPECT_EQ(vg::LogFlagsFromControls(c), 0x20002u);
  vg::LogFlagsToControls(0x104, c);
  EXPECT_EQ(c.OutMode, vg::TLogMode::All);
  EXPECT_EQ(vg::LogFlagsFromControls(c), 0x304u);

  // Over the stored word, what the user left alone is written back as it was read.
  vg::LogFlagsToControls(0xFFFFFF, c);
  EXPECT_EQ(vg::LogFlagsFromControls(c, 0xFFFFFF), 0xFFFFFFu);
  c.OutMode = vg::TLogMode::None;
  c.LogErrDesc = false;
  EXPECT_EQ(vg::LogFlagsFromControls(c, 0xFFFFFF), 0xFF00FBu);
  c.InMode = vg::TLogMode::OnlyBad;
  EXPECT_EQ(vg::LogFlagsFromControls(c, 0xFF0000FF), 0xFF0200FBu);
}

TEST_F(SetupRulesTest, OwnPortAndLogDaysAreChecked) {
  for (const char* bad : {"0", "", "abc", "-5", "65536", "99999999999"}) {
    controls_.SelfPort = bad;
    const auto [message, control] = Save();
    EXPECT_EQ(message, Cp("Неправильный номер порта")) << bad;
    EXPECT_EQ(control, "SelfPortEdit");
  }
  // The value is stored before the check fails.
  controls_.SelfPort = "abc";
  Save();
  EXPECT_EQ(rules_.Copy().SelfTcpPort(), -1);
  controls_.SelfPort = "65535";
  controls_.LogDays = "0";
  controls_.LogDirectory = "";
  const auto [message, control] = Save();
  EXPECT_EQ(message, Cp("Неправильный интервал для журнала"));
  EXPECT_EQ(control, "LogDaysEdit");
  EXPECT_EQ(rules_.Copy().SelfTcpPort(), 65535);
  EXPECT_EQ(rules_.Copy().LogDirectory(), "");
  controls_.LogDays = "1";
  EXPECT_EQ(Save().first, "");
}

TEST_F(SetupRulesTest, ProxyValuesAreCheckedOnlyWhileTheProxyIsUsed) {
  controls_.ProxyPort = "nonsense";
  controls_.ProxyHost = "other.example";
  ASSERT_EQ(Save().first, "");
  EXPECT_EQ(rules_.Copy().ProxyPort(), 3128);
  EXPECT_EQ(rules_.Copy().ProxyHost(), "proxy.example");
  EXPECT_TRUE(resolver_.Asked.empty());

  controls_.ProxyEnabled = true;
  for (const char* bad : {"0", "abc", "70000"}) {
    controls_.ProxyPort = bad;
    const auto [message, control] = Save();
    EXPECT_EQ(message, Cp("Неправильный порт proxy")) << bad;
    EXPECT_EQ(control, "ProxyPortEdit");
  }
  const std::string local = Cp("При локальном адресе прокси не должны совпадать номера портов (своего и прокси)");
  controls_.ProxyHost = "localhost";
  controls_.ProxyPort = "1030";
  EXPECT_EQ(Save(), std::make_pair(local, std::string("ProxyPortEdit")));
  controls_.ProxyHost = "127.0.0.1";
  EXPECT_EQ(Save().first, local);
  controls_.ProxyPort = "1031";
  EXPECT_EQ(Save().first, "");
  // A host that does not resolve is not local; the ports may then be equal.
  controls_.ProxyHost = "unknown.invalid";
  controls_.ProxyPort = "1030";
  EXPECT_EQ(Save().first, "");
  controls_.ProxyHost = "gate.test";
  EXPECT_EQ(Save().first, "");
  EXPECT_EQ(rules_.Copy().ProxyHost(), "gate.test");
  EXPECT_TRUE(rules_.Copy().ProxyEnabled());
}

TEST_F(SetupRulesTest, AccessTypeAndAllowedHosts) {
  EXPECT_EQ(controls_.AccessItem, vg::TQSClientConfig::kAccessAny);
  controls_.AccessItem = vg::TQSClientConfig::kAccessListed;
  ASSERT_EQ(Save().first, "");
  EXPECT_EQ(rules_.ClientCopy().ClientAccessType(), vg::TQSClientConfig::kAccessLocal);

  std::vector<std::string>& hosts = controls_.Hosts;
  EXPECT_EQ(vg::AddHostLine("10.0.0.1", hosts, resolver_.Fn()).Kind, vg::THostAddResult::Added);
  vg::THostAddResult again = vg::AddHostLine("10.0.0.01", hosts, resolver_.Fn());
  EXPECT_EQ(again.Kind, vg::THostAddResult::Duplicate);
  EXPECT_EQ(again.Line, 0);
  EXPECT_EQ(again.Message, Cp("IP-адрес уже внесен в список"));
  EXPECT_TRUE(resolver_.Asked.empty());
  EXPECT_EQ(vg::AddHostLine("gate.test", hosts, resolver_.Fn()).Line, 1);
  const vg::THostAddResult unknown = vg::AddHostLine("999.1.1.1", hosts, resolver_.Fn());
  EXPECT_EQ(unknown.Kind, vg::THostAddResult::Unknown);
  EXPECT_EQ(unknown.Message, Cp("Неизвестный адрес \"999.1.1.1\""));
  EXPECT_EQ(resolver_.Asked.back(), "999.1.1.1");
  for (const char* bad : {"1..1.1", "1.2.3", "255.255.255.255", "1.2.3.4.5"})
    EXPECT_FALSE(vg::ParseTypedAddress(bad)) << bad;
  EXPECT_EQ(hosts, (std::vector<std::string>{"10.0.0.1", "10.1.2.3"}));

  ASSERT_EQ(Save().first, "");
  EXPECT_EQ(rules_.ClientCopy().ClientAccessType(), vg::TQSClientConfig::kAccessListed);
  EXPECT_EQ(rules_.ClientCopy().AllowedHosts(), (std::vector<uint32_t>{vg::platform::ParseDottedIPv4("10.0.0.1"),
                                                                       vg::platform::ParseDottedIPv4("10.1.2.3")}));
  vg::TSetupControls reloaded;
  rules_.LoadControls(reloaded);
  EXPECT_EQ(reloaded.Hosts, hosts);
  EXPECT_EQ(reloaded.AccessItem, vg::TQSClientConfig::kAccessListed);

  const vg::TSetupEnabling off = vg::SetupEnabling(controls_, false);
  EXPECT_TRUE(off.Hosts);
  EXPECT_FALSE(off.DeleteHost);
  controls_.AccessItem = vg::TQSClientConfig::kAccessAny;
  EXPECT_FALSE(vg::SetupEnabling(controls_, true).DeleteHost);
  // A stored type the dialog does not know shows as "only this computer".
  rules_.ClientCopy().SetClientAccessType(7);
  rules_.LoadControls(reloaded);
  EXPECT_EQ(reloaded.AccessItem, vg::TQSClientConfig::kAccessLocal);
}

TEST_F(SetupRulesTest, ServerGridHidesDotNamesAndDeletesByRow) {
  EXPECT_EQ(rules_.ServerRows().size(), 1u);
  EXPECT_EQ(rules_.ServerRows()[0].Name, "");
  EXPECT_FALSE(rules_.DeleteServer({}));
  AddServer(rules_.Copy(), ".hidden.example");
  EXPECT_EQ(rules_.ServerRows().size(), 1u);
  AddServer(rules_.Copy(), "a.example;10.0.0.5");
  AddServer(rules_.Copy(), "a.example", "Emulation/2.0");
  const std::vector<vg::TServerRow> rows = rules_.ServerRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Name, "a.example");
  EXPECT_EQ(rows[1].Engine, "Emulation/2.0");
  EXPECT_TRUE(rules_.DeleteServer(rows[1]));
  EXPECT_EQ(rules_.Copy().ServerCount(), 2);
  EXPECT_EQ(rules_.Copy().GetServer(1)->CryptoParams().EngineType(), "Emulation/1.0");
  EXPECT_EQ(live_->ServerCount(), 0);
}

}  // namespace
