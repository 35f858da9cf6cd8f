// LZH: LZ77 over a 4 KiB ring buffer with binary search trees as the match finder, the
// symbols coded with an adaptive Huffman tree and positions with a fixed prefix code.
#include "protection/ComprLZH.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "platform/Bits.h"
#include "protection/ComprIO.h"

namespace vg::lzh {

// Sets the entries of the codes that pass through the node at the given depth, whose code
// so far is prefix.
void HuffmanTree::FillLookup(int node, int depth, unsigned prefix) {
  const int c = son[node];
  const unsigned first = prefix << (kLookupBits - depth);
  if (c >= T) {
    const auto entry = static_cast<uint16_t>(kLookupLeaf | depth << 9 | (c - T));
    std::fill_n(lookup + first, 1u << (kLookupBits - depth), entry);
  } else if (depth == kLookupBits) {
    lookup[first] = static_cast<uint16_t>(node);
  } else {
    FillLookup(c, depth + 1, prefix << 1);
    FillLookup(c + 1, depth + 1, prefix << 1 | 1);
  }
}

// After the subtree at the given node position changed.
void HuffmanTree::RefreshLookup(int node) {
  unsigned prefix = 0;
  int depth = 0;
  for (int k = node; k != R; k = prnt[k]) {
    prefix |= static_cast<unsigned>(k & 1) << depth;  // children come in pairs from an even index
    if (++depth > kLookupBits) return;
  }
  FillLookup(node, depth, prefix);
}

void HuffmanTree::Start(bool decoding) {
  decoding_ = decoding;
  for (int i = 0; i < N_CHAR; ++i) {
    freq[i] = 1;
    son[i] = static_cast<uint16_t>(i + T);
    prnt[i + T] = static_cast<uint16_t>(i);
  }
  for (int i = 0, j = N_CHAR; j <= R; i += 2, ++j) {
    freq[j] = static_cast<uint16_t>(freq[i] + freq[i + 1]);
    son[j] = static_cast<uint16_t>(i);
    prnt[i] = prnt[i + 1] = static_cast<uint16_t>(j);
  }
  freq[T] = 0xFFFF;
  prnt[R] = 0;
  if (decoding_) {
    FillLookup(son[R], 1, 0);
    FillLookup(son[R] + 1, 1, 1);
  }
}

void HuffmanTree::Rebuild() {
  // Leaves to the front, counts halved.
  int j = 0;
  for (int i = 0; i < T; ++i) {
    if (son[i] >= T) {
      freq[j] = static_cast<uint16_t>((freq[i] + 1) / 2);
      son[j] = son[i];
      ++j;
    }
  }
  // Pair them up again, each new node inserted where its count keeps the order.
  for (int i = 0, j = N_CHAR; j < T; i += 2, ++j) {
    const uint16_t f = static_cast<uint16_t>(freq[i] + freq[i + 1]);
    int k = j - 1;
    while (f < freq[k]) --k;
    ++k;
    std::memmove(&freq[k + 1], &freq[k], sizeof freq[0] * static_cast<size_t>(j - k));
    freq[k] = f;
    std::memmove(&son[k + 1], &son[k], sizeof son[0] * static_cast<size_t>(j - k));
    son[k] = static_cast<uint16_t>(i);
  }
  for (int i = 0; i < T; ++i) {
    const int k = son[i];
    prnt[k] = static_cast<uint16_t>(i);
    if (k < T) prnt[k + 1] = static_cast<uint16_t>(i);
  }
  if (decoding_) {
    FillLookup(son[R], 1, 0);
    FillLookup(son[R] + 1, 1, 1);
  }
}

// c was just counted and is heavier than its right neighbour: it moves behind the last node
// of its old count (the counts are sorted), trading places with that node.
void HuffmanTree::Swap(int& c, uint16_t k) {
  int l = c + 1;
  while (k > freq[l + 1]) ++l;
  freq[c] = freq[l];
  freq[l] = k;
  const int i = son[c];
  prnt[i] = static_cast<uint16_t>(l);
  if (i < T) prnt[i + 1] = static_cast<uint16_t>(l);
  const int j = son[l];
  son[l] = static_cast<uint16_t>(i);
  prnt[j] = static_cast<uint16_t>(c);
  if (j < T) prnt[j + 1] = static_cast<uint16_t>(c);
  son[c] = static_cast<uint16_t>(j);
  if (decoding_) {
    // The subtrees at c and l traded places; neither lies inside the other.
    RefreshLookup(c);
    RefreshLookup(l);
  }
  c = l;
}

void HuffmanTree::Update(int symbol) {
  if (freq[R] == MAX_FREQ) Rebuild();
  int c = prnt[symbol + T];
  do {
    const uint16_t k = ++freq[c];
    if (k > freq[c + 1]) Swap(c, k);
    c = prnt[c];
  } while (c != 0);
}

namespace {
PositionTables MakePositions() {
  PositionTables t{};
  // Entry counts per code length 3..8.
  const int counts[] = {1, 3, 8, 12, 24, 16};
  int e = 0;
  for (int len = 3; len <= 8; ++len)
    for (int k = 0; k < counts[len - 3]; ++k) t.p_len[e++] = static_cast<uint8_t>(len);
  int code = 0;
  for (int i = 0; i < 64; ++i) {
    t.p_code[i] = static_cast<uint8_t>(code);
    const int span = 1 << (8 - t.p_len[i]);
    for (int b = code; b < code + span; ++b) {
      t.d_code[b] = static_cast<uint8_t>(i);
      t.d_len[b] = t.p_len[i];
    }
    code += span;
  }
  return t;
}
}  // namespace

const PositionTables& Positions() {
  static const PositionTables tables = MakePositions();
  return tables;
}

void BitWriter::Finish() {
  while (bits_ >= 8) {
    bits_ -= 8;
    PutByte(static_cast<uint8_t>(acc_ >> bits_));
  }
  if (bits_ > 0) PutByte(static_cast<uint8_t>(acc_ << (8 - bits_)));
  bits_ = 0;
  Flush();
}

void BitWriter::Flush() {
  const size_t n = static_cast<size_t>(cur_ - buffer_);
  compr::WriteAll(stream_, buffer_, n);
  written_ += n;
  cur_ = buffer_;
}

}  // namespace vg::lzh

