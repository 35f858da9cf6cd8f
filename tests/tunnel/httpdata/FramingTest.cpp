// Request framing an intermediary has to refuse, and header blocks with bare LF line ends.
#include <gtest/gtest.h>

#include <string>

#include "tunnel/httpdata.h"

using vg::TFramingFault;
using vg::THTTPData;

namespace {

// The fault of a request arriving whole; it must be the same when the request arrives byte by
// byte and is asked after every byte, the way the relay asks.
TFramingFault FaultOf(const std::string& text) {
  THTTPData whole;
  whole.Assign(text);
  const TFramingFault fault = whole.RequestFramingFault();
  THTTPData piecewise;
  for (const char c : text) {
    piecewise.Append(std::string_view(&c, 1));
    piecewise.RequestFramingFault();
  }
  EXPECT_EQ(piecewise.RequestFramingFault(), fault) << text;
  return fault;
}

std::string Normalized(const std::string& text, bool piecewise) {
  THTTPData m;
  if (!piecewise) {
    m.Assign(text);
    m.NormalizeHeaderLineEnds();
    return m.AsString();
  }
  for (const char c : text) {
    m.Append(std::string_view(&c, 1));
    m.NormalizeHeaderLineEnds();
  }
  return m.AsString();
}

const std::string kPost = "POST /form HTTP/1.1\r\nHost: example.org\r\n";

}  // namespace

