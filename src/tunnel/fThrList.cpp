#include "tunnel/fThrList.h"

#include <algorithm>
#include <chrono>

#include "tunnel/ServerSock.h"

namespace vg {

TRList::~TRList() { TerminateAll(); }

void TRList::Add(TServerClientThread* thread, std::thread runner) {
  std::vector<std::thread> ended;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.push_back(thread);
    ++running_;
    runners_.push_back(std::move(runner));
    ended = TakeEnded();
  }
  Join(std::move(ended));
}

std::vector<std::thread> TRList::TakeEnded() {
  std::vector<std::thread> ended;
  for (auto it = runners_.begin(); it != runners_.end();) {
    const bool done = running_ == 0 || std::find(finished_.begin(), finished_.end(), it->get_id()) != finished_.end();
    if (done) {
      finished_.erase(std::remove(finished_.begin(), finished_.end(), it->get_id()), finished_.end());
      ended.push_back(std::move(*it));
      it = runners_.erase(it);
    } else {
      ++it;
    }
  }
  return ended;
}

void TRList::Join(std::vector<std::thread> ended) {
  for (std::thread& t : ended)
    if (t.joinable()) t.join();
}

void TRList::Remove(TServerClientThread* thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = std::find(threads_.begin(), threads_.end(), thread);
  if (it != threads_.end()) threads_.erase(it);
}

void TRList::Finished() {
  std::lock_guard<std::mutex> lock(mutex_);
  finished_.push_back(std::this_thread::get_id());
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
  std::vector<std::thread> ended = TakeEnded();
  lock.unlock();
  Join(std::move(ended));
}

bool TRList::WaitEmpty(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeoutMs < 0) {
    empty_.wait(lock, [this] { return running_ == 0; });
  } else if (!empty_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return running_ == 0; })) {
    return false;
  }
  std::vector<std::thread> ended = TakeEnded();
  lock.unlock();
  Join(std::move(ended));
  return true;
}

TRList& ThreadList() {
  static TRList list;
  return list;
}

}  // namespace vg