namespace vg::compr {
namespace {
using namespace vg::lzh;

// Input bytes through a buffer, limited to the size the header announces.
class ByteSource {
 public:
  ByteSource(TStream& stream, uint8_t* buffer, uint64_t limit) : stream_(stream), buffer_(buffer), left_(limit) {}

  bool Get(uint8_t& c) {
    if (cur_ == end_ && !Fill()) return false;
    c = *cur_++;
    return true;
  }

 private:
  bool Fill() {
    if (left_ == 0) return false;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kIoBufferSize, left_));
    const size_t got = ReadFully(stream_, buffer_, want, MsgReadLZH());
    if (got == 0) Fail(MsgReadLZH());  // the stream ended before its reported size
    left_ -= got;
    cur_ = buffer_;
    end_ = buffer_ + got;
    return true;
  }

  TStream& stream_;
  uint8_t* buffer_;
  const uint8_t* cur_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t left_;
};

class Encoder {
 public:
  Encoder(TStream& out, uint8_t* buffer) : writer(out, buffer) {}
  uint64_t Run(ByteSource& in);

 private:
  void InitTree() {
    // Every link a walk may read names a node of the array, NIL included.
    for (int i = N; i <= N + 256; ++i) lson(i) = rson(i) = NIL;
    for (int i = 0; i < N; ++i) dad[i] = NIL;
    dad[N] = NIL;
  }
  uint16_t& lson(int p) { return node[p].son[0]; }
  uint16_t& rson(int p) { return node[p].son[1]; }
  void InsertNode(int r);
  void DeleteNode(int p);
  // Bytes never filled stay 0; the eight bytes of slack let comparisons read whole words.
  uint8_t text[N + F - 1 + 8] = {};
  // A tree node: its string's bytes 1..4 as a big-endian number (a string does not change
  // while it is in the tree) and its left and right children, read together in one load.
  struct Node {
    uint32_t word;
    uint16_t son[2];
  };
  static_assert(sizeof(Node) == 8);
  Node node[N + 257];
  uint16_t dad[N + 1];
  int matchPosition = 0;
  int matchLength = 0;
  SymbolWriter writer;
};

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline uint64_t LoadBE64(const uint8_t* p) { return platform::ByteSwap64(Load64(p)); }

