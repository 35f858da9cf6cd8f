#pragma once
// Compression of protected message bodies: KH (mode 1), a fast byte-oriented coder on
// independent 32 KiB blocks, and LZH (mode 2), LZ77 with adaptive Huffman coding.
// Both formats are shared with the gateway and must not change.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/SysUtils.h"
#include "protection/Streams.h"

namespace vg {

class ECompressLib : public Exception {
 public:
  using Exception::Exception;
};

// The LZH working tables cannot be obtained or released.
class ELZHCompression : public Exception {
 public:
  using Exception::Exception;
};

class TCompressor {
 public:
  static constexpr uint32_t kSignatureKH = 0x1C111316;
  static constexpr uint32_t kSignatureLZH = 0x1C111312;
  static constexpr size_t kHeaderSize = 8;

  // 1 = KH, 2 = LZH.
  uint8_t Mode = 1;
  // Neither stream is owned. The input is read from its current position (compression
  // records the bytes from there to the end), the output written at its current position.
  TStream* InputStream = nullptr;
  TStream* OutputStream = nullptr;

  // Returns the number of bytes written: header, block lengths and data.
  uint64_t Compress();
  // The method comes from the stream's signature; Mode is ignored. A stream that declares
  // more than maxSize bytes is refused before anything is decoded. Returns the bytes written.
  uint64_t Decompress(std::optional<uint64_t> maxSize = std::nullopt);
};

// In-memory conveniences over TCompressor.
std::string CompressBytes(uint8_t mode, std::string_view data);
std::string DecompressBytes(std::string_view compressed, std::optional<uint64_t> maxSize = std::nullopt);

}  // namespace vg
