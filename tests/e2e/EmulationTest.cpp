// Protected traffic end to end: curl -> vgproxy -> vggate -> web server, as real processes.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <thread>

#include "platform/SysUtils.h"
#include "support/E2eSupport.h"

using namespace relaytest;
using namespace e2etest;

namespace {

class EmulationTest : public ProtectedPath {};

std::string Dechunk(const std::string& body) {
  std::string plain;
  size_t at = 0;
  for (;;) {
    const size_t line = body.find("\r\n", at);
    if (line == std::string::npos) return "<unterminated>";
    const size_t size = std::stoul(body.substr(at, line - at), nullptr, 16);
    if (size == 0) return plain;
    plain += body.substr(line + 2, size);
    at = line + 2 + size + 2;
  }
}

TEST_F(EmulationTest, GetHeadAndPostTravelProtected) {
  StartGate();
  StartTunnel();
  ProcessResult r = Curl({"http://" + kHost + "/len/5000"});
  EXPECT_EQ(r.out, Body(5000)) << r.err << Diagnostics();

  r = Curl({"-I", "http://" + kHost + "/len/777"});
  EXPECT_EQ(StatusOf(r.out), 200) << r.out << Diagnostics();
  EXPECT_NE(r.out.find("Content-Length: 777"), std::string::npos) << r.out;
  EXPECT_EQ(BodyOf(r.out), "");

  const std::string posted = Body(30000) + "&end";
  WriteFileText(dir_.File("post.bin"), posted);
  r = Curl({"--data-binary", "@" + dir_.File("post.bin"), "http://" + kHost + "/echo"});
  EXPECT_EQ(r.out.substr(r.out.find("\r\n\r\n") + 4), posted) << Diagnostics();

  // A chunked request body arrives whole.
  r = Curl({"-H", "Transfer-Encoding: chunked", "--data-binary", "@" + dir_.File("post.bin"),
            "http://" + kHost + "/echo"});
  ASSERT_NE(r.out.find("\r\n\r\n"), std::string::npos) << r.out << Diagnostics();
  EXPECT_NE(r.out.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << r.out.substr(0, 600);
  EXPECT_EQ(Dechunk(r.out.substr(r.out.find("\r\n\r\n") + 4)), posted) << r.out.substr(0, 600) << Diagnostics();

  StopAll();
  // Four plain requests reached the web server; the gateway saw each one protected (after the
  // key request).
  EXPECT_EQ(web_.Requests().size(), 4u);
  EXPECT_EQ(Count(GateLog(), "status=200"), 5u) << GateLog();
  for (const std::string& seen : web_.Requests()) EXPECT_EQ(seen.find("Vg-"), std::string::npos) << seen;
}

TEST_F(EmulationTest, AMegabyteAnswerArrivesIdenticalInEveryCompressMode) {
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE("compress mode " + std::to_string(mode));
    StartGate("Compress=" + std::to_string(mode) + "\n");
    StartTunnel("compress mode=" + std::to_string(mode) + "\n");
    const ProcessResult r = Curl({"http://" + kHost + "/len/1048576"});
    EXPECT_EQ(r.out.size(), 1048576u) << Diagnostics();
    EXPECT_TRUE(r.out == Body(1048576));
    StopAll();
  }
}

TEST_F(EmulationTest, AThreeMegabytePageArrivesWhenItsCompressedFormFitsTheLimit) {
  const size_t size = 3 * 1024 * 1024;
  for (int mode : {1, 2}) {
    SCOPED_TRACE("compress mode " + std::to_string(mode));
    StartGate("Compress=" + std::to_string(mode) + "\nMaxDataLength=8388608\n");
    StartTunnel("compress mode=" + std::to_string(mode) + "\n");
    const ProcessResult r = Curl({"http://" + kHost + "/text/" + std::to_string(size)});
    EXPECT_EQ(r.out.size(), size) << r.out.substr(0, 600) << Diagnostics();
    EXPECT_TRUE(r.out == TextBody(size));
    StopAll();
  }
}

TEST_F(EmulationTest, PostsAreAnsweredWithoutWaitingForALineEnd) {
  StartGate();
  StartTunnel();
  const auto seconds = [&](const std::string& url) {
    const ProcessResult r = Curl({"-o", "/dev/null", "-w", "%{time_total}", "--data-binary", "field=1", url});
    return r.out.empty() ? 99.0 : std::stod(r.out);
  };
  // The first protected request agrees the key; the second is the measured one of each kind.
  const std::string plain = "http://127.0.0.1:" + std::to_string(web_.Port()) + "/echo";
  const std::string guarded = "http://" + kHost + "/echo";
  seconds(guarded);
  // Well below the second that the old wait for a line end took.
  EXPECT_LT(seconds(plain), 0.5) << Diagnostics();
  EXPECT_LT(seconds(guarded), 0.5) << Diagnostics();
}

TEST_F(EmulationTest, CookiesTravelBothWays) {
  StartGate();
  StartTunnel();
  ProcessResult r = Curl({"-D", "-", "-o", "/dev/null", "http://" + kHost + "/setcookie"});
  EXPECT_NE(r.out.find("Set-Cookie: vgtest=42; Path=/"), std::string::npos) << r.out << Diagnostics();
  r = Curl({"-b", "vgtest=42; other=x", "http://" + kHost + "/echo"});
  EXPECT_NE(r.out.find("Cookie: vgtest=42; other=x\r\n"), std::string::npos) << r.out << Diagnostics();
}

TEST_F(EmulationTest, A591RenewsTheKeyOnceAndTheRequestArrivesOnce) {
  StartGate("", "Rekey591=1\n");
  StartTunnel();
  WriteFileText(dir_.File("post.bin"), "first");
  ProcessResult r = Curl({"--data-binary", "@" + dir_.File("post.bin"), "http://" + kHost + "/echo"});
  EXPECT_NE(r.out.find("\r\n\r\nfirst"), std::string::npos) << Diagnostics();
  WriteFileText(dir_.File("post.bin"), "second");
  r = Curl({"--data-binary", "@" + dir_.File("post.bin"), "http://" + kHost + "/echo"});
  EXPECT_NE(r.out.find("\r\n\r\nsecond"), std::string::npos) << Diagnostics();
  StopAll();
  EXPECT_EQ(Count(GateLog(), "status=591"), 1u) << GateLog();
  // The renewed attempt carried the browser's request exactly once.
  const auto seen = web_.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].find("\r\n\r\nsecond"), std::string::npos);
  EXPECT_EQ(seen[1].find("Vg-"), std::string::npos) << seen[1];
}

