#pragma once
// Byte order reversal for the compressors' big-endian loads; the standard library has none
// before C++23, so the compiler's own operation stands in here, in one place.
#include <cstdint>

namespace vg::platform {

inline uint64_t ByteSwap64(uint64_t v) { return __builtin_bswap64(v); }
inline uint32_t ByteSwap32(uint32_t v) { return __builtin_bswap32(v); }

}  // namespace vg::platform
