// Error pages, the loop guard, access control, the tunnel command and ending connections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Net.h"
#include "protection/CipherhubLib.h"
#include "settings/Cfg_Clnt.h"
#include "support/RelaySupport.h"
#include "tunnel/ClntThrd.h"
#include "tunnel/ServerSock.h"
#include "tunnel/fThrList.h"

using namespace relaytest;

namespace {

std::string Utf8(const std::string& cp1251) { return vg::platform::Cp1251ToUtf8(cp1251); }
std::string Cp(const std::string& utf8) { return vg::platform::Utf8ToCp1251(utf8); }

class ErrorsTest : public ::testing::Test {
 protected:
  InProcessTunnel tunnel;
  TestHttpServer server;

  std::string Exchange(const std::string& request, const std::string& from = {}) {
    RawClient c(tunnel.Port(), from);
    c.Send(request);
    return c.ReadUntilClose();
  }
};

TEST_F(ErrorsTest, ARefusedConnectionGetsTheErrorPageByteForByte) {
  const int port = FreePort();
  const std::string answer = Exchange(ProxyGet(port, "/x"));
  const std::string message = Cp("Ошибка при подключении к \"127.0.0.1:" + std::to_string(port) +
                                 "\" (EWideSocketError: Windows socket error: Connection refused (10061)) "
                                 "(10061: Connection refused)");
  const std::string page =
      "<html>\r\n<head>\r\n<title>QS-Veilgate (client part)</title>\r\n</head>\r\n"
      "<BODY BGCOLOR=\"#FFFFFF\">\r\n<BASEFONT SIZE=4>\r\n<center>\r\n&nbsp;<BR>\r\n"
      "Error from QS-Veilgate (client part)\r\n</center>\r\n<center>\r\n&nbsp;<BR>\r\n" +
      message + "\r\n</center>\r\n</body>\r\n</html>\r\n";
  const std::string expected =
      "HTTP/1.1 510 Veilgate error\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
      "\r\nConnection: close\r\n\r\n" + page;
  EXPECT_EQ(Utf8(answer), Utf8(expected));
  // The message went to the service log as well.
  EXPECT_NE(tunnel.ServiceLog().find(message), std::string::npos);
}

TEST_F(ErrorsTest, PagesShowRequestTextAsTextOnly) {
  const std::string answer = Exchange("GET http://a&<script>x<:81/ HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_EQ(answer.rfind("HTTP/1.0 510 Veilgate error\r\n", 0), 0u);
  EXPECT_EQ(answer.find("<script>"), std::string::npos) << answer;
  EXPECT_NE(answer.find("a&amp;&lt;script&gt;x&lt;:81"), std::string::npos) << answer;
}

TEST_F(ErrorsTest, RequestsWithoutATargetOrForThisPortAreRefused) {
  std::string answer = Exchange("GET / HTTP/1.1\r\n\r\n");
  EXPECT_NE(Utf8(answer).find("Не задан адрес назначения"), std::string::npos) << Utf8(answer);

  // The unspecified address reaches this machine's listener as well.
  for (const std::string host : {"127.0.0.1", "127.3.4.5", "localhost", "0.0.0.0", "0"}) {
    answer = Exchange("GET http://" + host + ":" + std::to_string(tunnel.Port()) + "/ HTTP/1.1\r\nHost: " + host +
                      "\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 510) << host;
    EXPECT_NE(Utf8(answer).find("К указанному порту подключиться нельзя"), std::string::npos) << host;
  }
}

TEST_F(ErrorsTest, LocalAccessAdmitsThisMachineOnly) {
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetClientAccessType(vg::TQSClientConfig::kAccessLocal); });
  // Every loopback address is this machine, whichever one the connection came to.
  for (const char* from : {"", "127.0.0.2"}) {
    RawClient ok(tunnel.Port(), from);
    ok.Send(ProxyGet(server.Port(), "/len/2"));
    EXPECT_EQ(BodyOf(ok.ReadAnswer()), "ab") << from;
  }
  // Another host is refused as it is accepted (loopback cannot stand for one, so the rule itself).
  const auto ip = [](const char* text) { return vg::platform::ParseDottedIPv4(text); };
  EXPECT_FALSE(vg::ClientAdmitted(1, ip("10.1.2.3"), ip("127.0.0.1"), {}));
  EXPECT_FALSE(vg::ClientAdmitted(1, ip("10.1.2.3"), ip("10.1.2.4"), {ip("10.1.2.3")}));
  EXPECT_TRUE(vg::ClientAdmitted(1, ip("10.1.2.4"), ip("10.1.2.4"), {}));
  for (const uint32_t own : vg::OwnAddresses().List()) EXPECT_TRUE(vg::ClientAdmitted(1, own, ip("127.0.0.1"), {}));
}

TEST_F(ErrorsTest, RefusedClientsAreCutShortAndLeaveTheTunnelToOthers) {
  tunnel.Configure([](vg::TQSClientConfig& c) {
    c.SetClientAccessType(vg::TQSClientConfig::kAccessListed);
    c.SetAllowedHosts({vg::platform::ParseDottedIPv4("127.0.0.1")});
  });
  const auto began = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 60; ++i) idle.push_back(std::make_unique<RawClient>(tunnel.Port(), "127.0.0.2"));
  RawClient admitted(tunnel.Port());
  admitted.Send(ProxyGet(server.Port(), "/len/2"));
  EXPECT_EQ(BodyOf(admitted.ReadAnswer()), "ab");
  // Refused clients that never send a request are let go within seconds, not held for a minute.
  for (auto& c : idle) EXPECT_TRUE(c->PeerClosed(8000));
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(9));
  // One that sends its request still gets the page.
  const std::string answer = Exchange(ProxyGet(server.Port(), "/len/2"), "127.0.0.2");
  EXPECT_NE(Utf8(answer).find("Доступ запрещен"), std::string::npos) << Utf8(answer);
  EXPECT_NE(Utf8(tunnel.ServiceLog()).find("Адресу 127.0.0.2 в доступе отказано"), std::string::npos);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(ErrorsTest, ListedAccessAdmitsOnlyTheListedAddresses) {
  tunnel.Configure([](vg::TQSClientConfig& c) {
    c.SetClientAccessType(vg::TQSClientConfig::kAccessListed);
    c.SetAllowedHosts({vg::platform::ParseDottedIPv4("127.0.0.3")});
  });
  std::string answer = Exchange(ProxyGet(server.Port(), "/len/2"));
  EXPECT_NE(Utf8(answer).find("Доступ запрещен"), std::string::npos);
  RawClient listed(tunnel.Port(), "127.0.0.3");
  listed.Send(ProxyGet(server.Port(), "/len/2"));
  EXPECT_EQ(BodyOf(listed.ReadAnswer()), "ab");
}

