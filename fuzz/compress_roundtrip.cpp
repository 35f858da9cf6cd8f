// Any input must come back unchanged from both modes.
#include <cstdint>
#include <string>

#include "protection/ComprObj.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (uint8_t mode : {1, 2}) {
    const std::string packed = vg::CompressBytes(mode, input);
    if (vg::DecompressBytes(packed, input.size()) != input) __builtin_trap();
  }
  return 0;
}
