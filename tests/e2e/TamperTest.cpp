// Someone between vgproxy and vggate: a relay of the test's own that forwards the tunnel's
// requests to the gateway and changes or replaces what comes back, chosen by the request target.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <thread>

#include "support/E2eSupport.h"

using namespace relaytest;
using namespace e2etest;

namespace {

// Targets (anywhere in the request line):
//   "?ocl"  the answer's "Vg-Ocl" grows by 40      "?ote"  the answer gains "Vg-Ote: chunked"
//   "?k511" "?k302" "?k401"  that status with a script page and a cookie, to the key request
//   "?p401" the same 401 to the protected request  "?huge" a huge declared length, then close
class ManInTheMiddle {
 public:
  explicit ManInTheMiddle(int gatePort) : gatePort_(gatePort) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd_, 16);
    socklen_t len = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) workers_.emplace_back([this, c] { Serve(c); });
      }
    });
  }
  ~ManInTheMiddle() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
    for (auto& w : workers_) w.join();
  }
  int Port() const { return port_; }

  static const std::string& ScriptPage() {
    static const std::string page = "<html><script>steal(document.cookie)</script><form action=/login></form></html>";
    return page;
  }

 private:
  void Serve(int fd) {
    std::unique_ptr<RawClient> gate;
    std::string buffer;
    char chunk[65536];
    while (!stop_) {
      size_t end;
      while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
          if (stop_) break;
          continue;
        }
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
          ::close(fd);
          return;
        }
        buffer.append(chunk, static_cast<size_t>(n));
      }
      if (stop_) break;
      std::smatch m;
      const std::string head = buffer.substr(0, end + 4);
      size_t length = std::regex_search(head, m, std::regex("Content-Length: (\\d+)")) ? std::stoul(m[1]) : 0;
      while (buffer.size() < end + 4 + length) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        buffer.append(chunk, static_cast<size_t>(n));
      }
      const std::string request = buffer.substr(0, std::min(buffer.size(), end + 4 + length));
      buffer.erase(0, request.size());
      const std::string line = request.substr(0, request.find("\r\n"));
      const bool keyRequest = request.find("\r\nVg-Hm: getkey\r\n") != std::string::npos;
      const auto marked = [&](const char* mark) { return line.find(mark) != std::string::npos; };
      std::string answer;
      bool close = false;
      const std::string page = ScriptPage();
      const std::string pageHeaders = "Content-Type: text/html\r\nSet-Cookie: sid=stolen; Path=/\r\nContent-Length: " +
                                      std::to_string(page.size()) + "\r\n\r\n" + page;
      if (keyRequest && marked("?k511") && !marked("huge")) {
        answer = "HTTP/1.1 511 Network Authentication Required\r\n" + pageHeaders;
      } else if (keyRequest && marked("?k302")) {
        answer = "HTTP/1.1 302 Found\r\nLocation: http://login.test/\r\n" + pageHeaders;
      } else if ((keyRequest && marked("?k401")) || (!keyRequest && marked("?p401"))) {
        answer = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"gate\"\r\n" + pageHeaders;
      } else if (!keyRequest && marked("?huge")) {
        answer = "HTTP/1.1 200 OK\r\nVg-Pe: Emulation/1.0\r\nContent-Length: 999999999\r\n\r\n" + std::string(100, 'x');
        close = true;
      } else if (keyRequest && marked("?k511huge")) {
        answer = "HTTP/1.1 511 Network Authentication Required\r\nContent-Length: 999999999\r\n\r\n" + page;
        close = true;
      } else {
        if (!gate) gate = std::make_unique<RawClient>(gatePort_);
        gate->Send(request);
        answer = gate->ReadAnswer(10000);
        if (!keyRequest && marked("?ocl") && std::regex_search(answer, m, std::regex("Vg-Ocl: (\\d+)")))
          answer.replace(static_cast<size_t>(m.position(1)), static_cast<size_t>(m.length(1)),
                         std::to_string(std::stoul(m[1]) + 40));
        if (!keyRequest && marked("?ote")) answer.insert(answer.find("\r\n") + 2, "Vg-Ote: chunked\r\n");
      }
      if (answer.empty() || ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0 || close) break;
    }
    ::close(fd);
  }

  int gatePort_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::thread> workers_;
};

