// Header lookups and in-place header edits of the HTTP message.
#include <gtest/gtest.h>

#include <vector>

#include "platform/SysUtils.h"
#include "tunnel/httpdata.h"

using vg::THTTPData;

namespace {

class TRecordingData : public THTTPData {
 public:
  std::vector<std::string> errors;
  void ReportError(const std::string& text) override { errors.push_back(text); }
};

std::string Edited(std::string_view text, void (*edit)(THTTPData&)) {
  THTTPData m;
  m.Assign(text);
  edit(m);
  return m.AsString();
}

}  // namespace

TEST(HttpHeaders, LookupIgnoresLetterCaseAndIsLimitedToTheHeaderBlock) {
  THTTPData m;
  m.Assign(
      "GET /Host: x HTTP/1.1\r\ncontent-length: 5\r\nHost:  \t example.org \t\r\nX-Empty:\r\n"
      "X-Num: 42\r\nX-[\xC0]: 1\r\n\r\nAccept: body\r\n");
  EXPECT_TRUE(m.HasHeader("Host"));
  EXPECT_EQ(m.GetHeader("HOST"), "example.org");
  EXPECT_EQ(m.GetHeaderInt("Content-Length"), 5);
  EXPECT_EQ(m.GetHeaderInt("content-length"), 5);
  // Only ASCII letters pair up: "[" is not "{", nor a Cyrillic letter its capital.
  EXPECT_TRUE(m.HasHeader("x-[\xC0]"));
  EXPECT_FALSE(m.HasHeader("X-{\xC0]"));
  EXPECT_FALSE(m.HasHeader("X-[\xE0]"));
  // A value set keeps the name as the message spells it.
  THTTPData edited;
  edited.Assign(m.View());
  edited.SetHeaderInt("Content-Length", 7);
  EXPECT_NE(edited.AsString().find("\r\ncontent-length: 7\r\n"), std::string::npos);
  EXPECT_TRUE(m.HasHeader("X-Empty"));
  EXPECT_EQ(m.GetHeader("X-Empty"), "");
  EXPECT_EQ(m.GetHeaderInt("X-Num"), 42);
  EXPECT_FALSE(m.HasHeader("Accept"));  // in the body
  EXPECT_FALSE(m.HasHeader("GET /Host"));
  EXPECT_EQ(m.GetHeader("Missing"), "");
  // A body that starts like a header line is still body.
  m.Assign("HTTP/1.1 200 OK\r\n\r\nContent-Length: 3\r\n");
  EXPECT_FALSE(m.HasHeader("Content-Length"));
  // Without a terminator the whole buffer is searched and a value runs to the end.
  m.Assign("GET / HTTP/1.1\r\nHost: partial.org");
  EXPECT_EQ(m.GetHeader("Host"), "partial.org");
}

TEST(HttpHeaders, LookupAgreesWithAPlainSearchOnAwkwardText) {
  // Messages made of the few characters that matter to the search: CR, LF, the colon, letters
  // that begin or continue a name. The value of a header is the text after the match.
  const char alphabet[] = {'\r', '\n', ':', 'a', 'A', 'b', ' '};
  const std::vector<std::string> names = {"a", "ab", "A", "b", "aa", ""};
  uint32_t state = 12345;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const size_t length = (state = state * 1103515245 + 12345) >> 27;
    for (size_t i = 0; i < length; ++i) text += alphabet[((state = state * 1103515245 + 12345) >> 16) % 7];
    THTTPData m;
    m.Assign(text);
    const size_t end = text.find("\r\n\r\n");
    const std::string area = end == std::string::npos ? text : text.substr(0, end + 4);
    for (const std::string& name : names) {
      // Letters match in either case.
      std::string lowerArea = area;
      std::string lowerName = name;
      for (std::string* t : {&lowerArea, &lowerName})
        for (char& c : *t) c = c == 'A' ? 'a' : c;
      const size_t at = lowerArea.find("\r\n" + lowerName + ":");
      ASSERT_EQ(m.HasHeader(name), at != std::string::npos) << "[" << text << "] " << name;
      if (at == std::string::npos) continue;
      // The value runs to the next CR, without blanks and control characters at its ends.
      const size_t from = at + name.size() + 3;
      size_t stop = text.find('\r', from);
      if (stop == std::string::npos) stop = text.size();
      std::string expected = text.substr(from, stop - from);
      while (!expected.empty() && static_cast<unsigned char>(expected.front()) <= ' ') expected.erase(0, 1);
      while (!expected.empty() && static_cast<unsigned char>(expected.back()) <= ' ') expected.pop_back();
      ASSERT_EQ(m.GetHeader(name), expected) << "[" << text << "] " << name;
    }
  }
}

