#include "protection/ComprObj.h"

#include <algorithm>

#include "protection/ComprIO.h"

namespace vg {
namespace compr {

size_t ReadFully(TStream& in, void* buffer, size_t count, const std::string& errorMessage) {
  size_t done = 0;
  while (done < count) {
    const int64_t n = in.Read(static_cast<uint8_t*>(buffer) + done, count - done);
    if (n < 0) Fail(errorMessage);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace compr

using namespace compr;

uint64_t TCompressor::Compress() {
  if (Mode != 1 && Mode != 2) Fail(MsgBadMode());
  if (!InputStream) Fail(MsgInputStream());
  if (!OutputStream) Fail(MsgOutputStream());
  const int64_t size = InputStream->Size();
  if (size < 0) Fail(MsgNoInputSize());
  const int64_t position = InputStream->Position();
  if (position < 0) Fail(MsgInputStream());
  if (OutputStream->Position() < 0) Fail(MsgOutputStream());
  // What lies before the current position is not compressed, so it is not counted either.
  const int64_t remaining = std::max<int64_t>(size - position, 0);
  if (remaining > 0xFFFFFFFFll) Fail(MsgTooLarge());
  const auto inputSize = static_cast<uint32_t>(remaining);

  uint8_t header[kHeaderSize];
  PutLE32(header, Mode == 1 ? kSignatureKH : kSignatureLZH);
  PutLE32(header + 4, inputSize);
  WriteAll(*OutputStream, header, sizeof header);
  const uint64_t body = Mode == 1 ? KhCompress(*InputStream, inputSize, *OutputStream)
                                  : LzhCompress(*InputStream, inputSize, *OutputStream);
  return kHeaderSize + body;
}

uint64_t TCompressor::Decompress(std::optional<uint64_t> maxSize) {
  if (!InputStream || InputStream->Position() < 0) Fail(MsgInputStream());
  if (!OutputStream || OutputStream->Position() < 0) Fail(MsgOutputStream());
  uint8_t header[kHeaderSize];
  if (ReadFully(*InputStream, header, 4, MsgShortRead()) != 4) Fail(MsgShortRead());
  const uint32_t signature = GetLE32(header);
  if (signature != kSignatureKH && signature != kSignatureLZH) Fail(MsgNoHeader());
  if (ReadFully(*InputStream, header + 4, 4, MsgShortRead()) != 4) Fail(MsgShortRead());
  const uint32_t size = GetLE32(header + 4);
  if (maxSize && size > *maxSize) Fail(MsgOverLimit());
  return signature == kSignatureKH ? KhDecompress(*InputStream, size, *OutputStream)
                                   : LzhDecompress(*InputStream, size, *OutputStream);
}

std::string CompressBytes(uint8_t mode, std::string_view data) {
  TBytesStream in(data);
  TMemoryStream out;
  // KH never grows a block by more than its length field and flag byte.
  out.Reserve(TCompressor::kHeaderSize + data.size() + (data.size() / kKhBlockSize + 1) * 3 + 16);
  TCompressor compressor;
  compressor.Mode = mode;
  compressor.InputStream = &in;
  compressor.OutputStream = &out;
  compressor.Compress();
  return out.TakeData();
}

std::string DecompressBytes(std::string_view compressed, std::optional<uint64_t> maxSize) {
  TBytesStream in(compressed);
  TMemoryStream out;
  if (compressed.size() >= TCompressor::kHeaderSize) {
    // Room for the announced size, but never more than the input could plausibly expand
    // to, so a forged size cannot make us allocate much.
    const uint64_t announced = GetLE32(reinterpret_cast<const uint8_t*>(compressed.data()) + 4);
    const uint64_t plausible = static_cast<uint64_t>(compressed.size()) * 64 + 65536;
    uint64_t room = std::min(announced, plausible);
    if (maxSize) room = std::min(room, *maxSize);
    out.Reserve(static_cast<size_t>(room));
  }
  TCompressor compressor;
  compressor.InputStream = &in;
  compressor.OutputStream = &out;
  compressor.Decompress(maxSize);
  return out.TakeData();
}

}  // namespace vg