class TamperTest : public ProtectedPath {
 protected:
  void SetUp() override {
    ProtectedPath::SetUp();
    StartGate();
    mitm_ = std::make_unique<ManInTheMiddle>(gatePort_);
    StartTunnel("", false, mitm_->Port());
  }
  void TearDown() override {
    StopAll();
    mitm_.reset();
  }
  static std::string Get(const std::string& target) {
    return "GET http://" + kHost + target + " HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n";
  }
  static std::string HeaderOf(const std::string& answer) { return answer.substr(0, answer.find("\r\n\r\n") + 4); }
  std::unique_ptr<ManInTheMiddle> mitm_;
};

TEST_F(TamperTest, FramingOutsideTheSignatureIsFittedToTheVerifiedBody) {
  RawClient c(proxyPort_);
  c.Send(Get("/len/100?ocl"));
  std::string answer = c.ReadAnswer();
  EXPECT_EQ(StatusOf(answer), 200) << answer << Diagnostics();
  EXPECT_NE(answer.find("\r\nContent-Length: 100\r\n"), std::string::npos) << answer;
  EXPECT_EQ(BodyOf(answer), Body(100));
  // The kept connection is still in step.
  c.Send(Get("/len/5"));
  EXPECT_EQ(BodyOf(c.ReadAnswer()), Body(5)) << Diagnostics();

  // A genuine chunked answer keeps its coding; a coding the body is not in is refused.
  c.Send(Get("/chunked/2500?ote"));
  answer = c.ReadAnswer();
  EXPECT_EQ(StatusOf(answer), 200) << answer.substr(0, 300);
  EXPECT_NE(answer.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos) << HeaderOf(answer);
  c.Send(Get("/len/100?ote"));
  answer = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510) << answer;
  EXPECT_NE(answer.find("Error from QS-Veilgate (client part)"), std::string::npos) << answer;
}

TEST_F(TamperTest, UnsignedAnswersReachTheBrowserDefused) {
  // The key requests are refused first; the last mark agrees a key and gets a 401 afterwards.
  for (const std::string mark : {"?k511", "?k401", "?k302", "?p401"}) {
    RawClient c(proxyPort_);
    c.Send(Get("/len/10" + mark));
    const std::string answer = c.ReadAnswer();
    const std::string header = HeaderOf(answer);
    EXPECT_EQ(header.find("Set-Cookie"), std::string::npos) << header;
    if (mark == "?k302") {
      // A redirect passes its status and target only.
      EXPECT_EQ(StatusOf(answer), 302) << answer << Diagnostics();
      EXPECT_NE(header.find("\r\nLocation: http://login.test/\r\n"), std::string::npos) << header;
      EXPECT_EQ(BodyOf(answer), "");
      continue;
    }
    EXPECT_EQ(StatusOf(answer), mark == "?k511" ? 511 : 401) << mark << answer << Diagnostics();
    // The page still tells the user what to do, but it runs no script and has an origin of its own.
    EXPECT_EQ(BodyOf(answer), ManInTheMiddle::ScriptPage()) << mark;
    EXPECT_NE(header.find("\r\nContent-Security-Policy: sandbox allow-forms\r\n"), std::string::npos) << header;
    if (mark != "?k511") {
      EXPECT_NE(header.find("\r\nWWW-Authenticate: Basic realm=\"gate\"\r\n"), std::string::npos);
    }
  }
  EXPECT_TRUE(web_.Requests().empty());
}

TEST_F(TamperTest, AHugeDeclaredLengthEndsInAPageAndALogLine) {
  // An unsigned key answer cut short goes on with the length of what came.
  RawClient k(proxyPort_);
  k.Send(Get("/len/10?k511huge"));
  std::string answer = k.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 511) << answer;
  EXPECT_NE(answer.find("\r\nContent-Length: " + std::to_string(ManInTheMiddle::ScriptPage().size()) + "\r\n"),
            std::string::npos)
      << answer;

  RawClient c(proxyPort_);
  c.Send(Get("/len/10?huge"));
  answer = c.ReadUntilClose(20000);
  EXPECT_EQ(StatusOf(answer), 510) << answer << Diagnostics();
  const std::string page = BodyOf(answer);
  const size_t at = page.find("&nbsp;<BR>\r\n", page.find("</center>"));
  ASSERT_NE(at, std::string::npos) << page;
  const std::string message = page.substr(at + 12, page.find("\r\n", at + 12) - at - 12);
  EXPECT_NE(TunnelLogs().find(message), std::string::npos) << message;
}

}  // namespace
