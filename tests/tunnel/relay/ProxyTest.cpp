// Tunnels (CONNECT) and the upstream proxy, with real clients and a real proxy.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "platform/Net.h"
#include "settings/Cfg_Clnt.h"
#include "sockets/fEntry.h"
#include "support/RelaySupport.h"

using namespace relaytest;

namespace {

std::string Connect(int port) {
  const std::string target = "127.0.0.1:" + std::to_string(port);
  return "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
}

class TunnelTest : public ::testing::Test {
 protected:
  InProcessTunnel tunnel;
  TestHttpServer server;
};

TEST_F(TunnelTest, ConnectWithoutProxyOpensABytePipe) {
  RawClient c(tunnel.Port());
  c.Send(Connect(server.Port()));
  std::string reply;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (reply.size() < 29 && std::chrono::steady_clock::now() < end) reply += c.ReadUntilClose(100);
  EXPECT_EQ(reply, "HTTP/1.1 200 OK Connected\r\n\r\n");
  c.Send("GET /len/7 HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(BodyOf(c.ReadAnswer()), "abcdefg");
  c.Send("GET /len/3 HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(BodyOf(c.ReadAnswer()), "abc");
}

TEST_F(TunnelTest, ATunnelCarriesDataSentEarlyAndAnswersAfterTheClientFinished) {
  RawClient c(tunnel.Port());
  // The client does not wait for the tunnel's answer and ends its sending side at once.
  c.Send(Connect(server.Port()) + "GET /len/20000 HTTP/1.1\r\nHost: x\r\n\r\n");
  c.ShutdownSend();
  const std::string all = c.ReadUntilClose();
  const std::string head = "HTTP/1.1 200 OK Connected\r\n\r\n";
  ASSERT_EQ(all.rfind(head, 0), 0u) << all.substr(0, 200);
  EXPECT_EQ(BodyOf(all.substr(head.size())), Body(20000));
}

TEST_F(TunnelTest, BulkDataCrossesATunnelBothWaysIntact) {
  RawClient c(tunnel.Port());
  c.Send(Connect(server.Port()));
  EXPECT_EQ(StatusOf(c.ReadAnswer(5000, true)), 200);
  const std::string body = Body(1500000);
  std::thread sender([&] { c.Send("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 1500000\r\n\r\n" + body); });
  const std::string echoed = c.ReadAnswer(20000);
  sender.join();
  EXPECT_TRUE(BodyOf(echoed).size() > body.size() && BodyOf(echoed).find(body) != std::string::npos);
  c.Send("GET /len/3000000 HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_TRUE(BodyOf(c.ReadAnswer(20000)) == Body(3000000));
}

TEST_F(TunnelTest, RealTlsClientThroughTheTunnel) {
  TempDir dir;
  const ProcessResult made =
      RunProcess({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir.File("key.pem"), "-out",
                  dir.File("cert.pem"), "-subj", "/CN=localhost", "-days", "1"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const int port = FreePort();
  Process tls({"openssl", "s_server", "-accept", std::to_string(port), "-cert", dir.File("cert.pem"), "-key",
               dir.File("key.pem"), "-www", "-quiet"});
  ASSERT_TRUE(WaitForPort(port));
  const ProcessResult r =
      RunProcess({"curl", "-sk", "--max-time", "15", "-x", "http://127.0.0.1:" + std::to_string(tunnel.Port()), "-w",
                  "\n%{http_code}", "https://127.0.0.1:" + std::to_string(port) + "/"});
  tls.Stop(SIGTERM, 5000);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Ciphers supported"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 3), "200");
}

TEST_F(TunnelTest, CurlThroughTheTunnel) {
  const ProcessResult r =
      RunProcess({"curl", "-s", "--max-time", "15", "-x", "http://127.0.0.1:" + std::to_string(tunnel.Port()),
                  "http://127.0.0.1:" + std::to_string(server.Port()) + "/len/100000"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out == Body(100000));
}

// The test server standing in for the upstream proxy shows what the tunnel sent it.
TEST_F(TunnelTest, TheUpstreamProxyGetsAbsoluteTargetsAndOrpcClosesEveryConnection) {
  TestHttpServer proxy;
  tunnel.Configure([&](vg::TQSClientConfig& c) {
    c.SetProxyEnabled(true);
    c.SetProxyHost("127.0.0.1");
    c.SetProxyPort(proxy.Port());
  });
  RawClient c(tunnel.Port());
  c.Send("GET /len/2 HTTP/1.1\r\nHost: www.example.test\r\n\r\n");
  EXPECT_EQ(BodyOf(c.ReadAnswer()), "ab");
  EXPECT_EQ(proxy.LastRequest().rfind("GET http://www.example.test/len/2 HTTP/1.1\r\n", 0), 0u) << proxy.LastRequest();
  EXPECT_FALSE(c.PeerClosed(200));

  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetProxyORPC(true); });
  RawClient d(tunnel.Port());
  d.Send("GET /len/3 HTTP/1.1\r\nHost: www.example.test\r\n\r\n");
  const std::string answer = d.ReadAnswer();
  EXPECT_EQ(BodyOf(answer), "abc");
  EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos) << answer;
  EXPECT_NE(proxy.LastRequest().find("Connection: close\r\n"), std::string::npos) << proxy.LastRequest();
  EXPECT_TRUE(d.PeerClosed());
}

// A real HTTP proxy in front of the servers.
class UpstreamProxyTest : public TunnelTest {
 protected:
  void SetUp() override {
    proxyPort_ = FreePort();
    WriteFileText(dir_.File("tinyproxy.conf"), "Port " + std::to_string(proxyPort_) +
                                                   "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                                                   "Allow 127.0.0.1\nLogLevel Info\nLogFile \"" +
                                                   dir_.File("tinyproxy.log") + "\"\n");
    proxy_ = std::make_unique<Process>(std::vector<std::string>{"tinyproxy", "-d", "-c", dir_.File("tinyproxy.conf")});
    ASSERT_TRUE(WaitForPort(proxyPort_)) << "tinyproxy did not start";
    tunnel.Configure([this](vg::TQSClientConfig& c) {
      c.SetProxyEnabled(true);
      c.SetProxyHost("127.0.0.1");
      c.SetProxyPort(proxyPort_);
    });
  }
  void TearDown() override {
    if (proxy_) proxy_->Stop(SIGTERM, 5000);
  }
  bool ViaProxy(const std::string& echoed) { return echoed.find("\r\nVia: ") != std::string::npos; }

  TempDir dir_;
  int proxyPort_ = 0;
  std::unique_ptr<Process> proxy_;
};

TEST_F(UpstreamProxyTest, RequestsAndTunnelsGoThroughTheProxy) {
  RawClient c(tunnel.Port());
  c.Send(ProxyGet(server.Port(), "/echo"));
  EXPECT_TRUE(ViaProxy(BodyOf(c.ReadAnswer())));

  RawClient t(tunnel.Port());
  t.Send(Connect(server.Port()));
  const std::string established = t.ReadAnswer(5000, /*headRequest=*/true);
  EXPECT_EQ(StatusOf(established), 200) << established;
  t.Send("GET /len/5 HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(BodyOf(t.ReadAnswer()), "abcde");
}

TEST_F(UpstreamProxyTest, LocalAddressesBypassTheProxyWhenAsked) {
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetBypassProxyForLocal(true); });
  RawClient c(tunnel.Port());
  c.Send(ProxyGet(server.Port(), "/echo"));
  EXPECT_FALSE(ViaProxy(BodyOf(c.ReadAnswer())));

  // This machine's address on its network is local too.
  const uint32_t own = vg::LocalAddress();
  if (own != 0 && (own & 0xFF) != 127) {
    TestHttpServer wide(true);
    const std::string host = vg::platform::DottedText(own) + ":" + std::to_string(wide.Port());
    RawClient d(tunnel.Port());
    d.Send("GET http://" + host + "/echo HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    EXPECT_FALSE(ViaProxy(BodyOf(d.ReadAnswer())));
  }

  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetBypassProxyForLocal(false); });
  RawClient e(tunnel.Port());
  e.Send(ProxyGet(server.Port(), "/echo"));
  EXPECT_TRUE(ViaProxy(BodyOf(e.ReadAnswer())));
}

TEST_F(UpstreamProxyTest, TheLoopGuardAppliesToTheProxyToo) {
  tunnel.Configure([&](vg::TQSClientConfig& c) { c.SetProxyPort(tunnel.Port()); });
  RawClient c(tunnel.Port());
  c.Send(ProxyGet(server.Port(), "/len/2"));
  const std::string answer = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510);
}

}  // namespace
