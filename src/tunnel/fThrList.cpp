#include "tunnel/fThrList.h"

#include <algorithm>
#include <chrono>

#include "tunnel/ServerSock.h"

namespace vg {

TRList::~TRList() { TerminateAll(); }

void TRList::Add(TServerClientThread* thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.push_back(thread);
  ++running_;
}

void TRList::Remove(TServerClientThread* thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = std::find(threads_.begin(), threads_.end(), thread);
  if (it != threads_.end()) threads_.erase(it);
}

void TRList::Finished() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--running_ == 0) empty_.notify_all();
}

int TRList::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(threads_.size());
}

void TRList::TerminateAll() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (int pass = 0; running_ > 0; ++pass) {
    if (pass < 100)
      for (TServerClientThread* t : threads_) t->Terminate();
    empty_.wait_for(lock, std::chrono::milliseconds(100), [this] { return running_ == 0; });
  }
}

bool TRList::WaitEmpty(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeoutMs < 0) {
    empty_.wait(lock, [this] { return running_ == 0; });
    return true;
  }
  return empty_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return running_ == 0; });
}

TRList& ThreadList() {
  static TRList list;
  return list;
}

}  // namespace vg
