// Plain exchanges through the tunnel in this process, over real loopback connections.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/CodePage.h"
#include "platform/SysUtils.h"
#include "settings/Cfg_Clnt.h"
#include "support/RelaySupport.h"

using namespace relaytest;

namespace {

std::string Utf8(const std::string& cp1251) { return vg::platform::Cp1251ToUtf8(cp1251); }

class ExchangeTest : public ::testing::Test {
 protected:
  InProcessTunnel tunnel;
  TestHttpServer server;

  std::string Get(RawClient& c, const std::string& path, const std::string& version = "HTTP/1.1",
                  const std::string& headers = {}) {
    c.Send(ProxyGet(server.Port(), path, version, headers));
    return c.ReadAnswer();
  }
  // How many requests for the path reached the server.
  int Sent(const std::string& path) {
    int n = 0;
    for (const auto& r : server.Requests())
      if (r.find(path + " HTTP") != std::string::npos) ++n;
    return n;
  }
};

TEST_F(ExchangeTest, TargetsReachTheServerRelativeWithTheirHost) {
  RawClient c(tunnel.Port());
  const std::string answer = Get(c, "/echo", "HTTP/1.1", "Vg-Oh: \r\n");
  ASSERT_EQ(StatusOf(answer), 200) << answer;
  const std::string seen = BodyOf(answer);
  EXPECT_EQ(seen.rfind("GET /echo HTTP/1.1\r\n", 0), 0u) << seen;
  EXPECT_NE(seen.find("Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("Vg-Oh"), std::string::npos) << seen;

  // A relative target with a Host header reaches the same server on the kept connection.
  c.Send("GET /len/3 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n\r\n");
  const std::string second = c.ReadAnswer();
  EXPECT_EQ(BodyOf(second), "abc");
  EXPECT_EQ(server.Connections(), 1);
}

TEST_F(ExchangeTest, KeepAliveFollowsBothSidesVersionsAndConnectionHeaders) {
  {
    // 1.1 on both sides without Connection headers: kept, one upstream connection.
    RawClient c(tunnel.Port());
    EXPECT_EQ(BodyOf(Get(c, "/len/5")), "abcde");
    EXPECT_EQ(BodyOf(Get(c, "/len/2")), "ab");
    EXPECT_FALSE(c.PeerClosed(300));
  }
  {
    // A 1.0 browser and a 1.1 server answering without Connection header: closes.
    RawClient c(tunnel.Port());
    EXPECT_EQ(BodyOf(Get(c, "/len/4", "HTTP/1.0")), "abcd");
    EXPECT_TRUE(c.PeerClosed());
  }
  {
    // A close in any letter case from a 1.1 server: closes, although the server keeps its side.
    RawClient c(tunnel.Port());
    EXPECT_EQ(BodyOf(Get(c, "/connclose")), "ok");
    EXPECT_TRUE(c.PeerClosed());
  }
  {
    // A 1.0 server answer without keep-alive: closes.
    RawClient c(tunnel.Port());
    EXPECT_EQ(BodyOf(Get(c, "/v10/len/3")), "abc");
    EXPECT_TRUE(c.PeerClosed());
  }
  {
    // The browser's own close is honoured too.
    RawClient c(tunnel.Port());
    EXPECT_EQ(BodyOf(Get(c, "/len/1", "HTTP/1.1", "Connection: close\r\n")), "a");
    EXPECT_TRUE(c.PeerClosed());
  }
}

TEST_F(ExchangeTest, AnotherHostOnAKeptConnectionConnectsAnew) {
  TestHttpServer other;
  RawClient c(tunnel.Port());
  EXPECT_EQ(BodyOf(Get(c, "/len/3")), "abc");
  c.Send(ProxyGet(other.Port(), "/len/4"));
  EXPECT_EQ(BodyOf(c.ReadAnswer()), "abcd");
  EXPECT_EQ(BodyOf(Get(c, "/len/2")), "ab");
  EXPECT_EQ(server.Connections(), 2);
  EXPECT_EQ(other.Connections(), 1);
}

TEST_F(ExchangeTest, AnswersOfEveryFramingArriveWhole) {
  RawClient c(tunnel.Port());
  EXPECT_EQ(BodyOf(Get(c, "/len/10")), Body(10));

  const std::string chunked = Get(c, "/chunked/2500");
  vg::THTTPData m;
  m.Assign(chunked);
  EXPECT_TRUE(m.IsCompleteResponse());
  EXPECT_NE(BodyOf(chunked).find(Body(2500).substr(2000)), std::string::npos);

  c.Send("HEAD http://127.0.0.1:" + std::to_string(server.Port()) + "/len/100 HTTP/1.1\r\nHost: x\r\n\r\n");
  const std::string head = c.ReadAnswer(5000, true);
  EXPECT_EQ(StatusOf(head), 200);
  EXPECT_EQ(BodyOf(head), "");
  EXPECT_NE(head.find("Content-Length: 100"), std::string::npos);

  EXPECT_EQ(StatusOf(Get(c, "/status/204")), 204);
  EXPECT_EQ(StatusOf(Get(c, "/status/304")), 304);
  // All of the above on one browser connection: nothing was left over between answers.
  EXPECT_EQ(BodyOf(Get(c, "/len/3")), "abc");
  EXPECT_EQ(server.Connections(), 1);

  // An answer delimited by the server's close reaches the browser and ends the connection.
  c.Send(ProxyGet(server.Port(), "/close/5000"));
  const std::string all = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(all), 200);
  EXPECT_EQ(BodyOf(all), Body(5000));
}

TEST_F(ExchangeTest, InterimAnswersGoAheadOfTheFinalOne) {
  for (const char* path : {"/info", "/info-joined"}) {
    RawClient c(tunnel.Port());
    const std::string answer = Get(c, path);
    EXPECT_EQ(answer.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n", 0), 0u) << path << ": " << answer;
    EXPECT_EQ(BodyOf(answer.substr(answer.find("HTTP/1.1 200"))), "done") << path;
    EXPECT_EQ(BodyOf(Get(c, "/len/2")), "ab") << path;
  }
}

TEST_F(ExchangeTest, LargeAnswersAreStreamedBeyondTheMessageLimit) {
  constexpr size_t kSize = 3 * 1024 * 1024;
  RawClient c(tunnel.Port());
  const std::string answer = Get(c, "/len/" + std::to_string(kSize));
  ASSERT_EQ(StatusOf(answer), 200);
  EXPECT_TRUE(BodyOf(answer) == Body(kSize));

  const std::string chunked = Get(c, "/chunked/" + std::to_string(kSize));
  vg::THTTPData m;
  m.Assign(chunked);
  EXPECT_TRUE(m.IsCompleteResponse());
  EXPECT_GT(chunked.size(), kSize);
  EXPECT_EQ(BodyOf(Get(c, "/len/1")), "a");
}

TEST_F(ExchangeTest, PostBodiesWithAndWithoutTheTrailingLineEnd) {
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  const std::string post =
      "POST http://" + host + "/echo HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 7\r\n\r\nfield=1";
  RawClient c(tunnel.Port());
  c.Send(post + "\r\n");
  std::string seen = BodyOf(c.ReadAnswer());
  EXPECT_NE(seen.find("\r\n\r\nfield=1"), std::string::npos) << seen;
  // The line end was taken with the body, so the next request starts cleanly.
  EXPECT_EQ(BodyOf(Get(c, "/len/2")), "ab");

  const auto began = std::chrono::steady_clock::now();
  c.Send(post);
  seen = BodyOf(c.ReadAnswer());
  EXPECT_NE(seen.find("\r\n\r\nfield=1"), std::string::npos) << seen;
  // Nothing waits for a line end that modern browsers never send (the old wait took a second).
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(500));
  // A line end that comes later still is no part of the next request.
  c.Send("\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(BodyOf(Get(c, "/len/3")), "abc");
}

TEST_F(ExchangeTest, UploadsBeyondTheLimitAreStreamedToPlainServers) {
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetMaxHttpDataLength(64 * 1024); });
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  const std::string body = Body(1000000);
  RawClient c(tunnel.Port());
  std::thread sender([&] {
    c.Send("POST http://" + host + "/echo HTTP/1.1\r\nHost: " + host +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  });
  const std::string answer = c.ReadAnswer(20000);
  sender.join();
  ASSERT_EQ(StatusOf(answer), 200) << answer.substr(0, 300);
  EXPECT_TRUE(BodyOf(answer).find(body) != std::string::npos);
}

TEST_F(ExchangeTest, AHeaderBlockThatNeverEndsIsRefused) {
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetMaxHttpDataLength(4096); });
  RawClient c(tunnel.Port());
  c.Send("GET http://127.0.0.1/ HTTP/1.1\r\nX-Filler: " + std::string(10000, 'x'));
  const std::string answer = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("Передаваемый документ превышает максимально допустимый размер"), std::string::npos);
}