TEST(RequestFraming, WellFramedRequestsPass) {
  EXPECT_EQ(FaultOf("GET / HTTP/1.1\r\nHost: example.org\r\nX-Empty:\r\n\r\n"), TFramingFault::None);
  EXPECT_EQ(FaultOf(kPost + "Content-Length: 5\r\n\r\nhello"), TFramingFault::None);
  // The same length twice, in any spelling, reads the same everywhere.
  EXPECT_EQ(FaultOf(kPost + "content-length: 5\r\nContent-Length:5 \r\n\r\nhello"), TFramingFault::None);
  // Codings before chunked, chunk extensions (quoted ones with ";" inside), upper-case sizes,
  // leading zeros and a trailer.
  EXPECT_EQ(FaultOf(kPost + "Transfer-Encoding: gzip\r\ntransfer-encoding: CHUNKED\r\n\r\n"
                            "5;name=value\r\nhello\r\nA ; q=\"x;\\\"y\" ;flag\r\n0123456789\r\n"
                            "0005\r\nabcde\r\n0\r\nX-Sum: 1\r\n\r\n"),
            TFramingFault::None);
  // What follows the end of a request is no part of it.
  EXPECT_EQ(FaultOf(kPost + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\nzz\r\n"), TFramingFault::None);
  EXPECT_EQ(FaultOf(kPost + "Content-Length: 2\r\n\r\nokzz\r\n\r\n"), TFramingFault::None);
  // A tunnel's request is followed by the tunnel's data, not by a body.
  EXPECT_EQ(FaultOf("CONNECT a:443 HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"), TFramingFault::None);
  // An incomplete header block says nothing yet.
  EXPECT_EQ(FaultOf(kPost + "Content-Length: 1\r\nContent-Length: 2\r\n"), TFramingFault::None);
}

TEST(RequestFraming, AmbiguousLengthsAreFaults) {
  EXPECT_EQ(FaultOf(kPost + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"),
            TFramingFault::LengthAndCoding);
  EXPECT_EQ(FaultOf(kPost + "Content-Length: 0\r\nContent-Length: 44\r\n\r\n"), TFramingFault::ConflictingLengths);
  for (const char* value : {"-1", "+5", "4294967301", "2147483648", "5, 5", "5 5", "0x10", ""})
    EXPECT_EQ(FaultOf(kPost + "Content-Length: " + value + "\r\n\r\n"), TFramingFault::BadLength) << value;
  for (const char* value :
       {"chunked, gzip", "identity", "chunked, chunked", "chunked;x=1", "xchunked", ",", "chunked\x0b"})
    EXPECT_EQ(FaultOf(kPost + "Transfer-Encoding: " + value + "\r\n\r\n0\r\n\r\n"), TFramingFault::BadCoding) << value;
  // Chunked bodies only behind "method target HTTP/1.1": the version token standing in the
  // target's place would be lost when the target is rewritten, and other versions are read
  // differently by different servers.
  for (const char* line : {"POST / HTTP/1.0", "http://h/ HTTP/1.1", "POST / HTTP/2.1", "POST / HTTP/1.10",
                           "POST / HTTP/1.1 x", "POST  HTTP/1.1", "POST /  HTTP/1.1"})
    EXPECT_EQ(FaultOf(std::string(line) + "\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"),
              TFramingFault::BadCoding)
        << line;
}

TEST(RequestFraming, HeaderLinesReadersCouldSplitDifferentlyAreFaults) {
  for (const char* line : {"Transfer-Encoding : chunked", "Content-Length\t: 5", " Content-Length: 5", "NoColon",
                           ": empty name", "X: a\rContent-Length: 5", "X: a\nContent-Length: 5"})
    EXPECT_EQ(FaultOf(kPost + line + "\r\n\r\n"), TFramingFault::HeaderLine) << line;
  EXPECT_EQ(FaultOf(kPost + "X-Long: a\r\n b\r\n\r\n"), TFramingFault::HeaderLine);  // a folded line
  EXPECT_EQ(FaultOf(kPost + "Host: other.org\r\n\r\n"), TFramingFault::DuplicateHost);
}

TEST(RequestFraming, ChunkSizesAndEndsAreChecked) {
  const std::string head = kPost + "Transfer-Encoding: chunked\r\n\r\n";
  for (const char* body : {"5x\r\nhello\r\n0\r\n\r\n", "-5\r\nhello\r\n0\r\n\r\n", " 5\r\nhello\r\n0\r\n\r\n",
                           "5 \r\nhello\r\n0\r\n\r\n", "\r\n", "5;\r\nhello\r\n0\r\n\r\n",
                           "5;a=\"x\r\nhello\r\n0\r\n\r\n", "80000000\r\n", "100000000000000005\r\nhello\r\n0\r\n\r\n",
                           "5\r\nhelloXX0\r\n\r\n", "5\nhello\r\n0\r\n\r\n", "5\r\nhello\r0\r\n\r\n"})
    EXPECT_EQ(FaultOf(head + body), TFramingFault::BadChunk) << body;
  // A wrong size is found before its line ends, without waiting for more.
  EXPECT_EQ(FaultOf(head + "zz"), TFramingFault::BadChunk);
  EXPECT_EQ(FaultOf(head + "fffffffff"), TFramingFault::BadChunk);
  EXPECT_EQ(FaultOf(head + "5\r\nhelloX"), TFramingFault::BadChunk);
  EXPECT_EQ(FaultOf(head + "0\r\nBad trailer\r\n\r\n"), TFramingFault::HeaderLine);
  // A large but valid size waits for its data.
  EXPECT_EQ(FaultOf(head + "7fffffff\r\nabc"), TFramingFault::None);
}

TEST(RequestFraming, FaultsAreFoundAgainAfterPartOfTheBodyWasHandedOver) {
  THTTPData m;
  m.Assign(kPost + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nab");
  std::string part;
  ASSERT_TRUE(m.TakePartialBody(part));
  EXPECT_EQ(part, "5\r\nhello\r\n");
  EXPECT_EQ(m.RequestFramingFault(), TFramingFault::None);
  m.Append("cXX");
  EXPECT_EQ(m.RequestFramingFault(), TFramingFault::BadChunk);
}

TEST(RequestFraming, TheEndOfARequestIsKnownOnceItHasArrived) {
  const auto end = [](const std::string& text) {
    THTTPData m;
    m.Assign(text);
    return m.FramedRequestEnd();
  };
  const std::string get = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
  EXPECT_EQ(end(get + "GET /next"), static_cast<int32_t>(get.size()));
  EXPECT_EQ(end(kPost + "Content-Length: 2\r\n\r\nok\r\n"), static_cast<int32_t>(kPost.size() + 23));
  EXPECT_EQ(end(kPost + "Content-Length: 3\r\n\r\nok"), THTTPData::npos);
  const std::string chunked = kPost + "Transfer-Encoding: chunked\r\n\r\n2;x=y\r\nok\r\n0\r\nX: 1\r\n\r\n";
  EXPECT_EQ(end(chunked + "GET"), static_cast<int32_t>(chunked.size()));
  EXPECT_EQ(end(chunked.substr(0, chunked.size() - 1)), THTTPData::npos);
  EXPECT_EQ(end(kPost + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nokk"), THTTPData::npos);
  EXPECT_EQ(end("CONNECT a:443 HTTP/1.1\r\n\r\ndata"), THTTPData::npos);
}

TEST(HeaderLineEnds, BareLineFeedsBecomeCrLfInTheHeaderBlockOnly) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"GET / HTTP/1.1\nHost: a\n\n", "GET / HTTP/1.1\r\nHost: a\r\n\r\n"},
      {"GET / HTTP/1.1\r\nHost: a\n\r\n", "GET / HTTP/1.1\r\nHost: a\r\n\r\n"},
      {"GET / HTTP/1.1\nHost: a\r\n\n", "GET / HTTP/1.1\r\nHost: a\r\n\r\n"},
      // The body keeps its bytes, also ones that look like line ends.
      {"POST / HTTP/1.1\ncontent-length: 8\n\na\nb\r\n\r\n\n",
       "POST / HTTP/1.1\r\ncontent-length: 8\r\n\r\na\nb\r\n\r\n\n"},
      {"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\na\nb", "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\na\nb"},
      // Until the header block is complete nothing changes.
      {"GET / HTTP/1.1\nHost: a\n", "GET / HTTP/1.1\nHost: a\n"},
      {"GET / HTTP/1.1\nHost: a\n\r", "GET / HTTP/1.1\nHost: a\n\r"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Normalized(c.in, false), c.out) << c.in;
    EXPECT_EQ(Normalized(c.in, true), c.out) << c.in;
  }
  THTTPData m;
  m.Assign("GET / HTTP/1.1\nhost: a\nContent-Length: 0\n\n");
  m.NormalizeHeaderLineEnds();
  EXPECT_TRUE(m.IsCompleteRequest());
  EXPECT_EQ(m.GetHost(), "a");
  EXPECT_EQ(m.RequestFramingFault(), TFramingFault::None);
}
