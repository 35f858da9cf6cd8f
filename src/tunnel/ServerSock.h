#pragma once
// The listener in thread-blocking mode: an accept thread hands every accepted socket to a thread
// factory, and each connection then runs on a thread of its own that is freed when it ends.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Net.h"
#include "tunnel/fThrList.h"

namespace vg {

// One accepted connection's thread. Terminate() may be called from any thread; it ends every
// wait the thread makes through WakeUp() at once.
class TServerClientThread {
 public:
  explicit TServerClientThread(platform::ClientSocket socket);
  virtual ~TServerClientThread();
  TServerClientThread(const TServerClientThread&) = delete;
  TServerClientThread& operator=(const TServerClientThread&) = delete;

  // Runs the connection on a new thread; the object deletes itself when the thread ends (or at
  // once when no thread can be made: then the system's error is thrown). The list, when given,
  // holds the thread from now until then.
  void Start(TRList* list = nullptr);
  // Runs the connection on the calling thread (the caller keeps ownership).
  void Execute();

  void Terminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

  platform::ClientSocket& ClientSocket() { return socket_; }
  const platform::ClientSocket& ClientSocket() const { return socket_; }
  const platform::WakeSignal& WakeUp() const { return wake_; }

 protected:
  virtual void ClientExecute() = 0;

 private:
  platform::ClientSocket socket_;
  platform::WakeSignal wake_;
  std::atomic<bool> terminated_{false};
};

// The socket server: listens on Port() and, while active, accepts on its own thread.
class TServerSocket {
 public:
  // Called on the accept thread for every accepted socket; it takes the socket over.
  using GetThreadHandler = std::function<void(platform::ClientSocket&& accepted)>;

  // threads: the list its connection threads are kept in (the program's list unless told).
  explicit TServerSocket(TRList& threads = ThreadList());
  // Deactivates and waits for the connection threads that are still running.
  ~TServerSocket();
  TServerSocket(const TServerSocket&) = delete;
  TServerSocket& operator=(const TServerSocket&) = delete;

  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  // The port actually bound while active (Port() may be 0 for any free port).
  int BoundPort() const { return listener_.Port(); }
  bool Active() const { return listener_.IsListening(); }
  void SetOnGetThread(GetThreadHandler handler) { onGetThread_ = std::move(handler); }
  // Called on the accept thread with the error code when accepting fails, once until an accept
  // succeeds again (out of descriptors, the usual cause, lasts until connections end).
  using AcceptFailureHandler = std::function<void(int code)>;
  void SetOnAcceptFailure(AcceptFailureHandler handler) { onAcceptFailure_ = std::move(handler); }

  // Binds and listens, then starts the accept thread; a failure is raised through the calling
  // thread's socket error procedure.
  void Open();
  // Stops accepting and closes the listener; connection threads run on.
  void Close();

  // The list of the connection threads; the factory passes it to TServerClientThread::Start.
  TRList& Threads() const { return threads_; }

 private:
  void AcceptLoop();

  int port_ = 0;
  platform::ListenSocket listener_;
  platform::WakeSignal stop_;
  std::thread acceptThread_;
  GetThreadHandler onGetThread_;
  AcceptFailureHandler onAcceptFailure_;
  TRList& threads_;
};

}  // namespace vg
