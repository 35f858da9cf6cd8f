// Exchanges with a protected server's gateway (vggate, seen on the wire through a tap): key
// agreement, protected requests and answers, the retry under a new key, the reserve location and
// the answers passed on unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "platform/CodePage.h"
#include "protection/CipherhubLib.h"
#include "protection/ConKey.h"
#include "settings/Cfg_Clnt.h"
#include "support/E2eSupport.h"
#include "support/SecureSupport.h"

using namespace relaytest;

namespace {

std::string Utf8(const std::string& cp1251) { return vg::platform::Cp1251ToUtf8(cp1251); }

size_t Count(const std::string& text, const std::string& what) { return e2etest::Count(text, what); }

class ProtectedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
  }
  void SetUp() override {
    vg::ConnectionKeys().Clear();
    StartGate();
  }

  // vggate in front of the web server with these [Gateway] items and [Faults] lines, reached
  // through the tap; the protected server points at the tap.
  void StartGate(const std::string& gateway = "", const std::string& faults = "") {
    gate.Start(dir.Path(), web.Port(), {"LD_LIBRARY_PATH=" + e2etest::kBinDir}, gateway, faults);
    if (!tap) tap = std::make_unique<LoopbackTap>(gate.Port());
    AddServer(Location(), "");
  }
  std::string Location() const { return "127.0.0.1:" + std::to_string(tap->Port()); }
  void AddServer(const std::string& main, const std::string& reserve, const std::string& fail = {}) {
    tunnel.Configure([&](vg::TQSClientConfig& c) {
      while (c.ServerCount() > 0) c.DeleteServer(c.GetServer(0));
      auto s = std::make_unique<vg::TProtectedServer>();
      s->SetAddressesText("www.protected.test");
      s->VeilgateLocation().Parse(main);
      s->ReserveLocation().Parse(reserve);
      s->SetCryptoParams(securetest::EmulationParams("client-1", "gate-1", fail));
      c.AddServer(std::move(s));
    });
  }
  static std::string Get(const std::string& path, const std::string& headers = {}) {
    return "GET http://www.protected.test" + path + " HTTP/1.1\r\nHost: www.protected.test\r\n" + headers + "\r\n";
  }
  // The requests on the wire to the gateway, cut where a request line begins (their bodies are
  // ciphertext, so "GET /" inside one is not to be expected).
  std::vector<std::string> Seen() {
    const std::string wire = tap->Sent();
    std::vector<size_t> starts;
    for (const char* method : {"GET /", "POST /"})
      for (size_t at = wire.find(method); at != std::string::npos; at = wire.find(method, at + 1)) starts.push_back(at);
    std::sort(starts.begin(), starts.end());
    std::vector<std::string> requests;
    for (size_t i = 0; i < starts.size(); ++i)
      requests.push_back(wire.substr(starts[i], i + 1 < starts.size() ? starts[i + 1] - starts[i] : std::string::npos));
    return requests;
  }
  size_t KeyRequests() { return e2etest::KeyAgreements(gate.Log()); }

  TempDir dir;
  TestHttpServer web;
  e2etest::GatewayProcess gate;
  std::unique_ptr<LoopbackTap> tap;
  InProcessTunnel tunnel;
};

