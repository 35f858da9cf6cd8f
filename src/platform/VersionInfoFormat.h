#pragma once
// Layout of the version record embedded in our executables (stand-in for a version resource).
#include <cstdint>

namespace vg::platform::version_detail {

// The marker is stored inverted so that the reader's own copy of it never matches.
constexpr unsigned char kMarkerInverted[16] = {0xA9, 0xB8, 0xA9, 0xBA, 0xAD, 0xAC, 0xB6, 0xB0,
                                               0xB1, 0xB6, 0xB1, 0xB9, 0xB0, 0xA0, 0xCD, 0xFF};
struct Record {
  unsigned char marker[16];
  uint16_t parts[4];
  uint32_t check;  // parts folded, guards against a stray marker in data
  char fileVersion[32];
};

constexpr uint32_t CheckOf(const uint16_t parts[4]) {
  return (static_cast<uint32_t>(parts[0]) << 16 ^ parts[1] ^ static_cast<uint32_t>(parts[2]) << 8 ^ parts[3]) ^
         0x5647u;
}

}  // namespace vg::platform::version_detail