TEST_F(EmulationTest, AnAuthenticationChallengeIsPassedUnchanged) {
  StartGate();
  StartTunnel();
  const ProcessResult r = Curl({"-D", "-", "http://" + kHost + "/status/401"});
  EXPECT_EQ(StatusOf(r.out), 401) << r.out << Diagnostics();
  StopAll();
  EXPECT_EQ(Count(GateLog(), "status=591"), 0u) << GateLog();
}

TEST_F(EmulationTest, KeptConnectionsTheGatewayClosesAreRetriedSilently) {
  StartGate("", "CloseAfter=1\n");
  StartTunnel();
  // One curl run reuses its connection to the proxy for all five requests.
  std::vector<std::string> args;
  for (int i = 1; i <= 5; ++i) args.push_back("http://" + kHost + "/len/" + std::to_string(1000 * i));
  const ProcessResult r = Curl(args);
  std::string expected;
  for (int i = 1; i <= 5; ++i) expected += Body(1000 * static_cast<size_t>(i));
  EXPECT_EQ(r.out, expected) << r.err << Diagnostics();
  EXPECT_EQ(web_.Requests().size(), 5u);
}

TEST_F(EmulationTest, KeyRefusalsReachTheBrowser) {
  StartGate("", "KeyStatus=511\n");
  StartTunnel();
  ProcessResult r = Curl({"-D", "-", "http://" + kHost + "/len/10"});
  EXPECT_EQ(StatusOf(r.out), 511) << r.out << Diagnostics();
  EXPECT_TRUE(web_.Requests().empty());
  StopAll();

  StartGate("", "KeyStatus=302\n");
  StartTunnel();
  r = Curl({"-D", "-", "http://" + kHost + "/len/10"});
  EXPECT_EQ(StatusOf(r.out), 302) << r.out << Diagnostics();
  EXPECT_NE(r.out.find("Location: /"), std::string::npos) << r.out;
  EXPECT_TRUE(web_.Requests().empty());
}

TEST_F(EmulationTest, PlainGatewayPagesShownOnlyInErrorTraceMode) {
  StartGate("", "PlainAnswers=1\n");
  StartTunnel("", /*errorTrace=*/true);
  ProcessResult r = Curl({"-D", "-", "http://" + kHost + "/len/10"});
  const std::string traced = r.out;
  StopAll();

  StartGate("", "PlainAnswers=1\n");
  StartTunnel("", /*errorTrace=*/false);
  r = Curl({"-D", "-", "http://" + kHost + "/len/10"});
  const std::string hidden = r.out;
  // With the trace mode the gateway's own page, without it the tunnel's error page.
  EXPECT_EQ(StatusOf(traced), 200) << traced << Diagnostics();
  EXPECT_NE(traced.find("An unprotected answer (fault PlainAnswers)."), std::string::npos) << traced;
  EXPECT_EQ(StatusOf(hidden), 510) << hidden << Diagnostics();
  EXPECT_EQ(hidden.find("fault PlainAnswers"), std::string::npos) << hidden;
  EXPECT_NE(hidden.find("Error from QS-Veilgate (client part)"), std::string::npos) << hidden;
  EXPECT_TRUE(web_.Requests().empty());
}