TEST_F(ProtectedTest, AKeyIsAgreedOnceAndRequestsTravelProtected) {
  RawClient c(tunnel.Port());
  c.Send(Get("/echo"));
  std::string answer = c.ReadAnswer();
  ASSERT_EQ(StatusOf(answer), 200) << Utf8(answer);
  EXPECT_EQ(BodyOf(answer).rfind("GET /echo HTTP/1.1\r\n", 0), 0u) << answer;
  EXPECT_EQ(answer.find("Vg-"), std::string::npos) << answer;

  c.Send(
      "POST http://www.protected.test/echo HTTP/1.1\r\nHost: www.protected.test\r\nContent-Length: 9\r\n\r\nsecret=42");
  answer = c.ReadAnswer();
  EXPECT_EQ(BodyOf(answer).rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << answer;
  EXPECT_EQ(BodyOf(answer).substr(BodyOf(answer).size() - 13), "\r\n\r\nsecret=42") << answer;
  EXPECT_EQ(KeyRequests(), 1u) << gate.Log();

  const auto seen = Seen();
  ASSERT_EQ(seen.size(), 3u) << tap->Sent();
  EXPECT_NE(seen[0].find("Vg-Hm: getkey"), std::string::npos) << seen[0];
  for (const auto& r : seen) {
    EXPECT_NE(r.find("\r\nHost: " + Location() + "\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("\r\nVg-Oh: www.protected.test\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << r;
  }
  // The body never travels in the clear.
  EXPECT_EQ(seen[2].find("secret=42"), std::string::npos);

  // Both directions are in the traffic log.
  std::string traffic;
  for (const auto& e : std::filesystem::directory_iterator(tunnel.LogDir()))
    if (e.path().filename().string().find("flow.log") != std::string::npos) traffic += ReadFileText(e.path().string());
  EXPECT_NE(traffic.find(" R & - www.protected.test >---\r\nPOST "), std::string::npos);
  EXPECT_NE(traffic.find(" A & - www.protected.test >---\r\nHTTP/1.1 200"), std::string::npos);

  // Stopping the listener forgets the session keys.
  EXPECT_EQ(vg::ConnectionKeys().Count(), 1u);
  tunnel.StopListener();
  EXPECT_EQ(vg::ConnectionKeys().Count(), 0u);
}

TEST_F(ProtectedTest, APageNamingAProtectedServerInVgOhIsNotRoutedThere) {
  TestHttpServer other;
  const std::string host = "127.0.0.1:" + std::to_string(other.Port());
  RawClient c(tunnel.Port());
  c.Send("GET http://" + host + "/echo HTTP/1.1\r\nHost: " + host +
         "\r\nVg-Oh: www.protected.test\r\nVg-Oh: www.protected.test\r\n\r\n");
  const std::string answer = c.ReadAnswer();
  EXPECT_EQ(StatusOf(answer), 200) << Utf8(answer);
  EXPECT_EQ(BodyOf(answer).find("Vg-Oh"), std::string::npos) << answer;
  EXPECT_TRUE(tap->Sent().empty());
}

TEST_F(ProtectedTest, ANewKeyOnlyWhenTheGatewayAsksForItOnTheFirstAttempt) {
  StartGate("", "Refuse591=1\n");
  RawClient c(tunnel.Port());
  c.Send(Get("/echo"));
  const std::string answer = c.ReadAnswer();
  EXPECT_EQ(BodyOf(answer).rfind("GET /echo HTTP/1.1\r\n", 0), 0u) << Utf8(answer);
  EXPECT_EQ(KeyRequests(), 2u) << gate.Log();
  EXPECT_EQ(Count(gate.Log(), "status=591"), 1u) << gate.Log();

  // Authentication requests go to the browser as they came.
  c.Send(Get("/status/401"));
  const std::string auth = c.ReadAnswer();
  EXPECT_EQ(auth.rfind("HTTP/1.1 401 Status\r\n", 0), 0u) << auth;
  EXPECT_EQ(KeyRequests(), 2u);
}

TEST_F(ProtectedTest, AnswersThatDoNotCheckOutEndTheConnection) {
  StartGate("", "WrongKeyAnswers=1\n");
  RawClient c(tunnel.Port());
  c.Send(Get("/echo"));
  std::string answer = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("Получен неверный ключ сессии"), std::string::npos) << Utf8(answer);

  StartGate("", "PlainAnswers=1\n");
  RawClient d(tunnel.Port());
  d.Send(Get("/echo"));
  answer = d.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510) << answer;
  EXPECT_NE(Utf8(answer).find("Ошибка расшифрования"), std::string::npos) << Utf8(answer);

  // In error trace mode the gateway's plain page is shown, unable to act for the site.
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetErrorTraceMode(true); });
  RawClient e(tunnel.Port());
  e.Send(Get("/echo"));
  answer = e.ReadUntilClose();
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  for (const char* header : {"\r\nContent-Security-Policy: sandbox allow-forms\r\n",
                             "\r\nX-Content-Type-Options: nosniff\r\n", "\r\nCache-Control: no-store\r\n"})
    EXPECT_NE(answer.find(header), std::string::npos) << header << answer;
  EXPECT_NE(BodyOf(answer).find("An unprotected answer (fault PlainAnswers)."), std::string::npos) << answer;
  EXPECT_NE(Utf8(tunnel.ServiceLog()).find("Получен незащищенный ответ"), std::string::npos);

  // A protected answer beyond the message limit is refused.
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetErrorTraceMode(false); });
  StartGate("MaxDataLength=8388608\n");
  RawClient f(tunnel.Port());
  f.Send(Get("/len/" + std::to_string(3 * 1024 * 1024)));
  answer = f.ReadUntilClose(20000);
  EXPECT_NE(Utf8(answer).find("Передаваемый документ превышает максимально допустимый размер"), std::string::npos)
      << Utf8(answer.substr(0, 300));
}

