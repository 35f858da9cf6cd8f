// KH: LZ77 on independent 32 KiB blocks with a one-entry hash table, plus run items.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "protection/ComprIO.h"

namespace vg::compr {
namespace {

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Index of the first byte that differs between two little-endian words that are not equal.
inline size_t FirstDifference(uint64_t x) { return static_cast<size_t>(std::countr_zero(x)) >> 3; }

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

// Hashes of the three bytes at positions x.. of in (n bytes), as many as the window holds or
// the block has left; returns where they end. They are computed ahead of the compressor so
// that their latency stays out of its loop; rare, so kept out of line.
__attribute__((noinline)) size_t HashesAhead(const uint8_t* in, size_t n, size_t x, uint16_t* window) {
  const size_t end = std::min(n, x + kKhHashWindow);
  const uint8_t* p = in + x;
  const size_t count = end - x;
  size_t i = 0;
#if defined(__SSE2__)
  // Only the low 16 bits of the product reach the 12 bits kept, so 16-bit lanes suffice.
  const __m128i mul = _mm_set1_epi16(static_cast<short>(40543));
  const __m128i zero = _mm_setzero_si128();
  for (; i < count; i += 8) {
    const __m128i b0 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i)), zero);
    const __m128i b1 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i + 1)), zero);
    const __m128i b2 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i + 2)), zero);
    const __m128i t = _mm_xor_si128(_mm_xor_si128(_mm_slli_epi16(b0, 8), _mm_slli_epi16(b1, 4)), b2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(window + i), _mm_srli_epi16(_mm_mullo_epi16(t, mul), 4));
  }
#endif
  for (; i < count; ++i)
    window[i] = static_cast<uint16_t>(
        ((40543u * ((static_cast<uint32_t>(p[i]) << 8) ^ (static_cast<uint32_t>(p[i + 1]) << 4) ^ p[i + 2])) >> 4) &
        0xFFF);
  return end;
}

// An empty table entry: as a position it lies "after" every position of a block, so the
// distance to it is never in reach.
constexpr uint16_t kEmpty = 0xF000;
static_assert(kEmpty > kKhBlockSize);

// A group takes at most 16 items of at most 18 bytes unless it holds a run.
constexpr size_t kGroupReach = 16 * kMaxCopy;
static_assert(kGroupReach < kKhHashWindow);

size_t KhCompressBlock(const uint8_t* in, size_t n, uint8_t* out, uint16_t* hash) {
  std::fill_n(hash, kKhHashSize, kEmpty);
  uint16_t* const window = hash + kKhHashSize;
  size_t windowStart = 0;
  size_t windowEnd = 0;
  out[0] = 0x40;
  const uint8_t* ip = in;
  const uint8_t* const end = in + n;
  // Compressing stops as soon as the output is longer than the input: then it is stored.
  const uint8_t* const limit = out + n;
  uint8_t* slot = out + 1;  // the current group's control word
  uint8_t* op = out + 3;
  uint32_t control;
  int items;
  // One group's items; unless checked, the whole group fits below the output limit.
  auto group = [&](auto checked) {
    for (items = 0; items < 16; ++items) {
      if (ip >= end || (checked && op > limit)) return;
      const uint64_t head = Load64(ip);  // the bytes past the block read as slack
      const uint8_t b = static_cast<uint8_t>(head);
      const size_t left = static_cast<size_t>(end - ip);
      // Only runs of at least kMinRun matter; shorter ones are looked at as matches.
      if (static_cast<uint8_t>(head >> 8) == b && left >= kMinRun && head == 0x0101010101010101ull * b &&
          Load64(ip + 8) == head) {
        const size_t run = kMinRun + RunLength(ip + kMinRun, b, std::min(kMaxRun, left) - kMinRun);
        const size_t v = run - kMinRun;
        op[0] = 0;
        op[1] = static_cast<uint8_t>(v >> 8);
        op[2] = static_cast<uint8_t>(v);
        op[3] = b;
        op += 4;
        ip += run;
        control = control * 2 + 1;
        const size_t x = static_cast<size_t>(ip - in);
        if (x + kGroupReach > windowEnd && x < n) {
          windowStart = x;
          windowEnd = HashesAhead(in, n, x, window);
        }
        continue;
      }
      const uint32_t w = static_cast<uint32_t>(head);
      const size_t x = static_cast<size_t>(ip - in);
      const uint32_t h = window[x - windowStart];
      const size_t distance = x - hash[h];  // huge for an empty entry
      hash[h] = static_cast<uint16_t>(x);
      // One branch for the whole test: a candidate out of reach is compared with itself.
      const bool near = distance <= kMaxDistance;
      const size_t back = near ? distance : 0;
      if ((((Load32(ip - back) ^ w) & 0xFFFFFF) == 0) & near & (left >= kMinCopy)) {
        const uint8_t* src = ip - distance;
        size_t len;
        if (left >= kMaxCopy) {
          // Bytes 3..10, then 10..17: two words cover the longest copy.
          const uint64_t x1 = Load64(ip + 3) ^ Load64(src + 3);
          if (x1) {
            len = 3 + FirstDifference(x1);
          } else {
            const uint64_t x2 = Load64(ip + 10) ^ Load64(src + 10);
            len = x2 ? 10 + FirstDifference(x2) : kMaxCopy;
          }
        } else {
          len = kMinCopy + CommonLength(ip + kMinCopy, src + kMinCopy, left - kMinCopy);
        }
        const size_t v = (distance << 4) + (len - kMinCopy);
        op[0] = static_cast<uint8_t>(v >> 8);
        op[1] = static_cast<uint8_t>(v);
        op += 2;
        ip += len;
        control = control * 2 + 1;
        continue;
      }
      *op++ = *ip++;
      control = control * 2;
    }
  };
  for (;;) {
    control = 0;
    const size_t x = static_cast<size_t>(ip - in);
    if (x + kGroupReach > windowEnd && x < n) {
      windowStart = x;
      windowEnd = HashesAhead(in, n, x, window);
    }
    if (op + 16 * 4 <= limit)
      group(std::false_type{});
    else
      group(std::true_type{});
    // A new group only when another item follows.
    if (items < 16 || ip >= end || op > limit) break;
    slot[0] = static_cast<uint8_t>(control >> 8);
    slot[1] = static_cast<uint8_t>(control);
    slot = op;
    op += 2;
  }
  control <<= 16 - items;
  slot[0] = static_cast<uint8_t>(control >> 8);
  slot[1] = static_cast<uint8_t>(control);
  const size_t y = static_cast<size_t>(op - out);
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
  std::unique_ptr<uint16_t[]> hash;
  try {
    hash.reset(new uint16_t[kKhHashSize + kKhHashWindow + 8]);
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
    // Reads run at most a word past the block's end; only those slack bytes need defined values.
    std::memset(inBuf.get() + got, 0, kKhBufferSize - kKhBlockSize);
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
