#pragma once
// LZH internals: the adaptive Huffman tree and the position code, shared by the encoder and
// the decoder (and reachable from tests).
#include <cstddef>
#include <cstdint>

#include "protection/Streams.h"

namespace vg::lzh {

constexpr int N = 4096;          // ring buffer
constexpr int F = 60;            // longest match
constexpr int THRESHOLD = 2;     // matches this short go out as literals
constexpr int N_CHAR = 256 - THRESHOLD + F;  // literals 0..255, then lengths 3..60
constexpr int T = 2 * N_CHAR - 1;            // tree nodes
constexpr int R = T - 1;                     // root
constexpr int MAX_FREQ = 0x8000;
constexpr int NIL = N;

// Nodes are kept in order of frequency; son[c] >= T marks a leaf (symbol son[c] - T),
// otherwise the node's children are son[c] and son[c] + 1.
class HuffmanTree {
 public:
  // A decoder's tree also keeps the lookup table of its short codes (see Lookup).
  void Start(bool decoding = false);
  // Counts one occurrence of the symbol and restores the order.
  void Update(int symbol);
  // The code of a symbol, root first, left-aligned in 64 bits; returns its length.
  int Code(int symbol, uint64_t& code) const {
    uint64_t c = 0;
    int length = 0;
    int k = prnt[symbol + T];
    do {
      c = (c >> 1) | (static_cast<uint64_t>(k & 1) << 63);
      ++length;
      k = prnt[k];
    } while (k != R);
    code = c;
    return length;
  }
  uint16_t Son(int node) const { return son[node]; }

  // Decoding table for the next kLookupBits bits of input: kLookupLeaf | length << 9 | symbol
  // for a code of at most kLookupBits bits, otherwise the node reached after kLookupBits bits.
  static constexpr int kLookupBits = 8;
  static constexpr uint16_t kLookupLeaf = 0x8000;
  uint16_t Lookup(unsigned bits) const { return lookup[bits]; }

 private:
  void Rebuild();
  void Swap(int& c, uint16_t k);
  void FillLookup(int node, int depth, unsigned prefix);
  void RefreshLookup(int node);

  uint16_t freq[T + 1];
  uint16_t prnt[T + N_CHAR];
  uint16_t son[T];
  bool decoding_ = false;
  uint16_t lookup[1 << kLookupBits];
};

// The position code: the upper 6 bits of a 12-bit position take 3 to 8 bits.
struct PositionTables {
  uint8_t p_len[64];
  uint8_t p_code[64];
  uint8_t d_code[256];
  uint8_t d_len[256];
};
const PositionTables& Positions();


constexpr size_t kIoBufferSize = 32768;

// Bits most significant first into a buffer of kIoBufferSize bytes that goes to the stream
// whenever it is full.
class BitWriter {
 public:
  BitWriter(TStream& stream, uint8_t* buffer) : stream_(stream), buffer_(buffer), cur_(buffer) {}

  // Appends the low count bits of value (count ≤ 32).
  void Put(uint32_t value, int count) {
    acc_ = (acc_ << count) | value;
    bits_ += count;
    if (bits_ >= 32) {
      bits_ -= 32;
      const uint32_t word = static_cast<uint32_t>(acc_ >> bits_);
      if (cur_ + 4 > buffer_ + kIoBufferSize) Flush();
      cur_[0] = static_cast<uint8_t>(word >> 24);
      cur_[1] = static_cast<uint8_t>(word >> 16);
      cur_[2] = static_cast<uint8_t>(word >> 8);
      cur_[3] = static_cast<uint8_t>(word);
      cur_ += 4;
    }
  }
  // A left-aligned code of any length: adaptive codes may well exceed 16 bits.
  void PutCode(uint64_t code, int length) {
    while (length > 32) {
      Put(static_cast<uint32_t>(code >> 32), 32);
      code <<= 32;
      length -= 32;
    }
    Put(static_cast<uint32_t>(code >> (64 - length)), length);
  }
  // Pads the last byte with zero bits and writes everything out.
  void Finish();
  uint64_t Written() const { return written_ + static_cast<uint64_t>(cur_ - buffer_); }

 private:
  void PutByte(uint8_t b) {
    if (cur_ == buffer_ + kIoBufferSize) Flush();
    *cur_++ = b;
  }
  void Flush();

  TStream& stream_;
  uint8_t* buffer_;
  uint8_t* cur_;
  uint64_t acc_ = 0;
  int bits_ = 0;
  uint64_t written_ = 0;
};

// The encoder's back end: literals and matches to bits.
class SymbolWriter {
 public:
  SymbolWriter(TStream& stream, uint8_t* buffer) : bits_(stream, buffer) { tree_.Start(); }

  void Literal(uint8_t c) { Symbol(c); }
  // length 3..60; position 0..4095 is the distance back minus one.
  void Match(int length, int position) {
    Symbol(255 - THRESHOLD + length);
    const PositionTables& t = Positions();
    const int i = position >> 6;
    const int len = t.p_len[i];
    bits_.Put((static_cast<uint32_t>(t.p_code[i] >> (8 - len)) << 6) | static_cast<uint32_t>(position & 63), len + 6);
  }
  // Returns the number of bytes written.
  uint64_t Finish() {
    bits_.Finish();
    return bits_.Written();
  }

 private:
  void Symbol(int c) {
    uint64_t code;
    const int length = tree_.Code(c, code);
    bits_.PutCode(code, length);
    tree_.Update(c);
  }

  BitWriter bits_;
  HuffmanTree tree_;
};

}  // namespace vg::lzh
