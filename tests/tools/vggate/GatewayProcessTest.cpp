// The built vggate on a loopback port, between a tunnel made of the client-side protocol code and
// a small web server run by the test.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "Gateway.h"
#include "HttpIo.h"
#include "support/SecureSupport.h"

using namespace securetest;
using vggate::TReadResult;

namespace {

namespace fs = std::filesystem;

const std::string kHost = "www.example.org";

// A web server that answers by path and remembers the last request it got. It closes every
// connection after one answer unless asked to keep it, as web servers that do not keep
// connections alive do.
class TBackend {
 public:
  explicit TBackend(bool keepAlive = false) : keepAlive_(keepAlive) {
    EXPECT_EQ(listener_.Listen(0, true), 0);
    thread_ = std::thread([this] { Run(); });
  }
  ~TBackend() {
    wake_.Signal();
    thread_.join();
  }
  int Port() const { return listener_.Port(); }
  int Connections() const { return connections_; }
  std::string LastRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }

 private:
  static std::string Answer(const vg::THTTPData& request) {
    const std::string line(request.View().substr(0, request.View().find("\r\n")));
    auto ok = [](const std::string& headers, const std::string& body) {
      return "HTTP/1.1 200 OK\r\n" + headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    if (line.starts_with("GET /hello ")) return ok("Set-Cookie: s=1\r\nContent-Type: text/plain\r\n", "hello world");
    if (line.starts_with("POST /echo ")) return ok("", std::string(request.View().substr(request.HeaderLength())));
    if (line.starts_with("GET /auth "))
      return "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\nContent-Length: 0\r\n\r\n";
    if (line.starts_with("GET /chunked "))
      return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n2\r\nef\r\n0\r\n\r\n";
    if (line.starts_with("GET /close ")) return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nuntil close";
    if (line.starts_with("HEAD /hello ")) return "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n";
    return "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found";
  }

  void Run() {
    for (;;) {
      vg::platform::ClientSocket socket;
      const auto status = listener_.Accept(socket, 5000, &wake_);
      if (status == vg::platform::IoStatus::Woken) return;
      if (status != vg::platform::IoStatus::Done) continue;
      ++connections_;
      vg::THTTPData request;
      std::string carry;
      while (vggate::ReadRequest(socket, request, carry, 4 << 20, 5000, 5000, &wake_) == TReadResult::Complete) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          last_ = request.AsString();
        }
        const std::string answer = Answer(request);
        if (!vggate::WriteAll(socket, answer, 5000, &wake_) || !keepAlive_ || answer.starts_with("HTTP/1.0")) break;
      }
    }
  }

  const bool keepAlive_;
  std::atomic<int> connections_{0};
  vg::platform::ListenSocket listener_;
  vg::platform::WakeSignal wake_;
  std::thread thread_;
  std::mutex mutex_;
  std::string last_;
};

// vggate started with a settings file of the test's own; stderr is collected line by line.
class TGateProcess {
 public:
  explicit TGateProcess(const std::string& settings) {
    dir_ = fs::path(VG_TEST_BUILD_DIR) / "tests" /
           ("vggate-" + std::to_string(::getpid()) + "-" + std::to_string(++serial_));
    fs::create_directories(dir_);
    const fs::path file = dir_ / "gate.ini";
    std::ofstream(file) << settings;
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 2);
      ::close(fds[0]);
      ::close(fds[1]);
      const std::string exe = std::string(VG_TEST_BIN_DIR) + "/vggate";
      ::execl(exe.c_str(), exe.c_str(), "--config", file.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    err_ = fds[0];
    reader_ = std::thread([this] { Collect(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && port_ == 0 && !ended_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& line : lines_) {
        const auto at = line.find("listening on 127.0.0.1:");
        if (at != std::string::npos) port_ = std::atoi(line.c_str() + at + 23);
      }
    }
  }
  ~TGateProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  int Port() const { return port_; }

  // SIGTERM by process id; the exit status, or -1 when it did not end within five seconds.
  int Terminate() {
    ::kill(pid_, SIGTERM);
    return Wait(std::chrono::seconds(5));
  }
  int Wait(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        reader_.join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  std::string Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const auto& line : lines_) all += line + "\n";
    return all;
  }

