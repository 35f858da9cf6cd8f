// KH: LZ77 on independent 32 KiB blocks with a one-entry hash table, plus run items.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "protection/ComprIO.h"

namespace vg::compr {
namespace {

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Index of the first byte that differs between two little-endian words that are not equal.
inline size_t FirstDifference(uint64_t x) { return static_cast<size_t>(__builtin_ctzll(x)) >> 3; }

// How many of the first limit bytes of a and b agree.
inline size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t i = 0;
  while (i + 8 <= limit) {
    const uint64_t x = Load64(a + i) ^ Load64(b + i);
    if (x) return i + FirstDifference(x);
    i += 8;
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

// How many of the first limit bytes of p equal the byte value.
inline size_t RunLength(const uint8_t* p, uint8_t value, size_t limit) {
  const uint64_t pattern = 0x0101010101010101ull * value;
  size_t i = 0;
  while (i + 8 <= limit) {
    const uint64_t x = Load64(p + i) ^ pattern;
    if (x) return i + FirstDifference(x);
    i += 8;
  }
  while (i < limit && p[i] == value) ++i;
  return i;
}

constexpr size_t kMaxRun = 4095;
constexpr size_t kMinRun = 16;
constexpr size_t kMaxCopy = 18;
constexpr size_t kMinCopy = 3;
constexpr size_t kMaxDistance = 4095;
// Room past the end of the decoded block for copies done eight bytes at a time.
constexpr size_t kCopySlack = 8;
static_assert(kKhBlockSize + kMaxCopy + kCopySlack <= kKhBufferSize + 16);

}  // namespace

size_t KhCompressBlock(const uint8_t* in, size_t n, uint8_t* out, int16_t* hash) {
  std::fill_n(hash, kKhHashSize, int16_t{-1});
  out[0] = 0x40;
  size_t slot = 1;  // where the current group's control word goes
  size_t y = 3;
  size_t x = 0;
  uint32_t control = 0;
  int items = 0;
  while (x < n && y <= n) {
    if (items > 15) {
      out[slot] = static_cast<uint8_t>(control >> 8);
      out[slot + 1] = static_cast<uint8_t>(control);
      slot = y;
      y += 2;
      items = 0;
    }
    const uint8_t b = in[x];
    size_t run = 1;
    if (x + 1 < n && in[x + 1] == b) run = 1 + RunLength(in + x + 1, b, std::min(kMaxRun, n - x) - 1);
    if (run >= kMinRun) {
      const size_t v = run - kMinRun;
      out[y] = 0;
      out[y + 1] = static_cast<uint8_t>(v >> 8);
      out[y + 2] = static_cast<uint8_t>(v);
      out[y + 3] = b;
      y += 4;
      x += run;
      control = control * 2 + 1;
    } else {
      const uint32_t h =
          ((40543u * ((((static_cast<uint32_t>(in[x]) << 4) ^ in[x + 1]) << 4) ^ in[x + 2])) >> 4) & 0xFFF;
      const int p = hash[h];
      hash[h] = static_cast<int16_t>(x);
      size_t len = 0;
      if (p != -1 && x - static_cast<size_t>(p) <= kMaxDistance)
        len = CommonLength(in + x, in + p, std::min(kMaxCopy, n - x));
      if (len >= kMinCopy) {
        const size_t v = ((x - static_cast<size_t>(p)) << 4) + (len - kMinCopy);
        out[y] = static_cast<uint8_t>(v >> 8);
        out[y + 1] = static_cast<uint8_t>(v);
        y += 2;
        x += len;
        control = control * 2 + 1;
      } else {
        out[y++] = in[x++];
        control = control * 2;
      }
    }
    ++items;
  }
  control <<= 16 - items;
  out[slot] = static_cast<uint8_t>(control >> 8);
  out[slot + 1] = static_cast<uint8_t>(control);
  if (y > n) {
    out[0] = 0x80;
    std::memcpy(out + 1, in, n);
    return n + 1;
  }
  return y;
}

size_t KhDecompressBlock(const uint8_t* in, size_t length, uint8_t* out) {
  if (length > kKhMaxBlockLength) Fail(MsgBlockLength());
  if (length < 2) return 0;
  if (in[0] == 0x80) {
    std::memcpy(out, in + 1, length - 1);
    return length - 1;
  }
  if (length < 3) Fail(MsgBlockData());
  uint32_t control = (in[1] << 8) | in[2];
  int bits = 16;
  size_t x = 3;
  size_t o = 0;
  while (x < length) {
    if (bits == 0) {
      if (x + 2 > length) Fail(MsgBlockData());
      control = (in[x] << 8) | in[x + 1];
      x += 2;
      bits = 16;
      // The group's items, if they fit in the block: only the output needs checking per item.
      if (x + 16 * 4 <= length && o + 16 * kMaxCopy <= kKhBlockSize) {
        // No run may overflow either, so runs keep their own check below.
        bool ok = true;
        for (; bits > 0 && ok; --bits, control <<= 1) {
          if (control & 0x8000) {
            const size_t d = (in[x] << 4) | (in[x + 1] >> 4);
            if (d) {
              if (d > o) Fail(MsgBlockData());
              const size_t len = (in[x + 1] & 15) + kMinCopy;
              uint8_t* dst = out + o;
              const uint8_t* src = dst - d;
              if (d >= 8) {
                Store64(dst, Load64(src));
                Store64(dst + 8, Load64(src + 8));
                Store64(dst + 16, Load64(src + 16));
              } else {
                for (size_t k = 0; k < len; ++k) dst[k] = src[k];
              }
              o += len;
              x += 2;
            } else {
              const size_t count = (in[x + 1] << 8) + in[x + 2] + kMinRun;
              if (o + count > kKhBlockSize) Fail(MsgBlockData());
              std::memset(out + o, in[x + 3], count);
              o += count;
              x += 4;
              // After a run the fast path's output bound may no longer hold.
              ok = o + 16 * kMaxCopy <= kKhBlockSize;
            }
          } else {
            out[o++] = in[x++];
          }
        }
        if (bits == 0 || x >= length) continue;
      }
    }
    if (control & 0x8000) {
      if (x + 2 > length) Fail(MsgBlockData());
      const size_t d = (in[x] << 4) | (in[x + 1] >> 4);
      if (d) {
        const size_t len = (in[x + 1] & 15) + kMinCopy;
        if (d > o || o + len > kKhBlockSize) Fail(MsgBlockData());
        for (size_t k = 0; k < len; ++k) out[o + k] = out[o - d + k];
        o += len;
        x += 2;
      } else {
        if (x + 4 > length) Fail(MsgBlockData());
        const size_t count = (in[x + 1] << 8) + in[x + 2] + kMinRun;
        if (o + count > kKhBlockSize) Fail(MsgBlockData());
        std::memset(out + o, in[x + 3], count);
        o += count;
        x += 4;
      }
    } else {
      if (o >= kKhBlockSize) Fail(MsgBlockData());
      out[o++] = in[x++];
    }
    control <<= 1;
    --bits;
  }
  return o;
}

uint64_t KhCompress(TStream& in, uint32_t size, TStream& out) {
  std::unique_ptr<uint8_t[]> inBuf, outBuf;
  try {
    inBuf.reset(new uint8_t[kKhBufferSize]);
    outBuf.reset(new uint8_t[kKhBufferSize + 2]);
  } catch (const std::bad_alloc&) {
    Fail(MsgNoBuffers());
  }
  std::unique_ptr<int16_t[]> hash;
  try {
    hash.reset(new int16_t[kKhHashSize]);
  } catch (const std::bad_alloc&) {
    Fail(MsgNoHashTable());
  }
  uint64_t written = 0;
  uint64_t remaining = size;
  size_t got;
  do {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kKhBlockSize, remaining));
    got = ReadFully(in, inBuf.get(), want, MsgReadKH());
    if (got < want) Fail(MsgReadKH());  // the stream ended before its reported size
    remaining -= got;
    inBuf[got] = inBuf[got + 1] = 0;
    // The length goes in front of the block data so that both leave in one write.
    const size_t length = KhCompressBlock(inBuf.get(), got, outBuf.get() + 2, hash.get());
    PutLE16(outBuf.get(), static_cast<uint32_t>(length));
    WriteAll(out, outBuf.get(), length + 2);
    written += length + 2;
  } while (got == kKhBlockSize);
  return written;
}

uint64_t KhDecompress(TStream& in, uint32_t size, TStream& out) {
  std::unique_ptr<uint8_t[]> inBuf, outBuf;
  try {
    inBuf.reset(new uint8_t[kKhBufferSize]);
    outBuf.reset(new uint8_t[kKhBufferSize]);
  } catch (const std::bad_alloc&) {
    Fail(MsgNoBuffers());
  }
  uint64_t total = 0;
  size_t n;
  do {
    uint8_t lengthBytes[2];
    if (ReadFully(in, lengthBytes, 2, MsgShortRead()) != 2) Fail(MsgShortRead());
    const size_t length = lengthBytes[0] | (lengthBytes[1] << 8);
    if (length > kKhMaxBlockLength) Fail(MsgBlockLength());
    if (ReadFully(in, inBuf.get(), length, MsgShortRead()) != length) Fail(MsgShortRead());
    n = KhDecompressBlock(inBuf.get(), length, outBuf.get());
    // More output than announced can never end well; stop before writing it.
    if (total + n > size) Fail(MsgSizeKH());
    WriteAll(out, outBuf.get(), n);
    total += n;
  } while (n == kKhBlockSize);
  if (total != size) Fail(MsgSizeKH());
  return total;
}

}  // namespace vg::compr