inline uint32_t LoadBE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return platform::ByteSwap32(v);
}

void Encoder::InsertNode(int r) {
  const uint8_t* key = &text[r];
  // Comparing big-endian numbers compares the strings they were read from.
  const uint32_t keyWord = LoadBE32(key + 1);
  const uint64_t keyNext = LoadBE64(key + 5);
  node[r].word = keyWord;
  node[r].son[0] = node[r].son[1] = NIL;
  int p = N + 1 + key[0];
  // Starting at THRESHOLD instead of 0 changes nothing: any length up to it means a literal.
  int length = THRESHOLD;
  int position = matchPosition;
  uint32_t right = 1;
  // A record as one number: the word in the low half, the left and right children above it.
  auto record = [this](int n) {
    uint64_t v;
    std::memcpy(&v, &node[n], sizeof v);
    return v;
  };
  uint64_t here = record(p);
  for (;;) {
    // Both children's records are fetched while the comparison that chooses between them is
    // still under way.
    const uint64_t left = record(static_cast<int>((here >> 32) & 0xFFFF));
    const uint64_t rightRecord = record(static_cast<int>(here >> 48));
    const int next = static_cast<int>((here >> (32 + 16 * right)) & 0xFFFF);
    if (next == NIL) {
      node[p].son[right] = static_cast<uint16_t>(r);
      dad[r] = static_cast<uint16_t>(p);
      matchLength = length;
      matchPosition = position;
      return;
    }
    p = next;
    here = right ? rightRecord : left;
    const auto otherWord = static_cast<uint32_t>(here);
    const uint8_t* other = &text[p];
    // Bytes 5..12 are read either way: choosing between the two comparisons costs less than
    // the branch would, which goes wrong whenever the first four bytes agree.
    const uint64_t otherNext = LoadBE64(other + 5);
    const bool differ = keyWord != otherWord;
    int i;
    if (differ | (keyNext != otherNext)) {
      const int inWord = 1 + (std::countl_zero((keyWord ^ otherWord) | 1u) >> 3);
      const int inNext = 5 + (std::countl_zero((keyNext ^ otherNext) | 1u) >> 3);
      i = differ ? inWord : inNext;
      right = differ ? keyWord > otherWord : keyNext > otherNext;
    } else {
      i = 13;
      for (;;) {
        const uint64_t x = Load64(key + i) ^ Load64(other + i);
        if (x) {
          i += std::countr_zero(x) >> 3;
          break;
        }
        i += 8;
        if (i >= F) break;
      }
      if (i >= F) {
        i = F;
      } else {
        right = key[i] > other[i];
      }
    }
    // The longest match wins, the nearest one among equally long.
    const int back = ((r - p) & (N - 1)) - 1;
    const bool longer = i > length;
    const bool nearer = i == length && back < position;
    position = (longer || nearer) ? back : position;
    length = longer ? i : length;
    if (length >= F) break;
  }
  matchLength = length;
  matchPosition = position;
  // r takes the place of p, whose string it equals over the whole look-ahead.
  dad[r] = dad[p];
  lson(r) = lson(p);
  rson(r) = rson(p);
  dad[lson(p)] = static_cast<uint16_t>(r);
  dad[rson(p)] = static_cast<uint16_t>(r);
  if (rson(dad[p]) == p)
    rson(dad[p]) = static_cast<uint16_t>(r);
  else
    lson(dad[p]) = static_cast<uint16_t>(r);
  dad[p] = NIL;
}