 private:
  void Collect() {
    std::string pending;
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(err_, buffer, sizeof buffer);
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      size_t eol;
      while ((eol = pending.find('\n')) != std::string::npos) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(pending.substr(0, eol));
        pending.erase(0, eol + 1);
      }
    }
    ::close(err_);
    ended_ = true;
  }

  static inline int serial_ = 0;
  fs::path dir_;
  pid_t pid_ = -1;
  int err_ = -1;
  std::atomic<int> port_{0};
  std::atomic<bool> ended_{false};
  bool exited_ = false;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

std::string Settings(int backendPort, const std::string& protocol = "1.5", const std::string& faults = "") {
  return "[Gateway]\nListen=127.0.0.1:0\nProtocol=" + protocol +
         "\nEngine=Emulation/1.0\nCompress=2\n[Engine]\nUID=gate-1\nPartner=client-1\n[Backends]\n" + kHost +
         "=127.0.0.1:" + std::to_string(backendPort) + "\n[Faults]\n" + faults;
}

// The tunnel's side of one upstream connection.
class TTunnel {
 public:
  explicit TTunnel(int port) { EXPECT_EQ(vggate::ConnectTo(socket_, "127.0.0.1", port, 5000, nullptr), 0); }

  TReadResult Send(std::string_view bytes, vg::THTTPData& answer, bool head = false) {
    if (!vggate::WriteAll(socket_, bytes, 5000, nullptr)) return TReadResult::Failed;
    return vggate::ReadAnswer(socket_, answer, head, 4 << 20, 10000, nullptr);
  }

  bool AgreeKey(uint32_t valueA = 0, uint32_t valueB = 0) {
    vg::TKeyRecord record{};
    vg::ConnectionKeys().MakeRequestRecord(record);
    record[5] = valueA;
    record[6] = valueB;
    auto browser = Client("GET /hello HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n");
    auto request = Client("", 1);
    if (!vg::BuildKeyRequest(*browser, kHost, record, *request)) return false;
    auto answer = Client("");
    if (Send(request->View(), *answer) != TReadResult::Complete) return false;
    std::string peer;
    counter = 0;
    return vg::AcceptKeyAnswer(*answer, key, version, peer) && peer == "gate-1";
  }

  struct TReply {
    std::unique_ptr<TTestMessage> answer;
    bool unprotected = false;
    int status = 0;
  };
  TReply Exchange(const std::string& plain, bool head = false) {
    key[7] = ++counter;
    auto request = Client(plain, 1);
    EXPECT_TRUE(vg::ProtectRequestWithKey(*request, key, version)) << request->FirstError();
    lastSent = request->AsString();
    return Receive(lastSent, head);
  }
  TReply Receive(std::string_view wire, bool head = false) {
    TReply reply;
    reply.answer = Client("");
    if (Send(wire, *reply.answer, head) != TReadResult::Complete) return reply;
    reply.status = reply.answer->StatusCode();
    if (reply.status == 401 || reply.status == 407 || reply.status == 591) return reply;
    std::string peer;
    reply.unprotected = vg::UnprotectAnswerWithKey(*reply.answer, key, version, peer);
    return reply;
  }
  bool PeerClosed() {
    char byte;
    return socket_.Read(&byte, 1, 3000).status == vg::platform::IoStatus::Closed;
  }

  vg::TKeyRecord key{};
  uint32_t version = 0;
  uint32_t counter = 0;
  std::string lastSent;

 private:
  vg::platform::ClientSocket socket_;
};

std::string Body(const vg::THTTPData& m) { return std::string(m.View().substr(m.HeaderLength())); }

class GatewayProcess : public SecureTest {};

}  // namespace

TEST_F(GatewayProcess, PlainClientsGetAnErrorPageAndSigtermStopsIt) {
  TBackend backend;
  TGateProcess gate(Settings(backend.Port()));
  ASSERT_NE(gate.Port(), 0) << gate.Log();
  TTunnel browser(gate.Port());
  vg::THTTPData answer;
  ASSERT_EQ(browser.Send("GET / HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n", answer), TReadResult::Complete);
  EXPECT_EQ(answer.StatusCode(), 403);
  EXPECT_NE(answer.View().find("protecting gateway"), std::string_view::npos);
  EXPECT_EQ(backend.LastRequest(), "");  // nothing went to the web server
  EXPECT_EQ(gate.Terminate(), 0) << gate.Log();
  EXPECT_NE(gate.Log().find("host=" + kHost + " status=403 key=-"), std::string::npos) << gate.Log();
}