TEST(HttpHeaders, IntegerValues) {
  auto value = [](std::string_view v) {
    THTTPData m;
    m.Assign("HTTP/1.1 200 OK\r\nN: " + std::string(v) + "\r\n\r\n");
    return m.GetHeaderInt("N");
  };
  EXPECT_EQ(value("0"), 0);
  EXPECT_EQ(value("  123  "), 123);
  EXPECT_EQ(value("2147483647"), 2147483647);
  EXPECT_EQ(value("2147483648"), -1);  // does not fit 32 bits
  EXPECT_EQ(value("99999999999999999999"), -1);
  EXPECT_EQ(value("-7"), -7);
  EXPECT_EQ(value("+7"), 7);
  EXPECT_EQ(value("12abc"), -1);
  EXPECT_EQ(value("1 2"), -1);
  EXPECT_EQ(value(""), -1);
  EXPECT_EQ(value("-"), -1);
  EXPECT_EQ(value("0x10"), -1);
}

TEST(HttpHeaders, SetHeaderReplacesInPlaceOrAddsTheLastLine) {
  const std::string base = "GET / HTTP/1.1\r\nHost: a\r\nAccept: */*\r\n\r\nbody";
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.SetHeader("Host", "longer.example.org"); }),
            "GET / HTTP/1.1\r\nHost: longer.example.org\r\nAccept: */*\r\n\r\nbody");
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.SetHeader("Accept", ""); }),
            "GET / HTTP/1.1\r\nHost: a\r\nAccept: \r\n\r\nbody");
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.SetHeader("X-New", "1"); }),
            "GET / HTTP/1.1\r\nHost: a\r\nAccept: */*\r\nX-New: 1\r\n\r\nbody");
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.SetHeaderInt("Content-Length", 1234567890123); }),
            "GET / HTTP/1.1\r\nHost: a\r\nAccept: */*\r\nContent-Length: 1234567890123\r\n\r\nbody");
  // The spelling of the name stays, and so does a value written without the space.
  EXPECT_EQ(Edited("HTTP/1.1 200 OK\r\nX:old\r\n\r\n", [](THTTPData& m) { m.SetHeader("X", "new"); }),
            "HTTP/1.1 200 OK\r\nX:new\r\n\r\n");
  EXPECT_EQ(Edited("HTTP/1.1 200 OK\r\nX:  old\r\n\r\n", [](THTTPData& m) { m.SetHeader("X", "n"); }),
            "HTTP/1.1 200 OK\r\nX: n\r\n\r\n");
  // A message starting with the terminator gets its first header line.
  EXPECT_EQ(Edited("\r\n\r\n", [](THTTPData& m) { m.SetHeader("A", "b"); }), "\r\nA: b\r\n\r\n");
  THTTPData m;
  m.Assign(base);
  m.SetHeader("Host", "h");
  EXPECT_EQ(m.GetHeader("Host"), "h");
  EXPECT_EQ(m.Find("body"), m.HeaderLength());
}

TEST(HttpHeaders, SetHeaderWithoutTerminatorReportsAndChangesNothing) {
  TRecordingData m;
  m.Assign("GET / HTTP/1.1\r\nHost: a\r\n");
  m.SetHeader("X-New", "1");
  ASSERT_EQ(m.errors.size(), 1u);
  EXPECT_EQ(m.errors[0], VGT("Ошибка при добавлении к HTTP-заголовку"));
  EXPECT_EQ(m.AsString(), "GET / HTTP/1.1\r\nHost: a\r\n");
  // An existing header is still replaced: its line ends at its CR.
  m.SetHeader("Host", "b");
  EXPECT_EQ(m.AsString(), "GET / HTTP/1.1\r\nHost: b\r\n");
  EXPECT_EQ(m.errors.size(), 1u);
}

