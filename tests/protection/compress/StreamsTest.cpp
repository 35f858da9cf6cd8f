#include <gtest/gtest.h>

#include "protection/Streams.h"

namespace {

TEST(Streams, MemoryStreamOverwritesAndExtends) {
  vg::TMemoryStream m(std::string("abcdef"));
  EXPECT_EQ(m.Position(), 0);
  char buf[4];
  EXPECT_EQ(m.Read(buf, 4), 4);
  EXPECT_EQ(m.Write("XYZ", 3), 3u);  // over "ef" and one byte further
  EXPECT_EQ(m.Data(), "abcdXYZ");
  EXPECT_EQ(m.Read(buf, 4), 0);
  EXPECT_TRUE(m.Seek(9));
  m.Write("!", 1);
  EXPECT_EQ(m.Data(), std::string("abcdXYZ\0\0!", 10));
  EXPECT_FALSE(m.Seek(-1));
  EXPECT_EQ(m.TakeData().size(), 10u);
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Position(), 0);
}

TEST(Streams, BytesStreamReadsWithoutCopyingAndRefusesWrites) {
  const std::string data = "hello";
  vg::TBytesStream b(data);
  char buf[8];
  EXPECT_EQ(b.Read(buf, 8), 5);
  EXPECT_EQ(b.Write("x", 1), 0u);
  EXPECT_FALSE(b.Seek(6));
  EXPECT_TRUE(b.Seek(5));
  EXPECT_EQ(b.Size(), 5);
}

TEST(Streams, FileStreamReportsSizeAndPosition) {
  vg::TFileStream missing("/nonexistent/dir/file", vg::TFileStream::OpenMode::Read);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.Position(), -1);
  EXPECT_EQ(missing.Size(), -1);
  EXPECT_EQ(missing.Read(nullptr, 0), -1);
}

}  // namespace
