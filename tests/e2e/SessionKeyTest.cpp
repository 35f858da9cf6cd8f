// Session keys end to end: a gateway that keeps refusing them, a listener restart that drops
// them, and an authentication request of the web server that needs none.
#include <gtest/gtest.h>

#include "platform/SysUtils.h"
#include "protection/CipherhubLib.h"
#include "protection/ConKey.h"
#include "settings/Cfg_Clnt.h"
#include "support/E2eSupport.h"
#include "tunnel/Abt_Clnt.h"
#include "tunnel/fThrList.h"

using namespace relaytest;
using namespace e2etest;

namespace {

class SessionKeyTest : public ProtectedPath {};

TEST_F(SessionKeyTest, A591ToTheRenewedAttemptIsTheAnswer) {
  // The gateway refuses every protected request; the tunnel renews the key once and then takes
  // the second refusal as the answer, shown as it is only in error trace mode.
  for (const bool errorTrace : {false, true}) {
    SCOPED_TRACE(errorTrace ? "error trace mode" : "no error trace mode");
    StartGate("", "Refuse591=all\n");
    StartTunnel("", errorTrace);
    const ProcessResult r = Curl({"-D", "-", "http://" + kHost + "/len/10"});
    EXPECT_EQ(r.exitCode, 0) << r.err << Diagnostics();
    StopAll();
    const std::string gate = GateLog();
    EXPECT_EQ(Count(gate, "status=591"), 2u) << gate;
    EXPECT_EQ(KeyAgreements(gate), 2u) << gate;
    EXPECT_TRUE(web_.Requests().empty());
    if (errorTrace) {
      EXPECT_EQ(StatusOf(r.out), 591) << r.out << Diagnostics();
      EXPECT_NE(r.out.find("Protected requests are refused with 591 on purpose (fault Refuse591)."),
                std::string::npos)
          << r.out;
      EXPECT_NE(TunnelLogs().find(VGT("Получен незащищенный ответ")), std::string::npos) << Diagnostics();
    } else {
      EXPECT_EQ(StatusOf(r.out), 510) << r.out << Diagnostics();
      // The plain page does not decrypt.
      EXPECT_NE(r.out.find("Error from QS-Veilgate (client part)"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find(VGT("Ошибка расшифрования")), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find("fault Refuse591"), std::string::npos) << r.out;
      EXPECT_EQ(TunnelLogs().find(VGT("Получен незащищенный ответ")), std::string::npos) << Diagnostics();
    }
  }
}

TEST_F(SessionKeyTest, AListenerRestartDropsTheSessionKeys) {
  StartGate();
  WriteTunnelConfig();
  ASSERT_FALSE(HasFatalFailure());
  // The program restarts its listener only from the settings dialog, so the tunnel runs in this
  // process: its main window loads the same settings file and its listener is stopped and
  // started the way confirming the dialog does it.
  vg::chlib::OverrideLibraryCandidates({kBinDir + "/cipherhub.so"});
  {
    vg::TConfigLock lock(vg::Settings());
    vg::Settings().SetFileName(Config());
  }
  vg::ConnectionKeys().Clear();
  {
    vg::TQSVeilgateAboutForm form;
    form.FormCreate();
    ASSERT_EQ(form.ListeningPort(), proxyPort_);

    ProcessResult r = Curl({"http://" + kHost + "/len/100"});
    EXPECT_EQ(r.out, Body(100)) << r.err << Diagnostics();
    r = Curl({"http://" + kHost + "/len/101"});
    EXPECT_EQ(r.out, Body(101)) << r.err << Diagnostics();
    // Each curl run is a connection of its own; the key outlives them.
    EXPECT_EQ(KeyAgreements(GateLog()), 1u) << GateLog();

    form.StopListener();
    EXPECT_FALSE(RawClient(proxyPort_).Connected());
    form.StartListener();
    ASSERT_EQ(form.ListeningPort(), proxyPort_);

    r = Curl({"http://" + kHost + "/len/102"});
    EXPECT_EQ(r.out, Body(102)) << r.err << Diagnostics();
    vg::ThreadList().TerminateAll();
  }
  const std::string gate = GateLog();
  // A new key before the request, not after the gateway refused the old one.
  EXPECT_EQ(KeyAgreements(gate), 2u) << gate;
  EXPECT_EQ(Count(gate, "status=591"), 0u) << gate;
  EXPECT_EQ(web_.Requests().size(), 3u);
}

TEST_F(SessionKeyTest, AProxyAuthenticationRequestIsPassedUnchanged) {
  StartGate();
  StartTunnel();
  const ProcessResult r = Curl({"-D", "-", "http://" + kHost + "/proxyauth"});
  EXPECT_EQ(StatusOf(r.out), 407) << r.out << Diagnostics();
  EXPECT_NE(r.out.find("\r\nProxy-Authenticate: Basic realm=\"vgtest\"\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\r\nContent-Type: text/html\r\n"), std::string::npos) << r.out;
  EXPECT_EQ(BodyOf(r.out), "<p>proxy credentials needed</p>") << r.out;
  EXPECT_EQ(r.out.find("Vg-"), std::string::npos) << r.out;
  StopAll();
  // No renewal: one key, one request to the web server, one 407 in the gateway's log.
  const std::string gate = GateLog();
  EXPECT_EQ(KeyAgreements(gate), 1u) << gate;
  EXPECT_EQ(Count(gate, "status=407"), 1u) << gate;
  EXPECT_EQ(Count(gate, "status=591"), 0u) << gate;
  EXPECT_EQ(web_.Requests().size(), 1u);
}

}  // namespace
