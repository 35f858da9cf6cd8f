// Exchanges with a protected server's gateway: key agreement, protected requests and answers,
// the retry under a new key, the reserve location and the answers passed on unchanged.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "platform/CodePage.h"
#include "protection/CipherhubLib.h"
#include "protection/ConKey.h"
#include "settings/Cfg_Clnt.h"
#include "support/RelaySupport.h"
#include "tunnel/SecureHttp.h"

using namespace relaytest;

namespace {

std::string Utf8(const std::string& cp1251) { return vg::platform::Cp1251ToUtf8(cp1251); }

vg::TCryptoParams Params(const std::string& uid, const std::string& partner, const std::string& fail = {}) {
  vg::TCryptoParams p;
  p.SetEngineType("Emulation/1.0");
  p.AddParam(0, uid);
  p.AddParam(1, partner);
  if (!fail.empty()) p.AddParam(2, fail);
  return p;
}

// A protecting gateway built from the gateway side of the protected message format. Targets:
//   /page      200 "protected <method> <target>" and the request body
//   /591       591 to the first request for it, then like /page
//   /401       401 in the clear
//   /plain     200 in the clear (no "Vg-Pe")
//   /wrongkey  protected under a key the request did not carry
//   /big       a protected answer of 3 MiB
//   /bigzipM   the same compressed in mode M (1 or 2)
//   /bomb      4 MiB of zeros compressed in mode 2: a few kilobytes on the wire
//   /hangup    no answer: the connection is closed
//   /mute      no answer: the connection stays open until the gateway stops
class TestGateway {
 public:
  TestGateway() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd_, 16);
    socklen_t len = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { Accept(); });
  }
  ~TestGateway() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
    for (auto& w : workers_) w.join();
  }
  int Port() const { return port_; }
  int KeyRequests() const { return keyRequests_.load(); }
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  void Accept() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) workers_.emplace_back([this, c] { Serve(c); });
    }
  }

  void Serve(int fd) {
    std::string buffer;
    char chunk[65536];
    while (!stop_) {
      size_t end;
      size_t need = 0;
      while ((end = buffer.find("\r\n\r\n")) == std::string::npos ||
             buffer.size() < end + 4 + (need = BodyLength(buffer.substr(0, end + 4)))) {
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
      const std::string raw = buffer.substr(0, end + 4 + need);
      buffer.erase(0, raw.size());
      const std::string answer = Answer(raw);
      if (answer == kMute) {
        while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        break;
      }
      if (answer.empty()) break;
      if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
    }
    ::close(fd);
  }

  static size_t BodyLength(const std::string& header) {
    vg::THTTPData m;
    m.Assign(header);
    return static_cast<size_t>(std::max(0, m.GetHeaderInt("Content-Length")));
  }

  std::string Answer(const std::string& raw) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(raw);
    }
    // "/hangup": the connection is closed without an answer, even to a key request.
    if (raw.rfind("GET /hangup ", 0) == 0) return {};
    vg::TSecureHTTPData request;
    request.UseCryptoParams(Params("gate-1", "client-1"));
    request.Assign(raw);
    std::string peer;
    if (request.RequestKind() == vg::THTTPData::rkKeyRequest) {
      vg::TKeyRecord record{};
      if (!vg::AcceptKeyRequest(request, record, peer))
        return "HTTP/1.1 400 Bad key request\r\nContent-Length: 0\r\n\r\n";
      ++keyRequests_;
      record[5] = 0x1111;
      record[6] = 0x2222 + static_cast<uint32_t>(keyRequests_.load());
      {
        std::lock_guard<std::mutex> lock(mutex_);
        issued_.push_back(record);
      }
      vg::TSecureHTTPData answer;
      answer.UseCryptoParams(Params("gate-1", "client-1"));
      answer.Assign("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
      vg::ProtectKeyAnswer(answer, record, peer);
      return answer.AsString();
    }
    vg::TKeyRecord key{};
    if (!vg::UnprotectRequestWithKey(request, vg::kParameterTextVersion, key, peer))
      return "HTTP/1.1 400 Not protected\r\nContent-Length: 0\r\n\r\n";
    bool known = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& k : issued_) known = known || std::equal(k.begin(), k.begin() + 7, key.begin());
    }
    if (!known) return "HTTP/1.1 400 Unknown key\r\nContent-Length: 0\r\n\r\n";
    const std::string target = raw.substr(raw.find(' ') + 1, raw.find(' ', raw.find(' ') + 1) - raw.find(' ') - 1);
    const std::string path = target.substr(target.rfind('/'));
    if (path == "/591" && !gave591_.exchange(true)) return "HTTP/1.1 591 New key\r\nContent-Length: 0\r\n\r\n";
    if (path == "/401") return "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\nContent-Length: 0\r\n\r\n";
    if (path == "/mute") return kMute;
    if (path == "/plain") return "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\ngateway page";
    std::string body = "protected " + raw.substr(0, raw.find(' ')) + " " + path;
    const int32_t at = request.HeaderLength();
    if (at > 0 && request.Length() > at) body += " " + std::string(request.View().substr(static_cast<size_t>(at)));
    if (path == "/big" || path.rfind("/bigzip", 0) == 0) body = Body(3 * 1024 * 1024);
    if (path == "/bomb") body.assign(4 * 1024 * 1024, '\0');
    vg::TSecureHTTPData answer;
    answer.UseCryptoParams(Params("gate-1", "client-1"));
    if (path.rfind("/bigzip", 0) == 0) answer.SetCompressMode(static_cast<uint8_t>(path.back() - '0'));
    if (path == "/bomb") answer.SetCompressMode(2);
    answer.SetMaxDataLength(8 * 1024 * 1024);
    answer.Assign("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\n\r\n" + body);
    if (path == "/wrongkey") key[2] ^= 1;
    vg::ProtectAnswerWithKey(answer, key, vg::kParameterTextVersion, peer);
    return answer.AsString();
  }

  static constexpr const char* kMute = "mute";
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> keyRequests_{0};
  std::atomic<bool> gave591_{false};
  std::thread thread_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::vector<std::string> seen_;
  std::vector<vg::TKeyRecord> issued_;
};

class ProtectedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
  }
  void SetUp() override {
    vg::ConnectionKeys().Clear();
    AddServer("127.0.0.1:" + std::to_string(gateway.Port()), "");
  }
  void AddServer(const std::string& main, const std::string& reserve, const std::string& fail = {}) {
    tunnel.Configure([&](vg::TQSClientConfig& c) {
      while (c.ServerCount() > 0) c.DeleteServer(c.GetServer(0));
      auto s = std::make_unique<vg::TProtectedServer>();
      s->SetAddressesText("www.protected.test");
      s->VeilgateLocation().Parse(main);
      s->ReserveLocation().Parse(reserve);
      s->SetCryptoParams(Params("client-1", "gate-1", fail));
      c.AddServer(std::move(s));
    });
  }
  static std::string Get(const std::string& path, const std::string& headers = {}) {
    return "GET http://www.protected.test" + path + " HTTP/1.1\r\nHost: www.protected.test\r\n" + headers + "\r\n";
  }

  InProcessTunnel tunnel;
  TestGateway gateway;
};

TEST_F(ProtectedTest, AKeyIsAgreedOnceAndRequestsTravelProtected) {
  RawClient c(tunnel.Port());
  c.Send(Get("/page"));
  std::string answer = c.ReadAnswer();
  ASSERT_EQ(StatusOf(answer), 200) << Utf8(answer);
  EXPECT_EQ(BodyOf(answer), "protected GET /page");
  EXPECT_EQ(answer.find("Vg-"), std::string::npos) << answer;

  const std::string host = "127.0.0.1:" + std::to_string(gateway.Port());
  c.Send(
      "POST http://www.protected.test/page HTTP/1.1\r\nHost: www.protected.test\r\nContent-Length: 9\r\n\r\nsecret=42");
  answer = c.ReadAnswer();
  EXPECT_EQ(BodyOf(answer), "protected POST /page secret=42");
  EXPECT_EQ(gateway.KeyRequests(), 1);

  const auto seen = gateway.Seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_NE(seen[0].find("Vg-Hm: getkey"), std::string::npos) << seen[0];
  for (const auto& r : seen) {
    EXPECT_NE(r.find("\r\nHost: " + host + "\r\n"), std::string::npos) << r;
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
  TestHttpServer web;
  const std::string host = "127.0.0.1:" + std::to_string(web.Port());
  RawClient c(tunnel.Port());
  c.Send("GET http://" + host + "/echo HTTP/1.1\r\nHost: " + host +
         "\r\nVg-Oh: www.protected.test\r\nVg-Oh: www.protected.test\r\n\r\n");
  const std::string answer = c.ReadAnswer();
  EXPECT_EQ(StatusOf(answer), 200) << Utf8(answer);
  EXPECT_EQ(BodyOf(answer).find("Vg-Oh"), std::string::npos) << answer;
  EXPECT_TRUE(gateway.Seen().empty());
}

TEST_F(ProtectedTest, ANewKeyOnlyWhenTheGatewayAsksForItOnTheFirstAttempt) {
  RawClient c(tunnel.Port());
  c.Send(Get("/591"));
  const std::string answer = c.ReadAnswer();
  EXPECT_EQ(BodyOf(answer), "protected GET /591") << Utf8(answer);
  EXPECT_EQ(gateway.KeyRequests(), 2);

  // Authentication requests go to the browser as they came.
  c.Send(Get("/401"));
  const std::string auth = c.ReadAnswer();
  EXPECT_EQ(auth.rfind("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n", 0), 0u) << auth;
  EXPECT_EQ(gateway.KeyRequests(), 2);
}

TEST_F(ProtectedTest, AnswersThatDoNotCheckOutEndTheConnection) {
  RawClient c(tunnel.Port());
  c.Send(Get("/wrongkey"));
  std::string answer = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("Получен неверный ключ сессии"), std::string::npos) << Utf8(answer);

  RawClient d(tunnel.Port());
  d.Send(Get("/plain"));
  answer = d.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510) << answer;
  EXPECT_NE(Utf8(answer).find("Ошибка расшифрования"), std::string::npos) << Utf8(answer);

  // In error trace mode the gateway's plain page is shown, unable to act for the site.
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetErrorTraceMode(true); });
  RawClient e(tunnel.Port());
  e.Send(Get("/plain"));
  answer = e.ReadUntilClose();
  EXPECT_EQ(answer,
            "HTTP/1.1 200 OK\r\nContent-Security-Policy: sandbox allow-forms\r\nX-Content-Type-Options: nosniff\r\n"
            "Cache-Control: no-store\r\nContent-Length: 12\r\n\r\ngateway page");
  EXPECT_NE(Utf8(tunnel.ServiceLog()).find("Получен незащищенный ответ"), std::string::npos);

  // A protected answer beyond the message limit is refused.
  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetErrorTraceMode(false); });
  RawClient f(tunnel.Port());
  f.Send(Get("/big"));
  answer = f.ReadUntilClose(20000);
  EXPECT_NE(Utf8(answer).find("Передаваемый документ превышает максимально допустимый размер"), std::string::npos)
      << Utf8(answer.substr(0, 300));
}

