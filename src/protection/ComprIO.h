#pragma once
// Shared plumbing of the two compression methods: messages, stream reads and writes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "protection/ComprObj.h"

namespace vg::compr {

inline const std::string& MsgNoBuffers() { return VGT("Compressor (de)compression : Failed to get memory for I/O buffers !"); }
inline const std::string& MsgNoInputSize() { return VGT("Compressor compression : Failed to obtain the size of the input stream !"); }
inline const std::string& MsgInputStream() { return VGT("Compressor (de)compression : Failed to initialize input stream !"); }
inline const std::string& MsgOutputStream() { return VGT("Compressor (de)compression : Failed to initialize output stream !"); }
inline const std::string& MsgWrite() { return VGT("Compressor : Error writing to output stream !"); }
inline const std::string& MsgReadKH() { return VGT("Compressor : Error reading from input stream ! (Compressor/KH)"); }
inline const std::string& MsgReadLZH() { return VGT("Compressor : Error reading from input stream ! (LZH)"); }
inline const std::string& MsgNoHashTable() { return VGT("CompressorKH : no memory for HASH table"); }
inline const std::string& MsgNoLzhTables() { return VGT("LZH : Cannot get memory for dictionary tables"); }
inline const std::string& MsgFreeLzhTables() { return VGT("LZH : Error freeing memory for dictionary tables"); }
inline const std::string& MsgNoHeader() { return VGT("Compressor decompression : input stream contains no valid header !"); }
inline const std::string& MsgShortRead() { return VGT("Compressor : Error reading from input stream !"); }
inline const std::string& MsgSizeKH() {
  return VGT("Compressor (decompression Compressor/KH) : Original and compressed sizes do not match !");
}
inline const std::string& MsgSizeLZH() {
  return VGT("Compressor (LZH decompression) : Original and compressed sizes do not match !");
}
// Texts of our own for cases the wire format leaves to the implementation.
inline const std::string& MsgBadMode() { return VGT("Compressor compression : Unknown compression mode !"); }
inline const std::string& MsgTooLarge() {
  return VGT("Compressor compression : The input stream is larger than 4294967295 bytes !");
}
inline const std::string& MsgOverLimit() {
  return VGT("Compressor decompression : The uncompressed size exceeds the allowed maximum !");
}
inline const std::string& MsgBlockLength() { return VGT("Compressor (decompression Compressor/KH) : Invalid block length !"); }
inline const std::string& MsgBlockData() { return VGT("Compressor (decompression Compressor/KH) : Corrupt block data !"); }

[[noreturn]] inline void Fail(const std::string& message) { throw ECompressLib(message); }

// Reads exactly count bytes unless the stream ends first; returns the number read.
// A read error raises ECompressLib with the given message.
size_t ReadFully(TStream& in, void* buffer, size_t count, const std::string& errorMessage);

// Writes all bytes or raises the write error.
inline void WriteAll(TStream& out, const void* data, size_t count) {
  if (count && out.Write(data, count) != count) Fail(MsgWrite());
}

inline void PutLE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t GetLE32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// KH works on blocks of this many input bytes; a buffer of kKhBufferSize holds any block
// data (the compressor's worst case overshoots the block size by a few bytes).
constexpr size_t kKhBlockSize = 32768;
constexpr size_t kKhBufferSize = 32784;
constexpr size_t kKhMaxBlockLength = kKhBlockSize + 1;
constexpr size_t kKhHashSize = 4096;
constexpr size_t kKhHashWindow = 1024;

// Compresses n ≤ 32768 bytes into out (kKhBufferSize bytes) and returns the block length.
// in must hold kKhBufferSize bytes, those past n set (their values do not change the result).
// The hash table has kKhHashSize entries plus kKhHashWindow + 8 of working room.
size_t KhCompressBlock(const uint8_t* in, size_t n, uint8_t* out, uint16_t* hash);
// Decodes one block of data (length ≤ 32769) into out, which must hold kKhBufferSize bytes;
// returns the decoded size. Corrupt data raises ECompressLib.
size_t KhDecompressBlock(const uint8_t* in, size_t length, uint8_t* out);

// Whole-stream coders; the header has been handled by the caller. They return the number of
// bytes written to out.
uint64_t KhCompress(TStream& in, uint32_t size, TStream& out);
uint64_t KhDecompress(TStream& in, uint32_t size, TStream& out);
uint64_t LzhCompress(TStream& in, uint32_t size, TStream& out);
uint64_t LzhDecompress(TStream& in, uint32_t size, TStream& out);

}  // namespace vg::compr