TEST_F(EmulationTest, CorruptedAnswersNeverReachTheBrowser) {
  StartGate("Compress=2\n", "CorruptAnswers=1\n");
  StartTunnel("compress mode=2\n");
  for (const char* path : {"/len/5000", "/len/300000"}) {
    const ProcessResult r = Curl({"-D", "-", "http://" + kHost + path});
    EXPECT_NE(StatusOf(r.out), 200) << r.out.substr(0, 400) << Diagnostics();
    EXPECT_EQ(r.out.find(Body(200)), std::string::npos);
    EXPECT_NE(r.out.find("Error from QS-Veilgate (client part)"), std::string::npos) << r.out.substr(0, 600);
  }
  EXPECT_EQ(web_.Requests().size(), 2u);
}

TEST_F(EmulationTest, AnOlderGatewayGetsTheBareRecord) {
  StartGate("Protocol=1.4\n");
  StartTunnel();
  ProcessResult r = Curl({"http://" + kHost + "/len/3000"});
  EXPECT_EQ(r.out, Body(3000)) << Diagnostics();
  r = Curl({"--data-binary", "older", "http://" + kHost + "/echo"});
  EXPECT_NE(r.out.find("\r\n\r\nolder"), std::string::npos) << Diagnostics();
}

TEST_F(EmulationTest, AnUnreachableLocationMovesToTheReserve) {
  StartGate();
  const int dead = FreePort();
  StartTunnel("reserve location=127.0.0.1:" + std::to_string(gatePort_) + "\n", false, dead);
  ProcessResult r = Curl({"http://" + kHost + "/len/2000"});
  EXPECT_EQ(r.out, Body(2000)) << r.err << Diagnostics();
  r = Curl({"http://" + kHost + "/len/2001"});
  EXPECT_EQ(r.out, Body(2001)) << Diagnostics();
  StopAll();

  // Both gone: the page names the last location tried.
  StartTunnel("reserve location=127.0.0.1:" + std::to_string(gatePort_) + "\n", false, dead);
  r = Curl({"-D", "-", "http://" + kHost + "/len/10"});
  EXPECT_EQ(StatusOf(r.out), 510) << r.out;
  EXPECT_NE(r.out.find("127.0.0.1:" + std::to_string(gatePort_)), std::string::npos) << r.out;
}

TEST_F(EmulationTest, TwentyConnectionsAgreeKeysAtOnce) {
  StartGate("Compress=1\n");
  StartTunnel("compress mode=1\n");
  std::vector<std::thread> clients;
  std::vector<std::string> got(20);
  for (size_t i = 0; i < got.size(); ++i)
    clients.emplace_back([&, i] { got[i] = Curl({"http://" + kHost + "/len/" + std::to_string(4000 + i)}).out; });
  for (auto& t : clients) t.join();
  for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == Body(4000 + i)) << i << Diagnostics();
  EXPECT_EQ(web_.Requests().size(), 20u);
}

TEST_F(EmulationTest, TheTrafficLogHoldsProtectedExchangesOnly) {
  StartGate();
  StartTunnel("", false, 0, "Log flags=261\n");  // service messages and protected requests
  ProcessResult r = Curl({"http://" + kHost + "/len/1234"});
  EXPECT_EQ(r.out, Body(1234)) << Diagnostics();
  r = Curl({"http://127.0.0.1:" + std::to_string(web_.Port()) + "/len/4321"});
  EXPECT_EQ(r.out, Body(4321));
  StopAll();
  const std::string logs = relaytest::RunProcess({"sh", "-c", "cat " + dir_.File("logs") + "/*"}).out;
  EXPECT_NE(logs.find("GET /len/1234 HTTP/1.1"), std::string::npos) << logs;
  EXPECT_EQ(logs.find("/len/4321"), std::string::npos) << logs;
  // Answers are not asked for.
  EXPECT_EQ(logs.find("Vg-Ocl: 1234"), std::string::npos) << logs;
}

TEST_F(EmulationTest, AProtectedAnswerAboveTheLimitIsRefused) {
  StartGate("Compress=0\n");
  StartTunnel("compress mode=0\n", false, 0, "Max HTTP data length=100000\n");
  const ProcessResult r = Curl({"-D", "-", "http://" + kHost + "/len/300000"});
  EXPECT_EQ(StatusOf(r.out), 510) << r.out.substr(0, 600) << Diagnostics();
  EXPECT_NE(r.out.find(VGT("Передаваемый документ превышает максимально допустимый размер")), std::string::npos)
      << r.out.substr(0, 600);
  EXPECT_EQ(r.out.find(Body(1000)), std::string::npos);
}

}  // namespace
