#include "tunnel/ServerSock.h"

#include <chrono>
#include <future>

#include "sockets/SockErr.h"

namespace vg {

TServerClientThread::TServerClientThread(platform::ClientSocket socket) : socket_(std::move(socket)) {}

TServerClientThread::~TServerClientThread() = default;

void TServerClientThread::Start(TRList* list) {
  if (!list) {
    try {
      std::thread([this] {
        Execute();
        delete this;
      }).detach();
    } catch (...) {
      delete this;
      throw;
    }
    return;
  }
  // The thread waits until it is listed, so that it cannot leave the list before it is in it.
  std::promise<void> listed;
  std::thread runner;
  try {
    runner = std::thread([this, list, go = listed.get_future()] {
      go.wait();
      Execute();
      list->Remove(this);
      delete this;
      list->Finished();
    });
  } catch (...) {
    delete this;  // the object was handed over to its thread, which could not be made
    throw;
  }
  list->Add(this, std::move(runner));
  listed.set_value();
}

void TServerClientThread::Execute() { ClientExecute(); }

void TServerClientThread::Terminate() {
  terminated_.store(true, std::memory_order_release);
  wake_.Signal();
}

TServerSocket::TServerSocket(TRList& threads) : threads_(threads) {}

TServerSocket::~TServerSocket() {
  Close();
  threads_.WaitEmpty();
}

void TServerSocket::Open() {
  if (Active()) return;
  CheckSocket(listener_.Listen(port_));
  stop_.Reset();
  try {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  } catch (...) {
    listener_.Close();
    throw;
  }
}

void TServerSocket::Close() {
  if (acceptThread_.joinable()) {
    stop_.Signal();
    acceptThread_.join();
  }
  listener_.Close();
}

void TServerSocket::AcceptLoop() {
  bool failing = false;
  for (;;) {
    platform::ClientSocket accepted;
    int error = 0;
    const platform::IoStatus status = listener_.Accept(accepted, -1, &stop_, &error);
    if (status == platform::IoStatus::Woken) return;
    if (status == platform::IoStatus::Done) {
      failing = false;
      // A connection whose thread cannot be made is dropped; the listener goes on.
      try {
        if (onGetThread_) onGetThread_(std::move(accepted));
      } catch (...) {
      }
      continue;
    }
    if (status == platform::IoStatus::Failed) {
      // Out of descriptors and the like: give the system a moment instead of spinning.
      if (stop_.IsSignalled()) return;
      if (!failing && onAcceptFailure_) {
        try {
          onAcceptFailure_(error);
        } catch (...) {
        }
      }
      failing = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
}

}  // namespace vg
