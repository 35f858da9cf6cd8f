#pragma once
// A fuzzer's input read as a stream of decisions and texts; past its end every byte reads as 0.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

struct TInput {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::string Take(size_t count) {
    count = std::min(count, n);
    std::string s(reinterpret_cast<const char*>(p), count);
    p += count;
    n -= count;
    return s;
  }
  std::string Rest() { return Take(n); }
};
