// Both modes give back every input unchanged, through memory and file streams.
#include <gtest/gtest.h>

#include <filesystem>

#include "Helpers.h"

using namespace comprtest;

namespace {

struct Kind {
  const char* name;
  std::string (*make)(size_t);
};
const Kind kKinds[] = {
    {"text", [](size_t n) { return Text(n); }},
    {"binary", [](size_t n) { return Binary(n); }},
    {"random", [](size_t n) { return RandomBytes(n, 77); }},
    {"one byte", [](size_t n) { return std::string(n, '\xA5'); }},
};

TEST(RoundTrip, AllSizesAndKindsInBothModes) {
  const size_t sizes[] = {0, 1, 2, 3, 59, 60, 61, 118, 119, 120, 32767, 32768, 32769, 65536, 1 << 20};
  for (const Kind& kind : kKinds)
    for (size_t size : sizes) {
      const std::string input = kind.make(size);
      for (uint8_t mode : {1, 2}) {
        const std::string packed = vg::CompressBytes(mode, input);
        ASSERT_EQ(vg::DecompressBytes(packed), input) << kind.name << " " << size << " mode " << int(mode);
        ASSERT_EQ(packed.substr(4, 4), Le32(static_cast<uint32_t>(size)));
      }
    }
}

TEST(RoundTrip, CompressesWhatCompresses) {
  const std::string text = Text(1 << 16);
  EXPECT_LT(vg::CompressBytes(1, text).size(), text.size() * 3 / 4);
  EXPECT_LT(vg::CompressBytes(2, text).size(), vg::CompressBytes(1, text).size());
  // Stored KH blocks cost three bytes per block plus the header.
  EXPECT_EQ(vg::CompressBytes(1, RandomBytes(65536, 5)).size(), 8u + 2 * (2 + 32769) + 3);
}

TEST(RoundTrip, StreamsAndPositions) {
  const std::string input = Text(100000, 7);
  for (uint8_t mode : {1, 2}) {
    // The input is read from its current position; the output is written after what the
    // output stream already holds. Both calls report the bytes they wrote.
    vg::TBytesStream in(input);
    vg::TMemoryStream out(std::string("existing"));
    out.Seek(out.Size());
    vg::TCompressor c;
    c.Mode = mode;
    c.InputStream = &in;
    c.OutputStream = &out;
    const uint64_t written = c.Compress();
    EXPECT_EQ(written + 8, out.Data().size());
    EXPECT_EQ(out.Data().substr(0, 8), "existing");

    vg::TBytesStream packed(std::string_view(out.Data()).substr(8));
    vg::TMemoryStream back;
    vg::TCompressor d;
    d.Mode = mode == 1 ? 2 : 1;  // ignored: the signature decides
    d.InputStream = &packed;
    d.OutputStream = &back;
    EXPECT_EQ(d.Decompress(), input.size());
    EXPECT_EQ(back.Data(), input);
  }
}

TEST(RoundTrip, InputStreamNotAtItsStart) {
  // Only the bytes from the current position on are compressed, and the header says so.
  const std::string all = "HEADER:" + Text(5000, 3);
  for (uint8_t mode : {1, 2}) {
    vg::TBytesStream in(all);
    in.Seek(7);
    vg::TMemoryStream out;
    vg::TCompressor c;
    c.Mode = mode;
    c.InputStream = &in;
    c.OutputStream = &out;
    c.Compress();
    EXPECT_EQ(vg::DecompressBytes(out.Data()), all.substr(7));
  }
}

TEST(RoundTrip, FileStreams) {
  const auto dir = std::filesystem::temp_directory_path() / ("vg_compress_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  const std::string input = Binary(200000);
  for (uint8_t mode : {1, 2}) {
    const std::string plain = (dir / "plain").string();
    const std::string packed = (dir / "packed").string();
    const std::string back = (dir / "back").string();
    {
      vg::TFileStream f(plain, vg::TFileStream::OpenMode::Create);
      ASSERT_EQ(f.Write(input.data(), input.size()), input.size());
    }
    {
      vg::TFileStream in(plain, vg::TFileStream::OpenMode::Read);
      vg::TFileStream out(packed, vg::TFileStream::OpenMode::Create);
      ASSERT_TRUE(in.IsOpen() && out.IsOpen());
      EXPECT_EQ(in.Size(), static_cast<int64_t>(input.size()));
      vg::TCompressor c;
      c.Mode = mode;
      c.InputStream = &in;
      c.OutputStream = &out;
      const uint64_t written = c.Compress();
      ASSERT_TRUE(out.Flush());
      EXPECT_EQ(static_cast<uint64_t>(out.Size()), written);
    }
    {
      vg::TFileStream in(packed, vg::TFileStream::OpenMode::Read);
      vg::TFileStream out(back, vg::TFileStream::OpenMode::Create);
      vg::TCompressor d;
      d.InputStream = &in;
      d.OutputStream = &out;
      EXPECT_EQ(d.Decompress(), input.size());
    }
    vg::TFileStream result(back, vg::TFileStream::OpenMode::Read);
    std::string got(input.size() + 1, '\0');
    EXPECT_EQ(result.Read(got.data(), got.size()), static_cast<int64_t>(input.size()));
    got.resize(input.size());
    EXPECT_EQ(got, input);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
