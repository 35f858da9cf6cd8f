// KH streams worked out by hand from the format: header, 2-byte block lengths, the stored form,
// groups with high-byte-first control words, literal, copy and run items.
#include <gtest/gtest.h>

#include "Helpers.h"

using namespace comprtest;

namespace {

// Compresses in mode 1 and checks the exact stream, then that it decodes back.
void ExpectKh(const std::string& input, const std::string& expected) {
  const std::string packed = vg::CompressBytes(1, input);
  EXPECT_EQ(packed, expected);
  EXPECT_EQ(vg::DecompressBytes(packed), input);
}

TEST(KhFormat, StoredBlocks) {
  // Nothing: one block of length 1 holding only the stored flag.
  ExpectKh("", KhHeader(0) + Hex("01 00 80"));
  // Blocks of up to two bytes are always stored.
  ExpectKh("AB", KhHeader(2) + KhBlock(Hex("80 41 42")));
  // Random bytes do not shrink: stored, L = n + 1.
  const std::string noise = RandomBytes(1000, 9);
  EXPECT_EQ(vg::CompressBytes(1, noise), KhHeader(1000) + KhBlock("\x80" + noise));
}

TEST(KhFormat, LiteralGroupThenRunInAPartialGroup) {
  // Sixteen distinct bytes fill the first group with literals (control word 0000); the run of
  // twenty 'z' opens a second group whose control word has only its top bit set.
  std::string input;
  for (int i = 0; i < 16; ++i) input.push_back(static_cast<char>(i));
  input += std::string(20, 'z');
  ExpectKh(input, KhHeader(36) + KhBlock(Hex("40 00 00") + input.substr(0, 16) + Hex("80 00 00 00 04 7A")));
}

TEST(KhFormat, CopyItems) {
  // Copy at distance 1: one literal 'a', then eleven bytes from one back (length field 8).
  ExpectKh(std::string(12, 'a'), KhHeader(12) + KhBlock(Hex("40 40 00 61 00 18")));
  // Copy at the farthest distance, 4095: the run between the two XYZ is not hashed.
  ExpectKh("XYZ" + std::string(4092, 'Q') + "XYZ",
           KhHeader(4098) + KhBlock(Hex("40 18 00 58 59 5A 00 0F EC 51 FF F0")));
  // A copy stops at 18 bytes; the rest is a copy from the position the first one started at.
  std::string abc8;
  for (int i = 0; i < 8; ++i) abc8 += "abc";
  ExpectKh(abc8, KhHeader(24) + KhBlock(Hex("40 18 00 61 62 63 00 3F 01 20")));
  ExpectKh("abcabcabcabc", KhHeader(12) + KhBlock(Hex("40 10 00 61 62 63 00 36")));
  ExpectKh("Hello, Hello, Hello!", KhHeader(20) + KhBlock(Hex("40 01 00 48 65 6C 6C 6F 2C 20 00 79 21")));
}

TEST(KhFormat, RunItems) {
  ExpectKh(std::string(16, 's'), KhHeader(16) + KhBlock(Hex("40 80 00 00 00 00 73")));
  ExpectKh(std::string(100, 'a'), KhHeader(100) + KhBlock(Hex("40 80 00 00 00 54 61")));
  // The longest run is 4095; the 4096th byte is a literal.
  ExpectKh(std::string(4095, 'r'), KhHeader(4095) + KhBlock(Hex("40 80 00 00 0F EF 72")));
  ExpectKh(std::string(4096, 'r'), KhHeader(4096) + KhBlock(Hex("40 80 00 00 0F EF 72 72")));
}

TEST(KhFormat, BlockBoundaries) {
  // A multiple of 32768 ends with an empty stored block.
  const std::string full = RandomBytes(32768, 3);
  const std::string packed = vg::CompressBytes(1, full);
  EXPECT_EQ(packed, KhHeader(32768) + KhBlock("\x80" + full) + Hex("01 00 80"));
  EXPECT_EQ(vg::DecompressBytes(packed), full);
  // One more byte goes into a second, stored block.
  const std::string more = full + "x";
  EXPECT_EQ(vg::CompressBytes(1, more), KhHeader(32769) + KhBlock("\x80" + full) + KhBlock("\x80x"));
  // Blocks are independent: the second copy of a block does not refer back into the first.
  const std::string twice = std::string(32768, 'q') + std::string(32768, 'q');
  const std::string runs = vg::CompressBytes(1, twice);
  const size_t first = 2 + (static_cast<uint8_t>(runs[8]) | static_cast<uint8_t>(runs[9]) << 8);
  EXPECT_EQ(runs.substr(8, first), runs.substr(8 + first, first));
  EXPECT_EQ(runs.size(), 8 + 2 * first + 3);
}

TEST(KhFormat, AnyFlagOtherThanStoredMeansGroups) {
  // Length 1 holds no output whatever its byte; a 0x41 flag decodes like 0x40.
  EXPECT_EQ(vg::DecompressBytes(KhHeader(0) + KhBlock(Hex("40"))), "");
  EXPECT_EQ(vg::DecompressBytes(KhHeader(3) + KhBlock(Hex("41 00 00 61 62 63"))), "abc");
}

}  // namespace
