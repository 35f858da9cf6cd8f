#include "tunnel/ServerSock.h"

#include <chrono>

#include "tunnel/SockErr.h"

namespace vg {

void TThreadTracker::Enter() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++count_;
}

void TThreadTracker::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--count_ == 0) idle_.notify_all();
}

int TThreadTracker::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

bool TThreadTracker::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeoutMs < 0) {
    idle_.wait(lock, [this] { return count_ == 0; });
    return true;
  }
  return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return count_ == 0; });
}

TServerClientThread::TServerClientThread(platform::ClientSocket socket) : socket_(std::move(socket)) {}

TServerClientThread::~TServerClientThread() = default;

void TServerClientThread::Start(std::shared_ptr<TThreadTracker> tracker) {
  if (tracker) tracker->Enter();
  try {
    std::thread([this, tracker] {
      Execute();
      delete this;
      if (tracker) tracker->Leave();
    }).detach();
  } catch (...) {
    if (tracker) tracker->Leave();
    throw;
  }
}

void TServerClientThread::Execute() { ClientExecute(); }

void TServerClientThread::Terminate() {
  terminated_.store(true, std::memory_order_release);
  wake_.Signal();
}

TServerSocket::TServerSocket() = default;

TServerSocket::~TServerSocket() {
  Close();
  threads_->WaitIdle();
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
