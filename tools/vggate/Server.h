#pragma once
// The gateway's listener: one thread per client connection, kept alive between exchanges, and a
// stop that ends every wait at once.
#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Gateway.h"
#include "platform/Net.h"

namespace vggate {

// Forwards to the backend, on a connection kept from an earlier exchange when there is one, and
// reads its whole answer (bounded by limit).
TForwarder SocketForwarder(int32_t limit, const vg::platform::WakeSignal* wake);

class TServer {
 public:
  // Serves the gateway on an already listening socket.
  TServer(TGateway& gateway, vg::platform::ListenSocket& listener, vg::platform::WakeSignal& wake);
  ~TServer();
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  void Start();
  // Ends the accept loop and every connection and waits for their threads.
  void Stop();

 private:
  struct TConnection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  void Serve(vg::platform::ClientSocket socket, TConnection& connection);
  void Log(const std::string& client, const TExchangeResult& result);
  void Reap(bool all);

  TGateway& gateway_;
  vg::platform::ListenSocket& listener_;
  vg::platform::WakeSignal& wake_;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex connectionsMutex_;
  std::list<std::unique_ptr<TConnection>> connections_;
  std::mutex logMutex_;
};

}  // namespace vggate
