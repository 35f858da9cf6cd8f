#pragma once
// A single-use count-down gate for tests that start threads at one moment. std::latch is not
// used: on targets without a native wait on an address (the Windows build), the C++ library of
// GCC 12 can lose its wake-ups, and a test then hangs at random.
#include <condition_variable>
#include <mutex>

namespace test {

class Latch {
 public:
  explicit Latch(int count) : count_(count) {}
  Latch(const Latch&) = delete;
  Latch& operator=(const Latch&) = delete;

  void count_down() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ > 0 && --count_ == 0) opened_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return count_ == 0; });
  }
  void arrive_and_wait() {
    count_down();
    wait();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  int count_;
};

}  // namespace test