void Encoder::DeleteNode(int p) {
  if (dad[p] == NIL) return;
  int q;
  if (rson(p) == NIL) {
    q = lson(p);
  } else if (lson(p) == NIL) {
    q = rson(p);
  } else {
    q = lson(p);
    if (rson(q) != NIL) {
      do q = rson(q);
      while (rson(q) != NIL);
      rson(dad[q]) = lson(q);
      dad[lson(q)] = dad[q];
      lson(q) = lson(p);
      dad[lson(p)] = static_cast<uint16_t>(q);
    }
    rson(q) = rson(p);
    dad[rson(p)] = static_cast<uint16_t>(q);
  }
  dad[q] = dad[p];
  if (rson(dad[p]) == p)
    rson(dad[p]) = static_cast<uint16_t>(q);
  else
    lson(dad[p]) = static_cast<uint16_t>(q);
  dad[p] = NIL;
}

uint64_t Encoder::Run(ByteSource& in) {
  InitTree();
  int s = 0;
  int r = N - F;
  std::memset(text, ' ', static_cast<size_t>(r));
  int len = 0;
  uint8_t c;
  while (len < F && in.Get(c)) text[r + len++] = c;
  for (int i = 1; i <= F; ++i) InsertNode(r - i);
  InsertNode(r);
  do {
    if (matchLength > len) matchLength = len;
    if (matchLength <= THRESHOLD) {
      matchLength = 1;
      writer.Literal(text[r]);
    } else {
      writer.Match(matchLength, matchPosition);
    }
    const int last = matchLength;
    int i = 0;
    for (; i < last && in.Get(c); ++i) {
      DeleteNode(s);
      text[s] = c;
      if (s < F - 1) text[s + N] = c;
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      InsertNode(r);
    }
    for (; i < last; ++i) {
      DeleteNode(s);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      if (--len > 0) InsertNode(r);
    }
  } while (len > 0);
  return writer.Finish();
}

// The bit input's state, kept in locals by the decoding loop. Bits are taken from the top of
// acc; past the end of the input come zero bits, counted in phantom: the decoder checks that
// it never used any of them.
struct BitState {
  uint64_t acc = 0;
  int bits = 0;
  int phantom = 0;
  const uint8_t* cur = nullptr;
  const uint8_t* end = nullptr;

  // Makes at least 57 bits available while eight input bytes are at hand.
  bool RefillFast() {
    if (end - cur < 8) return false;
    uint64_t w;
    std::memcpy(&w, cur, 8);
    // The bits of a byte only partly taken are or-ed in again next time, to the same place.
    acc |= platform::ByteSwap64(w) >> bits;
    const int bytes = (63 - bits) >> 3;
    cur += bytes;
    bits += bytes * 8;
    return true;
  }
  int Bit() {
    const int b = static_cast<int>(acc >> 63);
    acc <<= 1;
    --bits;
    return b;
  }
  // count is 1..32, with that many bits available.
  uint32_t Bits(int count) {
    const uint32_t v = static_cast<uint32_t>(acc >> (64 - count));
    acc <<= count;
    bits -= count;
    return v;
  }
  bool Overrun() const { return bits < phantom; }
};

class BitInput {
 public:
  BitInput(TStream& stream, uint8_t* buffer) : stream_(stream), buffer_(buffer) {}

  // Makes at least 57 bits available, reading the stream as needed.
  BitState Refill(BitState s) {
    while (s.bits <= 56) {
      if (s.cur == s.end && !Fill(s)) {
        // A zero byte past the end; the bits below s.bits are zero already.
        s.bits += 8;
        s.phantom += 8;
        continue;
      }
      s.acc |= static_cast<uint64_t>(*s.cur++) << (56 - s.bits);
      s.bits += 8;
    }
    return s;
  }

 private:
  bool Fill(BitState& s) {
    if (eof_) return false;
    const size_t got = ReadFully(stream_, buffer_, kIoBufferSize, MsgReadLZH());
    if (got < kIoBufferSize) eof_ = true;
    s.cur = buffer_;
    s.end = buffer_ + got;
    return got > 0;
  }

  TStream& stream_;
  uint8_t* buffer_;
  bool eof_ = false;
};

class Decoder {
 public:
  uint64_t Run(BitInput& in, uint64_t size, TStream& out);

