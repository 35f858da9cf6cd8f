#pragma once
// The release marker that the tunnel's executable carries in its data: a fixed 16-byte
// signature followed by the block version as a 32-bit little-endian number (major in the high
// 16 bits, minor in the low). The updater finds it in an installed executable to tell which
// release is installed; the tunnel itself never reads it.
#include <array>
#include <cstddef>
#include <cstdint>

namespace vg {

inline constexpr std::array<uint8_t, 16> kReleaseSignature = {
    'Q', 'S', 'V', 'G', '-', 'R', 'e', 'l', 'M', 'a', 'r', 'k', 0x8C, 0x3E, 0x51, 0xA7};
// Release 1.5.
inline constexpr uint32_t kReleaseBlockVersion = 0x10005;
inline constexpr size_t kReleaseMarkerSize = kReleaseSignature.size() + 4;

constexpr std::array<uint8_t, kReleaseMarkerSize> MakeReleaseMarker(uint32_t version) {
  std::array<uint8_t, kReleaseMarkerSize> marker{};
  for (size_t i = 0; i < kReleaseSignature.size(); ++i) marker[i] = kReleaseSignature[i];
  for (size_t i = 0; i < 4; ++i) marker[kReleaseSignature.size() + i] = static_cast<uint8_t>(version >> (8 * i));
  return marker;
}

}  // namespace vg