TEST_F(GatewayProcess, ProtectedExchangesOnOneConnection) {
  TBackend backend;
  TGateProcess gate(Settings(backend.Port()));
  ASSERT_NE(gate.Port(), 0) << gate.Log();
  TTunnel tunnel(gate.Port());
  ASSERT_TRUE(tunnel.AgreeKey(11, 22));
  EXPECT_EQ(tunnel.version, 65541u);
  EXPECT_EQ(tunnel.key[5], 11u);  // the client's values come back
  EXPECT_EQ(tunnel.key[6], 22u);

  // Addressed the way the tunnel does it: "Host" names the gateway, "Vg-Oh" the web server.
  auto hello = tunnel.Exchange("GET /hello HTTP/1.1\r\nHost: 127.0.0.1\r\nVg-Oh: " + kHost + "\r\n\r\n");
  ASSERT_TRUE(hello.unprotected) << hello.answer->FirstError();
  EXPECT_EQ(Body(*hello.answer), "hello world");
  EXPECT_EQ(hello.answer->GetHeader("Set-Cookie"), "s=1");
  EXPECT_EQ(hello.answer->GetHeader("Content-Type"), "text/plain");
  const std::string seen = backend.LastRequest();
  EXPECT_TRUE(seen.starts_with("GET /hello HTTP/1.1\r\n")) << seen;
  EXPECT_NE(seen.find("Host: " + kHost + "\r\n"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("Vg-"), std::string::npos) << seen;

  const std::string big = Patterned(65536);
  auto echo = tunnel.Exchange("POST /echo HTTP/1.1\r\nHost: " + kHost +
                              "\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big);
  ASSERT_TRUE(echo.unprotected) << echo.answer->FirstError();
  EXPECT_EQ(Body(*echo.answer), big);

  auto chunked = tunnel.Exchange("GET /chunked HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n");
  ASSERT_TRUE(chunked.unprotected) << chunked.answer->FirstError();
  EXPECT_EQ(chunked.answer->GetHeader("Transfer-Encoding"), "chunked");
  EXPECT_EQ(Body(*chunked.answer), "4\r\nabcd\r\n2\r\nef\r\n0\r\n\r\n");

  auto unframed = tunnel.Exchange("GET /close HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n");
  ASSERT_TRUE(unframed.unprotected) << unframed.answer->FirstError();
  EXPECT_EQ(unframed.answer->GetHeaderInt("Content-Length"), 11);  // framed for the kept connection

  auto head = tunnel.Exchange("HEAD /hello HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n", true);
  ASSERT_TRUE(head.unprotected) << head.answer->FirstError();
  EXPECT_EQ(head.answer->GetHeaderInt("Content-Length"), 11);

  auto auth = tunnel.Exchange("GET /auth HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n");
  EXPECT_EQ(auth.status, 401);
  EXPECT_EQ(auth.answer->GetHeader("WWW-Authenticate"), "Basic");
  EXPECT_FALSE(auth.answer->HasHeader("Vg-Pe"));

  auto unknown = tunnel.Exchange("GET / HTTP/1.1\r\nHost: elsewhere.example\r\n\r\n");
  ASSERT_TRUE(unknown.unprotected) << unknown.answer->FirstError();
  EXPECT_EQ(unknown.answer->StatusCode(), 502);
  EXPECT_NE(Body(*unknown.answer).find("elsewhere.example"), std::string::npos);

  // A request that could carry a second one to the web server does not go there.
  const std::string hidden = "GET /hello HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n";
  const std::string before = backend.LastRequest();
  for (const std::string& smuggling :
       {"POST /echo HTTP/1.1\r\nHost: " + kHost +
            "\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + hidden,
        "POST /echo HTTP/1.1\r\nHost: " + kHost + "\r\nContent-Length: 2\r\n\r\nok" + hidden}) {
    auto refused = tunnel.Exchange(smuggling);
    ASSERT_TRUE(refused.unprotected) << refused.answer->FirstError();
    EXPECT_EQ(refused.answer->StatusCode(), 400) << smuggling;
  }
  EXPECT_EQ(backend.LastRequest(), before);

  // The same protected bytes once more: the counter was used, so the key does not pass.
  auto replay = tunnel.Receive(tunnel.lastSent);
  EXPECT_EQ(replay.status, 591);

  EXPECT_EQ(gate.Terminate(), 0);
  EXPECT_NE(gate.Log().find("host=" + kHost + " status=200 key=" + vggate::KeyId(tunnel.key).substr(0, 8)),
            std::string::npos)
      << gate.Log();
}

TEST_F(GatewayProcess, ConnectionsToTheWebServerAreKeptAndRenewedWhenClosed) {
  const std::string hello = "GET /hello HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n";
  {
    TBackend backend(true);
    TGateProcess gate(Settings(backend.Port()));
    ASSERT_NE(gate.Port(), 0) << gate.Log();
    TTunnel tunnel(gate.Port());
    ASSERT_TRUE(tunnel.AgreeKey());
    for (int i = 0; i < 3; ++i) {
      auto reply = tunnel.Exchange(hello);
      ASSERT_TRUE(reply.unprotected) << reply.answer->FirstError();
      EXPECT_EQ(Body(*reply.answer), "hello world");
    }
    EXPECT_EQ(backend.Connections(), 1);
    EXPECT_NE(backend.LastRequest().find("Connection: keep-alive\r\n"), std::string::npos) << backend.LastRequest();
    // An answer that ends with the connection leaves nothing to keep.
    auto unframed = tunnel.Exchange("GET /close HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n");
    ASSERT_TRUE(unframed.unprotected) << unframed.answer->FirstError();
    auto again = tunnel.Exchange(hello);
    ASSERT_TRUE(again.unprotected) << again.answer->FirstError();
    EXPECT_EQ(backend.Connections(), 2);
    EXPECT_EQ(gate.Terminate(), 0);
  }
  // A web server that closes after every answer: each kept connection fails unseen and the
  // request goes once more on a fresh one.
  TBackend closing;
  TGateProcess gate(Settings(closing.Port()));
  ASSERT_NE(gate.Port(), 0) << gate.Log();
  TTunnel tunnel(gate.Port());
  ASSERT_TRUE(tunnel.AgreeKey());
  const std::string body = "posted once";
  for (int i = 0; i < 3; ++i) {
    auto echo = tunnel.Exchange("POST /echo HTTP/1.1\r\nHost: " + kHost +
                                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_TRUE(echo.unprotected) << echo.answer->FirstError() << gate.Log();
    EXPECT_EQ(Body(*echo.answer), body);
  }
  EXPECT_EQ(closing.Connections(), 3);
  EXPECT_EQ(gate.Terminate(), 0);
}

TEST_F(GatewayProcess, OlderProtocolFormat) {
  TBackend backend;
  TGateProcess gate(Settings(backend.Port(), "1.4"));
  ASSERT_NE(gate.Port(), 0) << gate.Log();
  TTunnel tunnel(gate.Port());
  ASSERT_TRUE(tunnel.AgreeKey());
  EXPECT_EQ(tunnel.version, 65540u);
  EXPECT_NE(tunnel.key[5], 0u);  // chosen by the gateway when the client had none
  auto hello = tunnel.Exchange("GET /hello HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n");
  ASSERT_TRUE(hello.unprotected) << hello.answer->FirstError();
  EXPECT_EQ(Body(*hello.answer), "hello world");
  auto echo = tunnel.Exchange("POST /echo HTTP/1.1\r\nHost: " + kHost + "\r\nContent-Length: 1\r\n\r\nz");
  ASSERT_TRUE(echo.unprotected) << echo.answer->FirstError();
  EXPECT_EQ(Body(*echo.answer), "z");
  EXPECT_EQ(gate.Terminate(), 0);
}

TEST_F(GatewayProcess, FaultSwitches) {
  TBackend backend;
  const std::string get = "GET /hello HTTP/1.1\r\nHost: " + kHost + "\r\n\r\n";
  {
    TGateProcess gate(Settings(backend.Port(), "1.5", "Rekey591=2\n"));
    TTunnel tunnel(gate.Port());
    ASSERT_TRUE(tunnel.AgreeKey());
    EXPECT_TRUE(tunnel.Exchange(get).unprotected);
    EXPECT_TRUE(tunnel.Exchange(get).unprotected);
    EXPECT_EQ(tunnel.Exchange(get).status, 591);
    ASSERT_TRUE(tunnel.AgreeKey());
    EXPECT_TRUE(tunnel.Exchange(get).unprotected);
  }
  {
    // Refusals are counted across connections and leave key requests alone.
    TBackend untouched;
    TGateProcess gate(Settings(untouched.Port(), "1.5", "Refuse591=2\n"));
    TTunnel first(gate.Port());
    ASSERT_TRUE(first.AgreeKey());
    EXPECT_EQ(first.Exchange(get).status, 591);
    TTunnel second(gate.Port());
    ASSERT_TRUE(second.AgreeKey());
    auto refused = second.Exchange(get);
    EXPECT_EQ(refused.status, 591);
    EXPECT_FALSE(refused.answer->HasHeader("Vg-Pe"));
    EXPECT_NE(Body(*refused.answer).find("fault Refuse591"), std::string::npos);
    EXPECT_EQ(untouched.LastRequest(), "");
    // With the refusals used up, the key refused before still serves.
    auto passed = first.Exchange(get);
    ASSERT_TRUE(passed.unprotected) << passed.answer->FirstError();
    EXPECT_EQ(Body(*passed.answer), "hello world");
  }
  {
    TGateProcess gate(Settings(backend.Port(), "1.5", "Refuse591=all\n"));
    TTunnel tunnel(gate.Port());
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(tunnel.AgreeKey());
      EXPECT_EQ(tunnel.Exchange(get).status, 591);
    }
  }
  {
    TGateProcess gate(Settings(backend.Port(), "1.5", "KeyStatus=511\n"));
    TTunnel tunnel(gate.Port());
    EXPECT_FALSE(tunnel.AgreeKey());
    vg::THTTPData answer;
    auto request = Client("");
    vg::BuildKeyRequest(*Client(get), kHost, vg::TKeyRecord{}, *request);
    ASSERT_EQ(tunnel.Send(request->View(), answer), TReadResult::Complete);
    EXPECT_EQ(answer.StatusCode(), 511);
    EXPECT_FALSE(answer.HasHeader("Vg-Pe"));
  }
  {
    TGateProcess gate(Settings(backend.Port(), "1.5", "PlainAnswers=1\n"));
    TTunnel tunnel(gate.Port());
    ASSERT_TRUE(tunnel.AgreeKey());
    auto reply = tunnel.Exchange(get);
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(reply.answer->HasHeader("Vg-Pe"));
    EXPECT_FALSE(reply.unprotected);
  }
  {
    TGateProcess gate(Settings(backend.Port(), "1.5", "CorruptAnswers=1\n"));
    TTunnel tunnel(gate.Port());
    ASSERT_TRUE(tunnel.AgreeKey());
    auto reply = tunnel.Exchange(get);
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(reply.unprotected);
    EXPECT_FALSE(reply.answer->errors.empty());
  }
  {
    TGateProcess gate(Settings(backend.Port(), "1.5", "CloseAfter=2\n"));
    TTunnel tunnel(gate.Port());
    ASSERT_TRUE(tunnel.AgreeKey());
    EXPECT_TRUE(tunnel.Exchange(get).unprotected);
    EXPECT_TRUE(tunnel.PeerClosed());
  }
}

TEST_F(GatewayProcess, BadSettingsAreReportedAtStart) {
  TGateProcess gate("[Gateway]\nListen=127.0.0.1:0\n[Engine]\nColour=blue\n");
  EXPECT_EQ(gate.Wait(std::chrono::seconds(10)), 1);
  EXPECT_NE(gate.Log().find("the engine has no parameter \"Colour\""), std::string::npos) << gate.Log();
}
