// Damaged streams, failing streams and limits: always an ECompressLib, never a wild access
// (this suite also runs under AddressSanitizer).
#include <gtest/gtest.h>

#include <functional>

#include "Helpers.h"

using namespace comprtest;

namespace {

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const vg::ECompressLib& e) {
    return e.Message();
  }
  return "(no error)";
}
std::string DecodeError(const std::string& stream, std::optional<uint64_t> limit = std::nullopt) {
  return ErrorOf([&] { vg::DecompressBytes(stream, limit); });
}

const std::string kShort = "Compressor : Error reading from input stream !";
const std::string kKhSize = "Compressor (decompression Compressor/KH) : Original and compressed sizes do not match !";
const std::string kLzhSize = "Compressor (LZH decompression) : Original and compressed sizes do not match !";
const std::string kBlockData = "Compressor (decompression Compressor/KH) : Corrupt block data !";

TEST(Corrupt, Signature) {
  const std::string msg = "Compressor decompression : input stream contains no valid header !";
  EXPECT_EQ(DecodeError(Hex("16 13 11 1D 00 00 00 00")), msg);
  EXPECT_EQ(DecodeError("PK\x03\x04rest"), msg);
  EXPECT_EQ(DecodeError(""), kShort);
  EXPECT_EQ(DecodeError(Hex("16 13 11 1C 05")), kShort);
}

TEST(Corrupt, EveryTruncationFails) {
  const std::string input = Text(600, 5) + std::string(40, 'x') + RandomBytes(100, 5);
  for (uint8_t mode : {1, 2}) {
    const std::string packed = vg::CompressBytes(mode, input);
    ASSERT_EQ(vg::DecompressBytes(packed), input);
    for (size_t n = 0; n < packed.size(); ++n)
      EXPECT_NE(DecodeError(packed.substr(0, n)), "(no error)") << "mode " << int(mode) << " cut at " << n;
  }
  // LZH data cut short is an error, not zero bits made up for what is missing.
  EXPECT_EQ(DecodeError(LzhHeader(123) + Hex("F6 FB BD FE D0 16 10")), kShort);
  EXPECT_EQ(DecodeError(LzhHeader(1)), kShort);
}

TEST(Corrupt, FlippedBitsFailOrDecodeToTheAnnouncedSize) {
  const std::string input = Text(300, 11) + std::string(30, 'k') + Text(100, 12);
  for (uint8_t mode : {1, 2}) {
    const std::string packed = vg::CompressBytes(mode, input);
    for (size_t bit = 0; bit < packed.size() * 8; ++bit) {
      std::string damaged = packed;
      damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
      try {
        const std::string out = vg::DecompressBytes(damaged);
        const uint32_t announced = static_cast<uint8_t>(damaged[4]) | static_cast<uint8_t>(damaged[5]) << 8 |
                                   static_cast<uint8_t>(damaged[6]) << 16 |
                                   static_cast<uint32_t>(static_cast<uint8_t>(damaged[7])) << 24;
        EXPECT_EQ(out.size(), announced) << "mode " << int(mode) << " bit " << bit;
      } catch (const vg::ECompressLib&) {
      }
    }
  }
}

TEST(Corrupt, KhBlockLimits) {
  // A block length above 32769 is refused before its data is read.
  EXPECT_EQ(DecodeError(KhHeader(40000) + Hex("02 80")),
            "Compressor (decompression Compressor/KH) : Invalid block length !");
  // A copy reaching before the block's start: distance 1 at the first byte, and distance 5
  // after three literals.
  EXPECT_EQ(DecodeError(KhHeader(3) + KhBlock(Hex("40 80 00 00 10"))), kBlockData);
  EXPECT_EQ(DecodeError(KhHeader(10) + KhBlock(Hex("40 10 00 61 62 63 00 50"))), kBlockData);
  // Items past the block's end.
  EXPECT_EQ(DecodeError(KhHeader(3) + KhBlock(Hex("40 80 00 00"))), kBlockData);
  EXPECT_EQ(DecodeError(KhHeader(3) + KhBlock(Hex("40 80 00 00 00 54"))), kBlockData);
  EXPECT_EQ(DecodeError(KhHeader(3) + KhBlock(Hex("40 80"))), kBlockData);
  // Nine runs of 4111 bytes overflow a block's 32768.
  std::string runs = Hex("40 FF 80");
  for (int i = 0; i < 9; ++i) runs += Hex("00 0F FF 61");
  EXPECT_EQ(DecodeError(KhHeader(40000) + KhBlock(runs)), kBlockData);
  // A block of exactly 32768 bytes promises another block.
  EXPECT_EQ(DecodeError(KhHeader(32768) + KhBlock("\x80" + std::string(32768, 'a'))), kShort);
  // Block data shorter than its length.
  EXPECT_EQ(DecodeError(KhHeader(3) + Hex("04 00 80 61")), kShort);
}

