// Arbitrary bytes as a KH stream: the signature is forced, everything after it is free.
#include <cstdint>
#include <cstring>
#include <string>

#include "protection/ComprObj.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string stream(reinterpret_cast<const char*>(data), size);
  if (stream.size() >= 4) std::memcpy(stream.data(), "\x16\x13\x11\x1C", 4);
  // Odd first payload bytes also exercise the size limit.
  const bool limited = stream.size() > 8 && (stream[8] & 1);
  try {
    const std::string out = vg::DecompressBytes(stream, limited ? std::optional<uint64_t>(65536) : std::nullopt);
    if (limited && out.size() > 65536) __builtin_trap();
  } catch (const vg::ECompressLib&) {
  }
  return 0;
}