TEST_F(ExchangeTest, AKeptConnectionTheServerClosedIsRetriedSilently) {
  RawClient c(tunnel.Port());
  // The server ends its side after this answer without saying so.
  EXPECT_EQ(BodyOf(Get(c, "/lenclose/2")), "ab");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(BodyOf(Get(c, "/len/3")), "abc");
  EXPECT_EQ(server.Connections(), 2);

  // A fresh connection closed without an answer is no idle kept one: the request is not sent
  // again, and the browser learns why.
  RawClient d(tunnel.Port());
  d.Send(ProxyGet(server.Port(), "/silent"));
  const std::string answer = d.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("закрыл соединение без ответа"), std::string::npos) << Utf8(answer);
  EXPECT_EQ(Sent("/silent"), 1);
}

TEST_F(ExchangeTest, ASilentServerGetsTheRequestOnceAndTheBrowserAPage) {
  ShortWait wait(1000);
  RawClient c(tunnel.Port());
  c.Send(ProxyGet(server.Port(), "/hang"));
  const std::string answer = c.ReadUntilClose(10000);
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("не ответил за 1 с"), std::string::npos) << Utf8(answer);
  EXPECT_EQ(Sent("/hang"), 1);
}

TEST_F(ExchangeTest, ChunkExtensionsAndStatusLinesWithoutReasonAreWholeAnswers) {
  RawClient c(tunnel.Port());
  std::string answer = Get(c, "/chunkext/5");
  EXPECT_NE(BodyOf(answer).find("5;name=value;x\r\nabcde\r\n0;last\r\n\r\n"), std::string::npos) << answer;
  for (const std::string path : {"/bare/304", "/bareblank/304"}) {
    answer = Get(c, path);
    EXPECT_EQ(answer.rfind("HTTP/1.1 304", 0), 0u) << path << ": " << answer;
  }
  EXPECT_EQ(BodyOf(Get(c, "/bare/200")), "ok");

  // A chunked upload with extensions reaches the server whole.
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  const std::string chunks = "3;a=b\r\nxyz\r\n0\r\n\r\n";
  c.Send("POST http://" + host + "/echo HTTP/1.1\r\nHost: " + host + "\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks);
  answer = c.ReadAnswer();
  EXPECT_NE(BodyOf(answer).find("\r\n\r\n" + chunks), std::string::npos) << answer;
  // Every answer came in time, all on the one kept connection.
  EXPECT_EQ(server.Connections(), 1);
}

TEST_F(ExchangeTest, PipelinedRequestsAreAnsweredInTurn) {
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  RawClient c(tunnel.Port());
  c.Send(ProxyGet(server.Port(), "/len/2") + ProxyGet(server.Port(), "/len/3") + "POST http://" + host +
         "/echo HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 3\r\n\r\nxyz" + ProxyGet(server.Port(), "/len/4"));
  EXPECT_EQ(BodyOf(c.ReadAnswer()), "ab");
  EXPECT_EQ(BodyOf(c.ReadAnswer()), "abc");
  const std::string echo = BodyOf(c.ReadAnswer());
  EXPECT_EQ(echo.substr(echo.size() - 7), "\r\n\r\nxyz") << echo;
  EXPECT_EQ(BodyOf(c.ReadAnswer()), "abcd");
  // Each went out as a request of its own.
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (const auto& r : requests) EXPECT_EQ(r.find("HTTP/1.1", r.find("HTTP/1.1") + 1), std::string::npos) << r;
}

}  // namespace
