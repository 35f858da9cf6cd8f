#pragma once
// What the socket backends of every system share: deadlines and address-list helpers.
#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/Net.h"

namespace vg::platform::netdetail {

using SteadyClock = std::chrono::steady_clock;

// Milliseconds left until a deadline, rounded up so that a wait never ends before it; -1 stands
// for no deadline.
class Deadline {
 public:
  explicit Deadline(int timeoutMs)
      : unlimited_(timeoutMs < 0), end_(SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0))) {}
  int Remaining() const {
    if (unlimited_) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - SteadyClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }
  bool Expired() const { return Remaining() == 0; }

 private:
  bool unlimited_;
  SteadyClock::time_point end_;
};

inline bool IsLoopback(Ipv4 address) { return (address & 0xFF) == 127; }

inline void AppendUnique(std::vector<Ipv4>& list, Ipv4 address) {
  if (std::find(list.begin(), list.end(), address) == list.end()) list.push_back(address);
}

}  // namespace vg::platform::netdetail
