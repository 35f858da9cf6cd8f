// Request framing at the tunnel's entry: requests that could hide a second one are refused before
// anything goes upstream, header names in any case and bare LF line ends work, and the bound of
// the header block holds however its bytes arrive.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "settings/Cfg_Clnt.h"
#include "support/RelaySupport.h"

using namespace relaytest;

namespace {

class FramingTest : public ::testing::Test {
 protected:
  InProcessTunnel tunnel;
  TestHttpServer server;

  std::string Head(const std::string& method, const std::string& path) const {
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    return method + " http://" + host + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
  }

  // Sends the request in pieces of the given size, each as soon as the tunnel has taken the one
  // before, and reads what comes back until the tunnel closes.
  std::string SendInPieces(const std::string& request, size_t piece) {
    RawClient c(tunnel.Port());
    const int one = 1;
    ::setsockopt(c.Fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (size_t at = 0; at < request.size(); at += piece) {
      c.Send(request.substr(at, piece));
      std::this_thread::sleep_for(piece == 1 ? std::chrono::microseconds(200) : std::chrono::milliseconds(300));
    }
    return c.ReadAnswer(10000);
  }
};

TEST_F(FramingTest, SmuggledRequestsGetA400AndNothingReachesTheServer) {
  const std::string post = Head("POST", "/echo");
  const std::string hidden = Head("GET", "/len/7") + "\r\n";
  const std::string length = std::to_string(hidden.size());
  const struct {
    const char* shape;
    std::string request;
  } shapes[] = {
      {"length and chunked",
       post + "Content-Length: " + length + "\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + hidden},
      {"two lengths", post + "Content-Length: 0\r\nContent-Length: " + length + "\r\n\r\n" + hidden},
      {"negative length", post + "Content-Length: -1\r\n\r\n" + hidden},
      {"overflowing length", post + "Content-Length: 4294967296\r\n\r\n" + hidden},
      {"invalid chunk size", post + "Transfer-Encoding: chunked\r\n\r\n0x0\r\n\r\n" + hidden},
      {"overflowing chunk size", post + "Transfer-Encoding: chunked\r\n\r\n10000000000000000\r\n\r\n" + hidden},
      {"chunk data overrun", post + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n0\r\n\r\n" + hidden},
      {"blank before the colon",
       post + "Transfer-Encoding : chunked\r\nContent-Length: " + length + "\r\n\r\n0\r\n\r\n" + hidden},
      {"chunked, then another coding", post + "Transfer-Encoding: chunked, identity\r\n\r\n0\r\n\r\n" + hidden},
  };
  for (const auto& s : shapes) {
    const auto began = std::chrono::steady_clock::now();
    RawClient c(tunnel.Port());
    c.Send(s.request);
    const std::string answer = c.ReadUntilClose(10000);
    EXPECT_EQ(StatusOf(answer), 400) << s.shape << "\n" << answer;
    EXPECT_TRUE(c.PeerClosed(100)) << s.shape;
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5)) << s.shape;
  }
  EXPECT_EQ(server.Connections(), 0);
  EXPECT_TRUE(server.Requests().empty());
  // One log line per refusal.
  EXPECT_NE(tunnel.ServiceLog().find("Transfer-Encoding"), std::string::npos);
}

TEST_F(FramingTest, BytesBehindARequestAreCheckedAsTheNextRequest) {
  RawClient c(tunnel.Port());
  c.Send(Head("POST", "/echo") + "Content-Length: 2\r\n\r\nok" + Head("POST", "/echo") +
         "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n");
  const std::string first = c.ReadAnswer(5000);
  EXPECT_EQ(StatusOf(first), 200);
  EXPECT_EQ(BodyOf(first).substr(BodyOf(first).size() - 6), "\r\n\r\nok") << first;
  EXPECT_EQ(StatusOf(c.ReadUntilClose(5000)), 400);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(FramingTest, LowerCaseNamesAndBareLineFeedsWork) {
  RawClient c(tunnel.Port());
  // The length is found in any spelling, and the spelling goes on as it was written.
  c.Send(Head("POST", "/echo") + "content-length: 5\r\n\r\nhello");
  const std::string echoed = BodyOf(c.ReadAnswer(5000));
  EXPECT_NE(echoed.find("\r\ncontent-length: 5\r\n\r\nhello"), std::string::npos) << echoed;
  // Bare LF line ends are taken for CR LF, and the request goes on with CR LF.
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  c.Send("GET http://" + host + "/len/3 HTTP/1.1\nHost: " + host + "\nX-Mark: lf\n\n");
  EXPECT_EQ(BodyOf(c.ReadAnswer(5000)), "abc");
  EXPECT_NE(server.LastRequest().find("\r\nX-Mark: lf\r\n\r\n"), std::string::npos) << server.LastRequest();
}

TEST_F(FramingTest, HeaderBlockLimitHoldsForOneByteReads) {
  constexpr int32_t kLimit = 2000;
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetMaxHttpDataLength(kLimit); });
  const auto request = [this](size_t size) {
    std::string r = Head("GET", "/len/2") + "X-Pad: ";
    r += std::string(size - r.size() - 4, 'p') + "\r\n\r\n";
    return r;
  };
  EXPECT_EQ(StatusOf(SendInPieces(request(kLimit), 1)), 200);
  EXPECT_EQ(StatusOf(SendInPieces(request(kLimit + 1), 1)), 510);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(FramingTest, HeaderBlockLimitHoldsForOneMegabyteReads) {
  // The read that completes the header block takes it over the limit.
  constexpr int32_t kMiB = 1 << 20;
  constexpr int32_t kLimit = kMiB + 100;
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetMaxHttpDataLength(kLimit); });
  const auto request = [this](size_t size) {
    std::string r = Head("POST", "/len/2") + "Content-Length: 2\r\nX-Pad: ";
    r += std::string(size - r.size() - 4, 'p') + "\r\n\r\nok";
    return r;
  };
  EXPECT_EQ(StatusOf(SendInPieces(request(kLimit), kMiB)), 200);
  EXPECT_EQ(StatusOf(SendInPieces(request(kLimit + 100), kMiB)), 510);
  EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