TEST(HttpHeaders, DeleteHeader) {
  const std::string base = "HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\nB: body";
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.DeleteHeader("A"); }), "HTTP/1.1 200 OK\r\nB: 2\r\nC: 3\r\n\r\nB: body");
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.DeleteHeader("C"); }), "HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\n\r\nB: body");
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.DeleteHeader("B"); }), "HTTP/1.1 200 OK\r\nA: 1\r\nC: 3\r\n\r\nB: body");
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.DeleteHeader("D"); }), base);
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.DeleteHeader("b"); }), "HTTP/1.1 200 OK\r\nA: 1\r\nC: 3\r\n\r\nB: body");
  // Only the first of repeated headers goes.
  EXPECT_EQ(Edited("GET / HTTP/1.1\r\nA: 1\r\nA: 2\r\n\r\n", [](THTTPData& m) { m.DeleteHeader("A"); }),
            "GET / HTTP/1.1\r\nA: 2\r\n\r\n");
  // Without a terminator the line runs to the end of the buffer.
  EXPECT_EQ(Edited("GET / HTTP/1.1\r\nA: 1", [](THTTPData& m) { m.DeleteHeader("A"); }), "GET / HTTP/1.1");
}

TEST(HttpHeaders, RenameHeader) {
  const std::string base = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nX-Body: y";
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.RenameHeader("Content-Length", "Vg-Ocl"); }),
            "HTTP/1.1 200 OK\r\nVg-Ocl: 5\r\n\r\nX-Body: y");
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.RenameHeader("X-Body", "Y"); }), base);
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.RenameHeader("content-length", "Y"); }),
            "HTTP/1.1 200 OK\r\nY: 5\r\n\r\nX-Body: y");
  EXPECT_EQ(Edited(base, [](THTTPData& m) { m.RenameHeader("Content", "Y"); }), base);  // needs the colon
}

TEST(HttpHeaders, ConnectionHeaders) {
  auto make = [](std::string_view headers) {
    auto m = std::make_unique<THTTPData>();
    m->Assign("GET / HTTP/1.1\r\n" + std::string(headers) + "\r\n");
    return m;
  };
  EXPECT_TRUE(make("Connection:  Keep-Alive \r\n")->IsKeepAlive());
  EXPECT_FALSE(make("Connection: Keep-Alive\r\n")->IsConnectionClose());
  EXPECT_TRUE(make("Connection: CLOSE\r\n")->IsConnectionClose());
  EXPECT_FALSE(make("Connection: close, TE\r\n")->IsConnectionClose());
  EXPECT_TRUE(make("Connection: close\r\nProxy-Connection: keep-alive\r\n")->IsKeepAlive());
  EXPECT_TRUE(make("Proxy-Connection: keep-alive\r\n")->IsKeepAlive());
  EXPECT_TRUE(make("connection: keep-alive\r\n")->IsKeepAlive());
  EXPECT_FALSE(make("")->IsKeepAlive());
  EXPECT_FALSE(make("")->IsConnectionClose());

  auto m = make("Proxy-Connection: keep-alive\r\nConnection: keep-alive\r\n");
  m->SetConnectionClose();
  EXPECT_EQ(m->AsString(), "GET / HTTP/1.1\r\nProxy-Connection: close\r\nConnection: keep-alive\r\n\r\n");
  m = make("Connection: Keep-Alive\r\n");
  m->SetConnectionClose();
  EXPECT_TRUE(m->IsConnectionClose());
  EXPECT_FALSE(m->IsKeepAlive());
  m = make("");
  m->SetConnectionClose();
  EXPECT_EQ(m->AsString(), "GET / HTTP/1.1\r\nConnection: close\r\n\r\n");
}
