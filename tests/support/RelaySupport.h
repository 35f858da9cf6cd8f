#pragma once
// The tests' loopback world: a small HTTP server, raw loopback clients, child processes stopped
// by their own process id, and the tunnel in the test's own process.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "settings/Cfg_Clnt.h"
#include "support/ScratchDir.h"
#include "tunnel/Abt_Clnt.h"
#include "tunnel/ReqThrd.h"
#include "tunnel/httpdata.h"

namespace relaytest {

using TempDir = vgtest::ScratchDir;
inline std::string ReadFileText(const std::string& path) { return vgtest::ReadFile(path); }
inline void WriteFileText(const std::string& path, const std::string& text) { vgtest::WriteFile(path, text); }
// A port that was free a moment ago and that this process has not been given before.
int FreePort();
// The byte at position i of every generated body.
inline char BodyByte(size_t i) { return static_cast<char>('a' + i % 26); }
std::string Body(size_t n);
// The body of /text/N.
std::string TextBody(size_t n);

// An HTTP/1.1 server on 127.0.0.1 with answers chosen by the request target:
//   /len/N          200, Content-Length, N body bytes (HEAD: the header only)
//   /chunked/N      200, chunked in pieces of 1000 bytes
//   /text/N         200, N bytes of text that compress like a real page (TextBody(N))
//   /chunkext/N     200, one chunk of N bytes, every size line with chunk extensions
//   /bare/C         status line "HTTP/1.1 C" without reason phrase (/bareblank/C: with the blank);
//                   a 2-byte body unless C is 1xx, 204 or 304
//   /close/N        200 without length; N bytes, then the connection closes
//   /lenclose/N     like /len/N, then the connection closes without a word
//   /status/C       status C with an empty body ("Content-Length: 0" unless 1xx, 204 or 304)
//   /info           "100 Continue", a pause, then 200 "done"; /info-joined sends both at once
//   /connclose      200 with "Connection: CLOSE"; the server keeps the connection open
//   /v10/len/N      like /len/N with an HTTP/1.0 status line
//   /proxyauth      407 with "Proxy-Authenticate: Basic realm="vgtest"" and a short HTML page
//   /setcookie      200 "ok" with "Set-Cookie: vgtest=42; Path=/"
//   /echo           200 whose body is the raw request as it arrived (header and body)
//   /zeros/N        200, Content-Length, N zero bytes
//   /hang           reads the request and never answers
//   /silent         closes the connection without answering
// Every request is recorded with its header block; connections are counted.
class TestHttpServer {
 public:
  explicit TestHttpServer(bool anyAddress = false);
  ~TestHttpServer();
  int Port() const { return port_; }
  int Connections() const { return connections_.load(); }
  std::vector<std::string> Requests();
  std::string LastRequest();

 private:
  void AcceptLoop();
  void Serve(int fd);

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::thread> workers_;
  std::vector<int> clientFds_;
};

// A relay on 127.0.0.1 that passes every connection on to 127.0.0.1:targetPort unchanged and
// keeps what the clients sent, so a test can see the bytes on the wire.
class LoopbackTap {
 public:
  explicit LoopbackTap(int targetPort);
  ~LoopbackTap();
  int Port() const { return port_; }
  // Everything the clients sent so far, connection after connection.
  std::string Sent();

 private:
  void Relay(int client);

  int listenFd_ = -1;
  int port_ = 0;
  int targetPort_;
  std::atomic<bool> stop_{false};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::vector<std::string> sent_;
  std::vector<std::thread> workers_;
};

// A blocking loopback client with time-outs.
class RawClient {
 public:
  // Connects to 127.0.0.1:port, from the given local address when one is named.
  explicit RawClient(int port, const std::string& localAddress = {});
  ~RawClient();
  bool Connected() const { return fd_ >= 0; }
  void Send(const std::string& bytes);
  void ShutdownSend();
  // Reads one whole answer (framed by its headers, or until close); empty on time-out.
  std::string ReadAnswer(int timeoutMs = 5000, bool headRequest = false);
  // Reads until the peer closes; what arrived.
  std::string ReadUntilClose(int timeoutMs = 5000);
  // True when the peer has closed the connection (within timeoutMs).
  bool PeerClosed(int timeoutMs = 2000);
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string pending_;
};

struct ProcessResult {
  int exitCode = -1;  // -1: still running at the time-out (then killed)
  std::string out;
  std::string err;
};

// Runs a program to its end, killing it after timeoutMs.
ProcessResult RunProcess(const std::vector<std::string>& args, int timeoutMs = 20000,
                         const std::vector<std::string>& env = {});

// A program running in the background, stopped by its own process id.
class Process {
 public:
  Process(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
          const std::string& outFile = {});
  ~Process();
  int Pid() const { return pid_; }
  bool Running();
  // Sends the signal; waits up to timeoutMs for the end; the exit code, or -1.
  int Stop(int signal, int timeoutMs);
  int WaitExit(int timeoutMs);

 private:
  int pid_ = -1;
  std::optional<int> exitCode_;
};

// Waits until something accepts connections on 127.0.0.1:port.
bool WaitForPort(int port, int timeoutMs = 5000);

// The tunnel in this process: the program's settings set for a test and the main window's
// listener on a free port (which also becomes "Self TCP port").
class InProcessTunnel {
 public:
  InProcessTunnel();
  ~InProcessTunnel();
  // Changes settings under the settings lock; they apply from the next request.
  void Configure(const std::function<void(vg::TQSClientConfig&)>& change);
  int Port() const { return port_; }
  void StopListener() { form_->StopListener(); }
  const std::string& LogDir() const { return dir_.Path(); }
  std::string ServiceLog();

 private:
  TempDir dir_;
  std::unique_ptr<vg::TQSVeilgateAboutForm> form_;
  int port_ = 0;
};

// The relay's wait for a peer (60 s), shortened while the object lives.
struct ShortWait {
  explicit ShortWait(int ms) { vg::TRequestThread::SetWaitMs(ms); }
  ~ShortWait() { vg::TRequestThread::SetWaitMs(0); }
  ShortWait(const ShortWait&) = delete;
  ShortWait& operator=(const ShortWait&) = delete;
};

// An HTTP request through the tunnel: "GET http://127.0.0.1:port/path HTTP/1.1" with Host.
std::string ProxyGet(int port, const std::string& path, const std::string& version = "HTTP/1.1",
                     const std::string& extraHeaders = {});
// Status code of an answer text; 0 when none.
int StatusOf(const std::string& answer);
// The body: what follows the header block.
std::string BodyOf(const std::string& answer);

}  // namespace relaytest