TEST_F(ProtectedTest, CompressedAnswersMayUnpackBeyondTheLimitButBombsAreRefused) {
  const std::string big = std::to_string(3 * 1024 * 1024);
  for (const std::string mode : {"1", "2"}) {
    StartGate("Compress=" + mode + "\nMaxDataLength=8388608\n");
    RawClient c(tunnel.Port());
    c.Send(Get("/text/" + big));
    const std::string answer = c.ReadAnswer(20000);
    ASSERT_EQ(StatusOf(answer), 200) << Utf8(answer.substr(0, 400));
    EXPECT_TRUE(BodyOf(answer) == TextBody(3 * 1024 * 1024)) << "mode " << mode;
  }

  StartGate("Compress=2\nMaxDataLength=8388608\n");
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetMaxHttpDataLength(64 * 1024); });
  RawClient d(tunnel.Port());
  d.Send(Get("/zeros/" + std::to_string(4 * 1024 * 1024)));
  const std::string answer = d.ReadUntilClose(20000);
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("Передаваемый документ превышает максимально допустимый размер"), std::string::npos)
      << Utf8(answer.substr(0, 400));
}

TEST_F(ProtectedTest, OneFailureGivesOnePageAndOneLogLine) {
  // The engine cannot sign, so the key request cannot be built.
  AddServer(Location(), "", "Sign");
  RawClient c(tunnel.Port());
  c.Send(Get("/echo"));
  const std::string answer = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510) << Utf8(answer);
  EXPECT_EQ(answer.find("HTTP/", 1), std::string::npos) << Utf8(answer);
  const std::string log = tunnel.ServiceLog();
  size_t lines = 0;
  for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 1u) << Utf8(log);
  // The line and the page tell the same cause.
  const std::string cause = log.substr(log.find(" : ") + 3, log.find("\r\n") - log.find(" : ") - 3);
  EXPECT_NE(answer.find(cause), std::string::npos) << Utf8(answer) << "\n" << Utf8(cause);
  EXPECT_TRUE(tap->Sent().empty());
}

TEST_F(ProtectedTest, ASilentGatewayGetsTheRequestOnce) {
  ShortWait wait(1000);
  RawClient c(tunnel.Port());
  // The gateway passes the request on to a web server that never answers.
  c.Send(Get("/hang"));
  const std::string answer = c.ReadUntilClose(10000);
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("не ответил за 1 с"), std::string::npos) << Utf8(answer);
  // The key request and the request itself, once.
  EXPECT_EQ(Seen().size(), 2u) << tap->Sent();
  EXPECT_EQ(web.Requests().size(), 1u);
}

TEST_F(ProtectedTest, AGatewayThatHangsUpLeavesTheBrowserAnErrorPage) {
  StartGate("", "HangUp=1\n");
  RawClient c(tunnel.Port());
  c.Send(Get("/echo"));
  const std::string answer = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510) << Utf8(answer);
  EXPECT_NE(Utf8(answer).find("Ошибка при установлении сессии"), std::string::npos) << Utf8(answer);
  EXPECT_NE(Utf8(tunnel.ServiceLog()).find("Ошибка при установлении сессии"), std::string::npos);
}

TEST_F(ProtectedTest, TheReserveLocationTakesOverAndIsRemembered) {
  const int dead = FreePort();
  AddServer("127.0.0.1:" + std::to_string(dead), Location());
  RawClient c(tunnel.Port());
  c.Send(Get("/echo"));
  EXPECT_EQ(BodyOf(c.ReadAnswer()).rfind("GET /echo HTTP/1.1\r\n", 0), 0u);
  int active = 0;
  tunnel.Configure([&](vg::TQSClientConfig& s) { active = s.GetServer(0)->ActiveLocation(); });
  EXPECT_EQ(active, vg::TProtectedServer::kReserveLocation);

  // With both locations refusing, the page names the last one tried.
  const int deadToo = FreePort();
  AddServer("127.0.0.1:" + std::to_string(dead), "127.0.0.1:" + std::to_string(deadToo));
  RawClient d(tunnel.Port());
  d.Send(Get("/echo"));
  const std::string answer = Utf8(d.ReadUntilClose());
  EXPECT_NE(answer.find("Ошибка при подключении к \"127.0.0.1:" + std::to_string(deadToo) + "\""), std::string::npos)
      << answer;
}

}  // namespace