TEST_F(ProtectedTest, CompressedAnswersMayUnpackBeyondTheLimitButBombsAreRefused) {
  RawClient c(tunnel.Port());
  for (const std::string mode : {"1", "2"}) {
    c.Send(Get("/bigzip" + mode));
    const std::string answer = c.ReadAnswer(20000);
    ASSERT_EQ(StatusOf(answer), 200) << Utf8(answer.substr(0, 400));
    EXPECT_TRUE(BodyOf(answer) == Body(3 * 1024 * 1024)) << "mode " << mode;
  }

  tunnel.Configure([](vg::TQSClientConfig& c) { c.SetMaxHttpDataLength(64 * 1024); });
  RawClient d(tunnel.Port());
  d.Send(Get("/bomb"));
  const std::string answer = d.ReadUntilClose(20000);
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("Передаваемый документ превышает максимально допустимый размер"), std::string::npos)
      << Utf8(answer.substr(0, 400));
}

TEST_F(ProtectedTest, OneFailureGivesOnePageAndOneLogLine) {
  // The engine cannot sign, so the key request cannot be built.
  AddServer("127.0.0.1:" + std::to_string(gateway.Port()), "", "Sign");
  RawClient c(tunnel.Port());
  c.Send(Get("/page"));
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
  EXPECT_EQ(gateway.Seen().size(), 0u);
}

TEST_F(ProtectedTest, ASilentGatewayGetsTheRequestOnce) {
  ShortWait wait(1000);
  RawClient c(tunnel.Port());
  c.Send(Get("/mute"));
  const std::string answer = c.ReadUntilClose(10000);
  EXPECT_EQ(StatusOf(answer), 510);
  EXPECT_NE(Utf8(answer).find("не ответил за 1 с"), std::string::npos) << Utf8(answer);
  // The key request and the request itself, once.
  EXPECT_EQ(gateway.Seen().size(), 2u);
}

TEST_F(ProtectedTest, AGatewayThatHangsUpLeavesTheBrowserAnErrorPage) {
  RawClient c(tunnel.Port());
  c.Send(Get("/hangup"));
  const std::string answer = c.ReadUntilClose();
  EXPECT_EQ(StatusOf(answer), 510) << Utf8(answer);
  EXPECT_NE(Utf8(answer).find("Ошибка при установлении сессии"), std::string::npos) << Utf8(answer);
  EXPECT_NE(Utf8(tunnel.ServiceLog()).find("Ошибка при установлении сессии"), std::string::npos);
}

TEST_F(ProtectedTest, TheReserveLocationTakesOverAndIsRemembered) {
  const int dead = FreePort();
  AddServer("127.0.0.1:" + std::to_string(dead), "127.0.0.1:" + std::to_string(gateway.Port()));
  RawClient c(tunnel.Port());
  c.Send(Get("/page"));
  EXPECT_EQ(BodyOf(c.ReadAnswer()), "protected GET /page");
  int active = 0;
  tunnel.Configure([&](vg::TQSClientConfig& s) { active = s.GetServer(0)->ActiveLocation(); });
  EXPECT_EQ(active, vg::TProtectedServer::kReserveLocation);

  // With both locations refusing, the page names the last one tried.
  const int deadToo = FreePort();
  AddServer("127.0.0.1:" + std::to_string(dead), "127.0.0.1:" + std::to_string(deadToo));
  RawClient d(tunnel.Port());
  d.Send(Get("/page"));
  const std::string answer = Utf8(d.ReadUntilClose());
  EXPECT_NE(answer.find("Ошибка при подключении к \"127.0.0.1:" + std::to_string(deadToo) + "\""), std::string::npos)
      << answer;
}

}  // namespace
