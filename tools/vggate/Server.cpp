#include "Server.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

#include "HttpIo.h"

namespace vggate {
namespace {

using vg::platform::ClientSocket;

constexpr int kIdleWaitMs = 120000;    // a kept connection waits this long for its next request
constexpr int kPartWaitMs = 30000;     // and this long for every further part of a request
constexpr int kBackendWaitMs = 30000;  // connecting to and waiting for a web server
constexpr int kWriteMs = 60000;
constexpr size_t kIdlePerBackend = 64;
constexpr auto kIdleLimit = std::chrono::seconds(30);  // web servers commonly keep an idle connection longer

// Idle connections to web servers, shared by every client connection; each serves one exchange at a time.
class TBackendPool {
 public:
  ClientSocket Take(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& list = idle_[key];
    const auto now = std::chrono::steady_clock::now();
    while (!list.empty()) {
      TIdle idle = std::move(list.back());
      list.pop_back();
      if (now - idle.since < kIdleLimit) return std::move(idle.socket);
    }
    return ClientSocket();
  }

  void Give(const std::string& key, ClientSocket socket) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& list = idle_[key];
    if (list.size() >= kIdlePerBackend) return;
    list.push_back(TIdle{std::move(socket), std::chrono::steady_clock::now()});
  }

 private:
  struct TIdle {
    ClientSocket socket;
    std::chrono::steady_clock::time_point since;
  };
  std::mutex mutex_;
  std::map<std::string, std::vector<TIdle>> idle_;
};

// Whether the connection may carry the next request: the answer keeps it open and ended exactly
// where its framing says, so no stray byte can be read as the start of the next answer.
bool Reusable(const vg::THTTPData& answer, bool head) {
  if (answer.IsConnectionClose()) return false;
  if (answer.HttpVersion() < 65537 && !answer.IsKeepAlive()) return false;
  const int status = answer.StatusCode();
  const int32_t header = answer.HeaderLength();
  if (head || (status >= 100 && status < 200) || status == 204 || status == 304)
    return !answer.HasHeader("Transfer-Encoding") && answer.Length() == header;
  if (answer.HasHeader("Transfer-Encoding") || !answer.HasHeader("Content-Length")) return false;
  return static_cast<int64_t>(header) + answer.GetHeaderInt("Content-Length") == answer.Length();
}

}  // namespace

TForwarder SocketForwarder(int32_t limit, const vg::platform::WakeSignal* wake) {
  auto pool = std::make_shared<TBackendPool>();
  return [limit, wake, pool](const TBackend& backend, const vg::THTTPData& request, vg::THTTPData& answer,
                             std::string& error) {
    const std::string key = backend.address + ":" + std::to_string(backend.port);
    const bool head = request.RequestKind() == vg::THTTPData::rkHead;
    // A kept connection the web server has closed in the meantime fails before any answer
    // arrives; that attempt is repeated once on a fresh connection.
    for (;;) {
      ClientSocket socket = pool->Take(key);
      const bool kept = socket.Connected();
      if (!kept) {
        const int code = ConnectTo(socket, backend.address, backend.port, kBackendWaitMs, wake);
        if (code != 0) {
          error = vg::platform::NetErrorText(code) + " (" + std::to_string(code) + ")";
          return false;
        }
      }
      if (!WriteAll(socket, request.View(), kWriteMs, wake)) {
        if (kept) continue;
        error = "the request could not be sent";
        return false;
      }
      const TReadResult r = ReadAnswer(socket, answer, head, limit, kBackendWaitMs, wake);
      // The close of an idle kept connection may also show as a reset once the request is out.
      if (kept && (r == TReadResult::Closed || (r == TReadResult::Failed && answer.IsEmpty()))) continue;
      if (r != TReadResult::Complete) {
        error = std::string("the answer could not be read: ") + ReadResultText(r);
        return false;
      }
      if (Reusable(answer, head)) pool->Give(key, std::move(socket));
      return true;
    }
  };
}

TServer::TServer(TGateway& gateway, vg::platform::ListenSocket& listener, vg::platform::WakeSignal& wake)
    : gateway_(gateway), listener_(listener), wake_(wake) {}

TServer::~TServer() { Stop(); }

void TServer::Start() { acceptThread_ = std::thread([this] { AcceptLoop(); }); }

void TServer::Stop() {
  stopping_ = true;
  wake_.Signal();
  if (acceptThread_.joinable()) acceptThread_.join();
  Reap(true);
}

void TServer::Reap(bool all) {
  std::list<std::unique_ptr<TConnection>> finished;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished)
    if (c->thread.joinable()) c->thread.join();
}

void TServer::AcceptLoop() {
  while (!stopping_) {
    ClientSocket accepted;
    const vg::platform::IoStatus status = listener_.Accept(accepted, 500, &wake_);
    Reap(false);
    if (status != vg::platform::IoStatus::Done || stopping_) continue;
    auto connection = std::make_unique<TConnection>();
    TConnection& c = *connection;
    {
      std::lock_guard<std::mutex> lock(connectionsMutex_);
      connections_.push_back(std::move(connection));
    }
    c.thread = std::thread([this, &c, socket = std::move(accepted)]() mutable { Serve(std::move(socket), c); });
  }
}

void TServer::Log(const std::string& client, const TExchangeResult& result) {
  std::lock_guard<std::mutex> lock(logMutex_);
  std::fprintf(stderr, "vggate: client=%s host=%s status=%d key=%s\n", client.c_str(),
               result.host.empty() ? "-" : result.host.c_str(), result.status, result.keyId.c_str());
  std::fflush(stderr);
}

void TServer::Serve(ClientSocket socket, TConnection& connection) {
  const std::string client =
      vg::platform::DottedText(socket.PeerAddress()) + ":" + std::to_string(socket.PeerPort());
  try {
    TGateSession session(gateway_);
    vg::THTTPData request;
    std::string carry;
    const int32_t limit = gateway_.Config().maxDataLength + 262144;
    while (!stopping_) {
      const TReadResult r = ReadRequest(socket, request, carry, limit, kIdleWaitMs, kPartWaitMs, &wake_);
      if (r == TReadResult::TooLarge) {
        TExchangeResult refused;
        refused.status = 413;
        refused.answer = HtmlAnswer(413, "QS-Veilgate gateway: 413 Payload Too Large",
                                    "The request exceeds the gateway's maximum data length.", true);
        WriteAll(socket, refused.answer, kWriteMs, &wake_);
        Log(client, refused);
      }
      if (r != TReadResult::Complete) break;
      const TExchangeResult result = session.Handle(request.View());
      const bool written = WriteAll(socket, result.answer, kWriteMs, &wake_);
      Log(client, result);
      if (!written || result.close) break;
    }
  } catch (const std::exception& error) {
    std::lock_guard<std::mutex> lock(logMutex_);
    std::fprintf(stderr, "vggate: client=%s connection failed: %s\n", client.c_str(), error.what());
  }
  socket.Close();
  connection.done = true;
}

}  // namespace vggate