TEST(Corrupt, SizesThatDoNotMatch) {
  EXPECT_EQ(DecodeError(KhHeader(4) + KhBlock(Hex("80 61 62 63"))), kKhSize);
  EXPECT_EQ(DecodeError(KhHeader(2) + KhBlock(Hex("80 61 62 63"))), kKhSize);
  // More blocks than the size allows: refused before they are written.
  const std::string tooMuch = KhHeader(10) + KhBlock("\x80" + std::string(32768, 'a')) + Hex("01 00 80");
  vg::TBytesStream in(tooMuch);
  vg::TMemoryStream out;
  vg::TCompressor c;
  c.InputStream = &in;
  c.OutputStream = &out;
  EXPECT_EQ(ErrorOf([&] { c.Decompress(); }), kKhSize);
  EXPECT_EQ(out.Size(), 0);
  // An LZH match running past the announced size ('A' then a 4-byte match, 3 announced).
  EXPECT_EQ(vg::DecompressBytes(LzhHeader(1) + Hex("E6 80")), "A");
  const std::string abc = vg::CompressBytes(2, "abcabcabc");
  EXPECT_EQ(DecodeError(LzhHeader(5) + abc.substr(8)), kLzhSize);
}

TEST(Corrupt, AnnouncedSizeAndLimit) {
  const std::string over = "Compressor decompression : The uncompressed size exceeds the allowed maximum !";
  for (const std::string& header : {KhHeader(0xFFFFFFFF), LzhHeader(0xFFFFFFFF)}) {
    // Refused by the limit before anything is decoded or reserved...
    EXPECT_EQ(DecodeError(header + std::string(100, '\0'), 2u << 20), over);
    // ...and without a limit the missing data ends it early.
    EXPECT_EQ(DecodeError(header + Hex("01 00 80")), header == KhHeader(0xFFFFFFFF) ? kKhSize : kShort);
  }
  const std::string packed = vg::CompressBytes(2, Text(1000));
  EXPECT_EQ(vg::DecompressBytes(packed, 1000).size(), 1000u);
  EXPECT_EQ(DecodeError(packed, 999), over);
}

// A stream whose operations fail on request.
class FaultyStream : public vg::TStream {
 public:
  explicit FaultyStream(std::string data) : data_(std::move(data)) {}
  bool failRead = false, noPosition = false, noSize = false, shortWrite = false;
  int64_t sizeClaim = -2;  // when set (>= 0), Size() reports this instead of the truth

  int64_t Read(void* buffer, size_t count) override {
    if (failRead) return -1;
    return mem_.Read(buffer, count);
  }
  size_t Write(const void* buffer, size_t count) override { return shortWrite ? count / 2 : out_.Write(buffer, count); }
  int64_t Position() const override { return noPosition ? -1 : mem_.Position(); }
  int64_t Size() const override { return noSize ? -1 : sizeClaim >= 0 ? sizeClaim : mem_.Size(); }
  bool Seek(int64_t p) override { return mem_.Seek(p); }

 private:
  std::string data_;
  vg::TBytesStream mem_{data_};
  vg::TMemoryStream out_;
};

std::string CompressError(uint8_t mode, FaultyStream& in, vg::TStream& out) {
  vg::TCompressor c;
  c.Mode = mode;
  c.InputStream = &in;
  c.OutputStream = &out;
  return ErrorOf([&] { c.Compress(); });
}

TEST(Corrupt, FailingStreams) {
  const std::string data = Text(70000);
  vg::TMemoryStream sink;
  {
    FaultyStream in(data);
    in.failRead = true;
    EXPECT_EQ(CompressError(1, in, sink), "Compressor : Error reading from input stream ! (Compressor/KH)");
    EXPECT_EQ(CompressError(2, in, sink), "Compressor : Error reading from input stream ! (LZH)");
  }
  {
    FaultyStream in(data);
    in.noSize = true;
    EXPECT_EQ(CompressError(1, in, sink), "Compressor compression : Failed to obtain the size of the input stream !");
  }
  {
    FaultyStream in(data);
    in.noPosition = true;
    EXPECT_EQ(CompressError(2, in, sink), "Compressor (de)compression : Failed to initialize input stream !");
    FaultyStream out("");
    out.noPosition = true;
    FaultyStream good(data);
    EXPECT_EQ(CompressError(1, good, out), "Compressor (de)compression : Failed to initialize output stream !");
  }
  for (uint8_t mode : {1, 2}) {
    FaultyStream in(data);
    FaultyStream out("");
    out.shortWrite = true;
    EXPECT_EQ(CompressError(mode, in, out), "Compressor : Error writing to output stream !");
  }
  for (uint8_t mode : {1, 2}) {
    // A stream that claims more than it holds: the header would lie, so it is an error.
    FaultyStream in(data);
    in.sizeClaim = static_cast<int64_t>(data.size()) + 10;
    EXPECT_NE(CompressError(mode, in, sink), "(no error)");
  }
  for (uint8_t mode : {0, 3}) {
    FaultyStream in(data);
    EXPECT_EQ(CompressError(mode, in, sink), "Compressor compression : Unknown compression mode !");
  }
  {
    FaultyStream in(vg::CompressBytes(2, data));
    in.failRead = true;
    vg::TMemoryStream out;
    vg::TCompressor d;
    d.InputStream = &in;
    d.OutputStream = &out;
    EXPECT_EQ(ErrorOf([&] { d.Decompress(); }), kShort);
  }
}

}  // namespace
