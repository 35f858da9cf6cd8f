// Raw buffer behaviour of the HTTP message: storage growth, copying, inserting, searching.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/SysUtils.h"
#include "tunnel/httpdata.h"

using vg::THTTPData;

namespace {

// Records what the error hook receives and can refuse storage above a limit.
class TRecordingData : public THTTPData {
 public:
  std::vector<std::string> errors;
  size_t limit = SIZE_MAX;

  void ReportError(const std::string& text) override { errors.push_back(text); }

 protected:
  void* ReallocateStorage(void* block, size_t size) override {
    return size > limit ? nullptr : THTTPData::ReallocateStorage(block, size);
  }
};

}  // namespace

TEST(HttpBuffer, CapacityGrowsExactlyAndNeverShrinks) {
  THTTPData m;
  EXPECT_EQ(m.Length(), 0);
  EXPECT_EQ(m.Capacity(), 0);
  EXPECT_TRUE(m.SetLength(10));
  EXPECT_EQ(m.Capacity(), 10);
  m.Assign("0123456789");
  EXPECT_TRUE(m.SetLength(4));
  EXPECT_EQ(m.Capacity(), 10);
  EXPECT_EQ(m.AsString(), "0123");
  // Bytes beyond a cut stay readable until the storage grows again.
  EXPECT_TRUE(m.SetLength(8));
  EXPECT_EQ(m.AsString(), "01234567");
  EXPECT_TRUE(m.SetLength(13));
  EXPECT_EQ(m.Capacity(), 13);
  EXPECT_EQ(m.Copy(0, 10), "0123456789");
  EXPECT_EQ(m.Copy(10, 3), std::string(3, '\0'));  // fresh storage is zeroed
  EXPECT_FALSE(m.SetLength(-1));
  EXPECT_EQ(m.Length(), 13);
}

TEST(HttpBuffer, AllocationFailureIsReportedAndChangesNothing) {
  TRecordingData m;
  m.Assign("GET / HTTP/1.0\r\n\r\n");
  m.limit = 64;
  const std::string expected = vg::Format(VGT("Недостаточно памяти для обработки: %s"), {"Out of memory"});
  EXPECT_FALSE(m.SetLength(65));
  EXPECT_FALSE(m.Append(std::string(100, 'x')));
  m.SetHeader("Host", std::string(100, 'h'));
  ASSERT_EQ(m.errors.size(), 3u);
  for (const auto& e : m.errors) EXPECT_EQ(e, expected);
  EXPECT_EQ(m.AsString(), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(m.IsCompleteRequest());
}

TEST(HttpBuffer, AssignCopyAndBinaryBytes) {
  THTTPData m;
  const std::string binary("a\0b\r\n\xff", 6);
  m.Assign(binary);
  EXPECT_EQ(m.AsString(), binary);
  EXPECT_EQ(m.Copy(1, 2), std::string("\0b", 2));
  EXPECT_EQ(m.Copy(0, 6), binary);
  EXPECT_EQ(m.Copy(5, 2), "");  // runs past the end
  EXPECT_EQ(m.Copy(-1, 2), "");
  EXPECT_EQ(m.Copy(2, -1), "");
  EXPECT_EQ(m.Copy(INT32_MAX, INT32_MAX), "");
  // Assigning a view of the message itself must not read freed storage.
  m.Assign(std::string(1000, 'z'));
  m.Assign(m.View().substr(10, 500));
  EXPECT_EQ(m.AsString(), std::string(500, 'z'));
  m.Append(m.View());
  EXPECT_EQ(m.AsString(), std::string(1000, 'z'));
}

TEST(HttpBuffer, InsertRefusesTheLastByteAndTheEnd) {
  THTTPData m;
  m.Insert("x", 0);
  EXPECT_EQ(m.AsString(), "");
  m.Assign("abc");
  m.Insert("X", 3);
  m.Insert("X", 2);
  m.Insert("X", -1);
  EXPECT_EQ(m.AsString(), "abc");
  m.Insert("X", 1);
  EXPECT_EQ(m.AsString(), "aXbc");
  m.Insert("Y", 0);
  EXPECT_EQ(m.AsString(), "YaXbc");
  m.Assign("a");
  m.Insert("X", 0);
  EXPECT_EQ(m.AsString(), "a");
}

TEST(HttpBuffer, FindAndHeaderLimitedFind) {
  THTTPData m;
  m.Assign("GET / HTTP/1.1\r\nA: x\r\n\r\nA: body x");
  EXPECT_EQ(m.Find("x"), 19);
  EXPECT_EQ(m.Find("x", 20), 32);
  EXPECT_EQ(m.Find("x", 33), THTTPData::npos);
  EXPECT_EQ(m.Find("", 0), THTTPData::npos);
  EXPECT_EQ(m.Find("x", -5), 19);
  EXPECT_EQ(m.Find("x", 1000), THTTPData::npos);
  // Gives up after the first CR LF CR LF at or after the start.
  EXPECT_EQ(m.FindInHeader("x"), 19);
  EXPECT_EQ(m.FindInHeader("body"), THTTPData::npos);
  // A match may begin inside the terminator and run past it.
  EXPECT_EQ(m.FindInHeader("\r\nA:", 20), 22);
  EXPECT_EQ(m.FindInHeader("\r\n\r\nA", 0), 20);
  // Counted from the start position: from inside the body, the whole rest is searched.
  EXPECT_EQ(m.FindInHeader("body", 24), 27);
  m.Assign("no terminator, x");
  EXPECT_EQ(m.FindInHeader("x"), 15);
}

TEST(HttpBuffer, HeaderLengthAndBodyStart) {
  THTTPData m;
  m.Assign("HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_EQ(m.HeaderLength(), 19);
  EXPECT_EQ(m.BodyStart(), 0);
  EXPECT_TRUE(m.HasNoBody());
  m.Append("x");  // one body byte counts as no body
  EXPECT_EQ(m.BodyStart(), 0);
  EXPECT_TRUE(m.HasNoBody());
  m.Append("y");
  EXPECT_EQ(m.BodyStart(), 19);
  EXPECT_FALSE(m.HasNoBody());
  m.Assign("\r\n\r\nab");
  EXPECT_EQ(m.HeaderLength(), 0);
  EXPECT_EQ(m.BodyStart(), 4);
  m.Assign("HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(m.HeaderLength(), 0);
  EXPECT_EQ(m.BodyStart(), 0);
}

TEST(HttpBuffer, WritingAfterGrowthIsSeenByLaterQueries) {
  THTTPData m;
  m.Assign("POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\n");
  EXPECT_FALSE(m.IsCompleteRequest());
  const int32_t old = m.Length();
  ASSERT_TRUE(m.SetLength(old + 100));
  char* room = m.WritableFrom(old);
  ASSERT_NE(room, nullptr);
  std::memcpy(room, "abcd", 4);
  ASSERT_TRUE(m.SetLength(old + 4));
  EXPECT_TRUE(m.IsCompleteRequest());
  EXPECT_EQ(m.WritableFrom(m.Length() + 1), nullptr);
  EXPECT_EQ(m.WritableFrom(-1), nullptr);
  // Overwriting bytes that a check has already looked at drops what it learnt from them.
  m.Assign("GET / HTTP/1.1\r\nXXXXXXXXXXXXXX: 9\r\n\r\n");
  EXPECT_TRUE(m.IsCompleteRequest());
  std::memcpy(m.WritableFrom(16), "Content-Length", 14);
  EXPECT_FALSE(m.IsCompleteRequest());
}
