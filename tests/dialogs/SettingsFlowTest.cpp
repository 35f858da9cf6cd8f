// The tray's settings flow with a scripted view over the tunnel in this process: the question
// about live connections and both answers, the listener moved to the new port, and a settings
// file that cannot be written.
#include <gtest/gtest.h>

#include <filesystem>

#include "DialogSupport.h"
#include "dialogs/SettingsFlow.h"
#include "support/RelaySupport.h"
#include "tunnel/fThrList.h"

using namespace dialogtest;
using relaytest::RawClient;

namespace {

// Plays the user: on every showing the edit is applied as the dialog's OK would, or the
// dialog is cancelled once the edits run out.
class ScriptedView : public vg::ISettingsFlowView {
 public:
  std::vector<std::function<void(vg::TSetupControls&)>> Edits;
  bool AnswerYes = false;
  std::vector<std::string> Questions, Errors;
  std::vector<bool> Reloads;

  bool RunDialog(vg::TQSClientConfig& live, bool reload) override {
    Reloads.push_back(reload);
    if (reload) rules_.SetSettings(live);
    if (Reloads.size() > Edits.size()) return false;
    vg::TSetupControls controls;
    rules_.LoadControls(controls);
    Edits[Reloads.size() - 1](controls);
    rules_.SaveControls(controls);
    return true;
  }
  const vg::TQSClientConfig& DialogSettings() override { return rules_.ClientCopy(); }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    Questions.push_back(caption + "|" + text);
    return AnswerYes;
  }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  vg::TClientSetupRules& Rules() { return rules_; }

 private:
  vg::TClientSetupRules rules_;
};

class SettingsFlowTest : public ::testing::Test {
 protected:
  vg::TSettingsFlowResult Run(ScriptedView& view) {
    return vg::RunSettingsFlow(form_, view, vg::Settings(), vg::ThreadList());
  }
  int LivePort() {
    vg::TConfigLock lock(vg::Settings());
    return vg::Settings().SelfTcpPort();
  }
  // The tunnel's own listener and a second window object that the flow stops and starts.
  relaytest::InProcessTunnel tunnel_;
  vg::TQSVeilgateAboutForm form_;
  relaytest::TestHttpServer web_;
};

std::string Get(int proxyPort, int webPort, const std::string& path) {
  const std::string host = "127.0.0.1:" + std::to_string(webPort);
  return "GET http://" + host + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
}

TEST_F(SettingsFlowTest, NoKeepsARunningConnectionAndNewOnesUseTheNewPort) {
  // The tunnel's own listener stands aside; the flow's window listens on the settings' port.
  tunnel_.StopListener();
  form_.StartListener();
  const int oldPort = form_.ListeningPort();
  ASSERT_EQ(oldPort, LivePort());
  RawClient running(oldPort);
  const std::string request = Get(oldPort, web_.Port(), "/len/300000");
  running.Send(request.substr(0, 20));
  ASSERT_TRUE(WaitFor([] { return vg::ThreadList().Count() > 0; }));

  const int newPort = relaytest::FreePort();
  ScriptedView view;
  view.Edits.push_back([&](vg::TSetupControls& c) { c.SelfPort = std::to_string(newPort); });
  EXPECT_EQ(Run(view), vg::TSettingsFlowResult::Applied);
  ASSERT_EQ(view.Questions.size(), 1u);
  EXPECT_EQ(view.Questions[0], Cp("Предупреждение|В данный момент существуют активные соединения. Оборвать?"));
  EXPECT_TRUE(view.Errors.empty());
  EXPECT_EQ(LivePort(), newPort);
  EXPECT_EQ(form_.ListeningPort(), newPort);
  // The file holds the new port.
  EXPECT_NE(relaytest::ReadFileText(vg::Settings().FileName()).find("Self TCP port=" + std::to_string(newPort)),
            std::string::npos);

  // The old connection goes on to the whole answer.
  running.Send(request.substr(20));
  const std::string answer = running.ReadAnswer(10000);
  EXPECT_EQ(relaytest::StatusOf(answer), 200);
  EXPECT_EQ(relaytest::BodyOf(answer).size(), 300000u);
  RawClient fresh(newPort);
  fresh.Send(Get(newPort, web_.Port(), "/len/10"));
  EXPECT_EQ(relaytest::StatusOf(fresh.ReadAnswer()), 200);
  EXPECT_FALSE(RawClient(oldPort).Connected());
}

TEST_F(SettingsFlowTest, YesEndsTheConnectionsFirst) {
  tunnel_.StopListener();
  form_.StartListener();
  RawClient running(form_.ListeningPort());
  running.Send("GET http://127.0.0.1");
  ASSERT_TRUE(WaitFor([] { return vg::ThreadList().Count() > 0; }));
  ScriptedView view;
  view.AnswerYes = true;
  view.Edits.push_back([](vg::TSetupControls& c) { c.LogDays = "9"; });
  EXPECT_EQ(Run(view), vg::TSettingsFlowResult::Applied);
  EXPECT_EQ(vg::ThreadList().Count(), 0);
  EXPECT_TRUE(running.PeerClosed());
  vg::TConfigLock lock(vg::Settings());
  EXPECT_EQ(vg::Settings().LogInterval(), 9);
}

TEST_F(SettingsFlowTest, AFileThatCannotBeWrittenKeepsLiveSettingsAndEdits) {
  const std::string file = vg::Settings().FileName();
  tunnel_.Configure([](vg::TQSClientConfig& c) { c.SetFileName("/nonexistent-vg-dir/sub/veilgate.cfg"); });
  tunnel_.StopListener();
  const int oldPort = LivePort();
  ScriptedView view;
  view.Edits.push_back([](vg::TSetupControls& c) {
    c.SelfPort = "4321";
    c.LogDays = "5";
  });
  // The second showing keeps what the user typed; the user then cancels.
  EXPECT_EQ(Run(view), vg::TSettingsFlowResult::Cancelled);
  EXPECT_EQ(view.Reloads, (std::vector<bool>{true, false}));
  ASSERT_EQ(view.Errors.size(), 1u);
  EXPECT_EQ(view.Errors[0].rfind(Cp("Не удалось сохранить настройки: "), 0), 0u) << view.Errors[0];
  EXPECT_NE(view.Errors[0].find("nonexistent-vg-dir"), std::string::npos);
  EXPECT_EQ(LivePort(), oldPort);
  EXPECT_EQ(view.Rules().Copy().SelfTcpPort(), 4321);
  EXPECT_EQ(view.Rules().Copy().LogInterval(), 5);
  // The listener runs again on the old port.
  EXPECT_EQ(form_.ListeningPort(), oldPort);
  tunnel_.Configure([&](vg::TQSClientConfig& c) { c.SetFileName(file); });
}

}  // namespace
