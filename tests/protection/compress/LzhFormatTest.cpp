// LZH streams: vectors worked out from the tree's start state and the bit packing, the
// position code, and codes longer than 16 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Helpers.h"
#include "protection/ComprLZH.h"

using namespace comprtest;
namespace lzh = vg::lzh;

namespace {

TEST(LzhFormat, HandDerivedStreams) {
  // In the start tree the leaf of 'A' (65) lies at depth 9 with code 111001101; padded: E6 80.
  EXPECT_EQ(vg::CompressBytes(2, "A"), LzhHeader(1) + Hex("E6 80"));
  // Empty input still codes the never-filled byte after the spaces, which is 0: code 110001100.
  EXPECT_EQ(vg::CompressBytes(2, ""), LzhHeader(0) + Hex("C6 00"));
  EXPECT_EQ(vg::DecompressBytes(LzhHeader(0) + Hex("C6 00")), "");
  std::string abc;
  for (int i = 0; i < 41; ++i) abc += "abc";
  const std::string packed = vg::CompressBytes(2, abc);
  EXPECT_EQ(packed, LzhHeader(123) + Hex("F6 FB BD FE D0 16 10 08"));
  EXPECT_EQ(vg::DecompressBytes(packed), abc);
}

TEST(LzhFormat, PositionCodeTables) {
  const lzh::PositionTables& t = lzh::Positions();
  const uint8_t firstCodes[] = {0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60};
  for (size_t i = 0; i < sizeof firstCodes; ++i) EXPECT_EQ(t.p_code[i], firstCodes[i]) << i;
  EXPECT_EQ(t.p_code[63], 0xFF);
  int perLength[9] = {};
  for (int i = 0; i < 64; ++i) ++perLength[t.p_len[i]];
  EXPECT_EQ(std::vector<int>(perLength + 3, perLength + 9), (std::vector<int>{1, 3, 8, 12, 24, 16}));
  for (int b = 0; b < 256; ++b) {
    const int i = t.d_code[b];
    EXPECT_LE(t.p_code[i], b);
    EXPECT_LT(b, t.p_code[i] + (1 << (8 - t.p_len[i])));
    EXPECT_EQ(t.d_len[b], t.p_len[i]);
  }
}

// Writes symbols as the encoder's back end does, behind a header announcing size bytes.
class StreamBuilder {
 public:
  explicit StreamBuilder(uint32_t size) : buffer_(lzh::kIoBufferSize), writer_(out_, buffer_.data()) {
    header_ = LzhHeader(size);
  }
  lzh::SymbolWriter& Writer() { return writer_; }
  std::string Finish() {
    writer_.Finish();
    return header_ + out_.Data();
  }

 private:
  vg::TMemoryStream out_;
  std::vector<uint8_t> buffer_;
  lzh::SymbolWriter writer_;
  std::string header_;
};

TEST(LzhFormat, EveryPositionDecodes) {
  // 4096 literals, then a 3-byte match at each position: checked against a plain model of
  // the history (60 never-filled zero bytes, then 4036 spaces, then the output).
  const std::string literals = RandomBytes(4096, 4);
  std::string model = std::string(60, '\0') + std::string(4036, ' ') + literals;
  StreamBuilder stream(4096 + 4096 * 3);
  for (char c : literals) stream.Writer().Literal(static_cast<uint8_t>(c));
  for (int p = 0; p < 4096; ++p) {
    stream.Writer().Match(3, p);
    for (int k = 0; k < 3; ++k) model.push_back(model[model.size() - static_cast<size_t>(p) - 1]);
  }
  EXPECT_EQ(vg::DecompressBytes(stream.Finish()), model.substr(4096));
}

TEST(LzhFormat, MatchesReachIntoTheStartHistory) {
  // Before any output the history holds spaces, and further back the zero bytes.
  StreamBuilder stream(8);
  stream.Writer().Match(4, 0);     // four spaces
  stream.Writer().Match(4, 4095);  // from 4096 back: the zero bytes
  EXPECT_EQ(vg::DecompressBytes(stream.Finish()), std::string(4, ' ') + std::string(4, '\0'));
}

TEST(LzhFormat, CodesLongerThanSixteenBits) {
  // Literals drawn with counts falling like Fibonacci numbers drive the adaptive tree deep;
  // the deepest leaves are the rare symbols, so now and then one of those comes too.
  std::mt19937 rng(3);
  std::vector<double> weights;
  for (int k = 0; k < 9; ++k) weights.push_back(std::pow((1 + std::sqrt(5.0)) / 2, -k));
  std::discrete_distribution<int> pick(weights.begin(), weights.end());
  std::string text;
  lzh::HuffmanTree shadow;
  shadow.Start();
  int longest = 0;
  for (int i = 0; i < 200000; ++i)
    text.push_back(static_cast<char>(rng() % 500 == 0 ? 128 + rng() % 128 : 'a' + pick(rng)));
  StreamBuilder stream(static_cast<uint32_t>(text.size()));
  for (char c : text) {
    uint64_t code;
    longest = std::max(longest, shadow.Code(static_cast<uint8_t>(c), code));
    shadow.Update(static_cast<uint8_t>(c));
    stream.Writer().Literal(static_cast<uint8_t>(c));
  }
  ASSERT_GT(longest, 16);
  EXPECT_EQ(vg::DecompressBytes(stream.Finish()), text);
}

TEST(LzhFormat, DecoderTableFollowsTheTree) {
  // The decoder's table of short codes must agree with the tree after every symbol,
  // rebuilds included: decode a long stream of literals whose statistics keep shifting.
  std::mt19937 rng(8);
  std::string text;
  for (int phase = 0; phase < 40; ++phase) {
    const int spread = 1 + static_cast<int>(rng() % 200);
    for (int i = 0; i < 5000; ++i) text.push_back(static_cast<char>((rng() % spread) * 7));
  }
  StreamBuilder stream(static_cast<uint32_t>(text.size()));
  for (char c : text) stream.Writer().Literal(static_cast<uint8_t>(c));
  EXPECT_EQ(vg::DecompressBytes(stream.Finish()), text);
}

}  // namespace
