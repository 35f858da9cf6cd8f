// Arbitrary browser bytes into a relay thread, whose upstream answers with bytes from the input
// too. The upstream is either the tunnel's upstream proxy (so that every target reaches it
// without name resolution) or the gateway of a protected server "p.test", for which the input
// continues a request that names it. Every other host the input names is reached through the
// upstream proxy, which is the same upstream. Nothing may crash, and every connection must end: a
// connection still open after 10 seconds is a failure.
//
// Input: byte 0 chooses settings (bit 3: the protected server), bytes 1-2 give the length L of
// the upstream's answer (little endian), the next L bytes are that answer, the rest is what the
// browser sends.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "config/Cfg_Clnt.h"
#include "platform/Net.h"
#include "protection/CipherhubLib.h"
#include "protection/ConKey.h"
#include "tunnel/ClntThrd.h"

namespace {

using vg::platform::ClientSocket;
using vg::platform::IoStatus;
using vg::platform::ListenSocket;

// The upstream: for every connection it reads what arrives for a moment, answers and closes.
class Upstream {
 public:
  Upstream() {
    if (listener_.Listen(0, true) != 0) std::abort();
    thread_ = std::thread([this] { Loop(); });
  }
  int Port() const { return listener_.Port(); }
  void SetAnswer(std::string answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(answer);
  }

 private:
  void Loop() {
    for (;;) {
      ClientSocket c;
      if (listener_.Accept(c, -1) != IoStatus::Done) continue;
      std::string seen;
      char buffer[65536];
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
      while (std::chrono::steady_clock::now() < end && seen.find("\r\n\r\n") == std::string::npos) {
        const auto r = c.Read(buffer, sizeof buffer, 10);
        if (r.status == IoStatus::Closed || r.status == IoStatus::Failed) break;
        seen.append(buffer, r.bytes);
      }
      std::string answer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        answer = answer_;
      }
      c.Write(answer.data(), answer.size(), 1000);
      c.Close();
    }
  }

  ListenSocket listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::string answer_;
};

struct World {
  Upstream upstream;
  ListenSocket tunnelSide;
  World() {
    if (tunnelSide.Listen(0, true) != 0) std::abort();
  }
};

World& TheWorld() {
  static World* world = new World;  // lives until the process ends
  return *world;
}

bool Protected(uint8_t choice) { return (choice & 8) != 0; }

void Configure(uint8_t choice, int upstreamPort) {
  vg::TQSClientConfig& config = vg::Settings();
  vg::TConfigLock lock(config);
  if (config.ServerCount() == 0) {
    vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
    auto server = std::make_unique<vg::TProtectedServer>();
    server->SetAddressesText("p.test");
    server->VeilgateLocation().Parse("127.0.0.1:" + std::to_string(upstreamPort));
    vg::TCryptoParams params;
    params.SetEngineType("Emulation/1.0");
    params.AddParam(0, "client-1");
    params.AddParam(1, "gate-1");
    server->SetCryptoParams(params);
    config.AddServer(std::move(server));
  }
  vg::ConnectionKeys().Clear();
  config.SetLogFlags(0);
  config.SetErrorTraceMode((choice & 16) != 0);
  config.SetSelfTcpPort(1);
  config.SetClientAccessType(vg::TQSClientConfig::kAccessAny);
  // Every connection, the protected server's gateway included, goes through the proxy, which is
  // the same upstream: no target an input names sends the relay to a host on the network.
  config.SetProxyEnabled(true);
  config.SetBypassProxyForLocal(false);
  config.SetProxyHost("127.0.0.1");
  config.SetProxyPort(upstreamPort);
  config.SetProxyORPC((choice & 1) != 0);
  static const int32_t kLimits[] = {0x200000, 64, 1024, 16384};
  config.SetMaxHttpDataLength(kLimits[(choice >> 1) & 3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  World& world = TheWorld();
  const size_t answerLength = std::min<size_t>(data[1] | (size_t{data[2]} << 8), size - 3);
  world.upstream.SetAnswer(std::string(reinterpret_cast<const char*>(data) + 3, answerLength));
  Configure(data[0], world.upstream.Port());
  std::string browserBytes(reinterpret_cast<const char*>(data) + 3 + answerLength, size - 3 - answerLength);
  if (Protected(data[0])) browserBytes.insert(0, "GET http://p.test/ HTTP/1.1\r\nHost: p.test\r\n");

  ClientSocket browser;
  if (browser.Connect(vg::platform::ParseDottedIPv4("127.0.0.1"), world.tunnelSide.Port(), 1000) != 0) std::abort();
  ClientSocket accepted;
  if (world.tunnelSide.Accept(accepted, 1000) != IoStatus::Done) std::abort();

  vg::TClientRequestThread relay(std::move(accepted));
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;
  std::thread runner([&] {
    relay.Execute();
    std::lock_guard<std::mutex> lock(m);
    ended = true;
    cv.notify_all();
  });

  browser.Write(browserBytes.data(), browserBytes.size(), 2000);
  browser.ShutdownSend();
  char sink[65536];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto r = browser.Read(sink, sizeof sink, 100);
    if (r.status == IoStatus::Closed || r.status == IoStatus::Failed) break;
  }
  std::unique_lock<std::mutex> lock(m);
  if (!cv.wait_until(lock, deadline, [&] { return ended; })) {
    std::fprintf(stderr, "the relay did not end its connection\n");
    std::abort();
  }
  lock.unlock();
  runner.join();
  return 0;
}