TEST_F(ErrorsTest, TunnelCommandsAreCheckedAndForwarded) {
  // Another command is ignored, and the header goes on to the server.
  RawClient c(tunnel.Port());
  c.Send(ProxyGet(server.Port(), "/echo", "HTTP/1.1", "vg-act: reload=now\r\n"));
  EXPECT_NE(BodyOf(c.ReadAnswer()).find("vg-act: reload=now"), std::string::npos);

  // Clearing the cache needs a protected server behind the target.
  const std::string answer = Exchange(ProxyGet(server.Port(), "/len/2", "HTTP/1.1", "vg-act: Cc=all\r\n"));
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(answer.find("Invalid internal command"), std::string::npos);
}

TEST_F(ErrorsTest, ClearingTheCacheOfAProtectedServerLetsTheRequestGoOn) {
  vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
  tunnel.Configure([](vg::TQSClientConfig& c) {
    auto s = std::make_unique<vg::TProtectedServer>();
    s->SetAddressesText("www.protected.test");
    s->VeilgateLocation().Parse("127.0.0.1:" + std::to_string(FreePort()));
    vg::TCryptoParams params;
    params.SetEngineType("Emulation/1.0");
    params.AddParam(0, "client-1");
    params.AddParam(1, "gate-1");
    s->SetCryptoParams(params);
    c.AddServer(std::move(s));
  });
  const std::string answer =
      Exchange("GET http://www.protected.test/ HTTP/1.1\r\nHost: www.protected.test\r\nvg-act: cc\r\n\r\n");
  EXPECT_EQ(answer.find("Invalid internal command"), std::string::npos) << Utf8(answer);
  // The request went on to routing: the gateway location was tried.
  EXPECT_NE(Utf8(answer).find("Ошибка при подключении к \"127.0.0.1:"), std::string::npos) << Utf8(answer);
}

TEST_F(ErrorsTest, UnloadEndsAConnectionWaitingForItsRequest) {
  RawClient idle(tunnel.Port());
  RawClient busy(tunnel.Port());
  busy.Send(ProxyGet(server.Port(), "/hang"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(vg::ThreadList().Count(), 2);
  const auto began = std::chrono::steady_clock::now();
  vg::ThreadList().TerminateAll();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1200));
  EXPECT_EQ(vg::ThreadList().Count(), 0);
  EXPECT_TRUE(idle.PeerClosed(1000));
  EXPECT_TRUE(busy.PeerClosed(1000));
}

TEST_F(ErrorsTest, UnknownHostsGetTheResolverText) {
  const std::string answer =
      Exchange("GET http://no-such-host.invalid/ HTTP/1.1\r\nHost: no-such-host.invalid\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("Ошибка при подключении к \"no-such-host.invalid\""), std::string::npos) << Utf8(answer);
}

}  // namespace

namespace {
// A connection thread whose last act is the clean-up of a thread-local object, as a library's
// per-thread state is cleaned up when the thread ends.
std::atomic<bool> g_threadStateFreed{false};
struct SlowThreadState {
  ~SlowThreadState() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_threadStateFreed = true;
  }
};
class ThreadWithState : public vg::TServerClientThread {
 public:
  ThreadWithState() : TServerClientThread(vg::platform::ClientSocket()) {}

 protected:
  void ClientExecute() override {
    thread_local SlowThreadState state;
    (void)state;
  }
};
}  // namespace

TEST(ThreadListTest, WaitersGoOnOnlyAfterTheThreadsOwnCleanUp) {
  for (const bool terminate : {false, true}) {
    g_threadStateFreed = false;
    vg::TRList list;
    (new ThreadWithState)->Start(&list);
    if (terminate)
      list.TerminateAll();
    else
      EXPECT_TRUE(list.WaitEmpty(5000));
    EXPECT_TRUE(g_threadStateFreed) << (terminate ? "TerminateAll" : "WaitEmpty");
  }
}