 private:
  // The output goes through a window that keeps the last N bytes in front of the bytes
  // not yet written out, so that copies need no ring arithmetic.
  static constexpr size_t kChunk = 32768;
  static constexpr size_t kSlack = 64;
  uint8_t window[N + kChunk + F + kSlack];
  HuffmanTree tree;
};

uint64_t Decoder::Run(BitInput& in, uint64_t size, TStream& out) {
  const PositionTables& t = Positions();
  tree.Start(true);
  // The history before the first byte: the ring's never-filled tail (0), then its spaces.
  std::memset(window, 0, F);
  std::memset(window + F, ' ', N - F);
  size_t o = N;
  uint64_t total = 0;
  BitState s;
  while (total < size) {
    if (s.bits < 32 && !s.RefillFast()) s = in.Refill(s);
    // Codes up to eight bits come from the table, longer ones go on a bit at a time.
    const uint16_t e = tree.Lookup(static_cast<unsigned>(s.acc >> (64 - HuffmanTree::kLookupBits)));
    int c;
    if (e & HuffmanTree::kLookupLeaf) {
      const int length = (e >> 9) & 15;
      s.acc <<= length;
      s.bits -= length;
      c = e & 0x1FF;
    } else {
      s.Bits(HuffmanTree::kLookupBits);
      c = tree.Son(e);
      while (c < T) {
        if (s.bits == 0) s = in.Refill(s);
        c = tree.Son(c + s.Bit());
      }
      c -= T;
    }
    tree.Update(c);
    if (c < 256) {
      if (s.Overrun()) Fail(MsgShortRead());
      window[o++] = static_cast<uint8_t>(c);
      ++total;
    } else {
      if (s.bits < 16 && !s.RefillFast()) s = in.Refill(s);
      uint32_t b = s.Bits(8);
      const int upper = t.d_code[b];
      const int extra = t.d_len[b] - 2;
      b = (b << extra) | s.Bits(extra);
      if (s.Overrun()) Fail(MsgShortRead());
      const size_t distance = static_cast<size_t>((upper << 6) | (b & 63)) + 1;
      const size_t length = static_cast<size_t>(c - 253);
      if (total + length > size) Fail(MsgSizeLZH());
      uint8_t* dst = window + o;
      const uint8_t* src = dst - distance;
      if (distance >= 8) {
        for (size_t k = 0; k < length; k += 8) std::memcpy(dst + k, src + k, 8);
      } else {
        for (size_t k = 0; k < length; ++k) dst[k] = src[k];
      }
      o += length;
      total += length;
    }
    if (o >= N + kChunk) {
      WriteAll(out, window + N, o - N);
      std::memmove(window, window + o - N, N);
      o = N;
    }
  }
  WriteAll(out, window + N, o - N);
  return total;
}

template <class T, class... Args>
std::unique_ptr<T> MakeTables(Args&&... args) {
  try {
    return std::make_unique<T>(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    throw ELZHCompression(MsgNoLzhTables());
  }
}

}  // namespace

uint64_t LzhCompress(TStream& in, uint32_t size, TStream& out) {
  std::unique_ptr<uint8_t[]> inBuf, outBuf;
  try {
    inBuf.reset(new uint8_t[kKhBufferSize]);
    outBuf.reset(new uint8_t[kKhBufferSize]);
  } catch (const std::bad_alloc&) {
    Fail(MsgNoBuffers());
  }
  auto encoder = MakeTables<Encoder>(out, outBuf.get());
  ByteSource source(in, inBuf.get(), size);
  return encoder->Run(source);
}

uint64_t LzhDecompress(TStream& in, uint32_t size, TStream& out) {
  std::unique_ptr<uint8_t[]> inBuf;
  try {
    inBuf.reset(new uint8_t[kKhBufferSize]);
  } catch (const std::bad_alloc&) {
    Fail(MsgNoBuffers());
  }
  auto decoder = MakeTables<Decoder>();
  BitInput input(in, inBuf.get());
  return decoder->Run(input, size, out);
}

}  // namespace vg::compr
