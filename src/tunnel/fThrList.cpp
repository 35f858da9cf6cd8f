#include "tunnel/fThrList.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "tunnel/ServerSock.h"

namespace vg {

TRList::~TRList() { TerminateAll(); }

void TRList::Add(TServerClientThread* thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.push_back(thread);
}

void TRList::Remove(TServerClientThread* thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = std::find(threads_.begin(), threads_.end(), thread);
  if (it != threads_.end()) threads_.erase(it);
}

int TRList::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(threads_.size());
}

void TRList::TerminateAll() {
  for (int pass = 0;; ++pass) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (threads_.empty()) return;
      if (pass < 100)
        for (TServerClientThread* t : threads_) t->Terminate();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

TRList& ThreadList() {
  static TRList list;
  return list;
}

}  // namespace vg
