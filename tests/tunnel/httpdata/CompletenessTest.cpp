// When a request or an answer is complete, and handing over a partly received body.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>

#include "tunnel/httpdata.h"

using vg::THTTPData;

namespace {

std::unique_ptr<THTTPData> Message(std::string_view text) {
  auto m = std::make_unique<THTTPData>();
  m->Assign(text);
  return m;
}

bool Request(std::string_view text) { return Message(text)->IsCompleteRequest(); }
bool Response(std::string_view text) { return Message(text)->IsCompleteResponse(); }

const std::string kChunkedAnswer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

// A plain restatement of the completeness rules, scanning everything every time, to compare
// the remembering implementation against.
struct Reference {
  std::string s;

  std::optional<std::string> Header(const std::string& name, size_t t) const {
    const std::string block = s.substr(0, t + 4);
    const size_t at = block.find("\r\n" + name + ":");
    if (at == std::string::npos) return std::nullopt;
    const size_t begin = at + name.size() + 3;
    std::string v = block.substr(begin, block.find('\r', begin) - begin);
    while (!v.empty() && static_cast<unsigned char>(v.front()) <= ' ') v.erase(0, 1);
    while (!v.empty() && static_cast<unsigned char>(v.back()) <= ' ') v.pop_back();
    return v;
  }

  static long long Number(const std::string& v, bool sign) {
    size_t i = sign && !v.empty() && (v[0] == '-' || v[0] == '+') ? 1 : 0;
    if (i == v.size() || v.size() - i > 11) return -1;
    for (size_t k = i; k < v.size(); ++k)
      if (v[k] < '0' || v[k] > '9') return -1;
    const long long n = std::stoll(v);
    return n > 2147483647LL || n < -2147483648LL ? -1 : n;
  }

  // Answers end where the buffer ends with an empty line; requests at the empty line after the
  // size-0 line, whatever follows.
  bool Chunked(size_t t, bool answer) const {
    const auto te = Header("Transfer-Encoding", t);
    if (!te) return false;
    std::string lower = *te;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "identity") return false;
    long long p = static_cast<long long>(t) + 4;
    const long long length = static_cast<long long>(s.size());
    if (p >= length || (answer && s.compare(s.size() - 4, 4, "\r\n\r\n") != 0)) return false;
    while (p < length) {
      const size_t e = s.find("\r\n", static_cast<size_t>(p));
      if (e == std::string::npos) return false;
      std::string line = s.substr(static_cast<size_t>(p), e - static_cast<size_t>(p));
      line = line.substr(0, line.find(';'));
      while (!line.empty() && line.front() == ' ') line.erase(0, 1);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      long long size = 0;
      for (char c : line) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        size = size * 16 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
        if (size > 2147483647LL) return false;
      }
      if (size == 0)
        return answer ? static_cast<long long>(e) <= length - 4 : s.find("\r\n\r\n", e) != std::string::npos;
      p = static_cast<long long>(e) + 2 + size + 2;
    }
    return false;
  }

  bool Complete(bool answer) const {
    const size_t t = s.find("\r\n\r\n");
    if (t == std::string::npos) return false;
    const bool ends = t + 4 == s.size();
    const auto cl = Header("Content-Length", t);
    const bool te = Header("Transfer-Encoding", t).has_value();
    if (answer) {
      const size_t line = s.find("\r\n");
      const size_t s1 = s.find(' ');
      long long status = 0;
      if (s1 < line) {
        const size_t s2 = std::min(s.find(' ', s1 + 1), line);
        status = Number(s.substr(s1 + 1, s2 - s1 - 1), false);
      }
      if (((status >= 100 && status <= 199) || status == 204 || status == 304) && ends) return true;
    } else if (!cl && !te) {
      return true;
    }
    if (cl && !te) {
      const long long n = Number(*cl, true);
      if (n >= 0 && static_cast<long long>(s.size() - t - 4) >= n) return true;
    }
    return Chunked(t, answer);
  }
};

}  // namespace

TEST(HttpCompleteness, RequestsWithoutBody) {
  EXPECT_TRUE(Request("GET / HTTP/1.1\r\nHost: a\r\n\r\n"));
  EXPECT_FALSE(Request("GET / HTTP/1.1\r\nHost: a\r\n"));
  // What follows the header block is the next request's.
  EXPECT_TRUE(Request("GET / HTTP/1.1\r\nHost: a\r\n\r\nx"));
  EXPECT_EQ(Message("GET / HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n")->RequestEnd(), 18);
  EXPECT_FALSE(Request(""));
  // A framing header means the body decides, even when nothing follows.
  EXPECT_FALSE(Request("GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
  EXPECT_FALSE(Request("GET / HTTP/1.1\r\nContent-Length: x\r\n\r\n"));
  EXPECT_TRUE(Request("GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
}

TEST(HttpCompleteness, ContentLength) {
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
  EXPECT_FALSE(Request(head));
  EXPECT_FALSE(Request(head + "1234"));
  EXPECT_TRUE(Request(head + "12345"));
  EXPECT_TRUE(Request(head + "12345\r\n"));  // surplus is allowed: the next request's
  EXPECT_EQ(Message(head + "12345GET")->RequestEnd(), static_cast<int32_t>(head.size()) + 5);
  EXPECT_EQ(Message(head + "1234")->RequestEnd(), THTTPData::npos);
  EXPECT_TRUE(Response("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n12345"));
  EXPECT_TRUE(Response("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n12345"));
  EXPECT_FALSE(Request("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n12345"));
  EXPECT_FALSE(Request("POST / HTTP/1.1\r\nContent-Length: 4294967301\r\n\r\n12345"));
  // With Transfer-Encoding the length is ignored, even for "identity".
  EXPECT_FALSE(Request("POST / HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: identity\r\n\r\n12345"));
  EXPECT_TRUE(Request("POST / HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"));
}

TEST(HttpCompleteness, AnswersWithoutBodyByStatus) {
  for (const char* status : {"100 Continue", "101 Switching", "199 X", "204 No Content", "304 Not Modified"}) {
    const std::string head = std::string("HTTP/1.1 ") + status + "\r\nServer: s\r\n\r\n";
    EXPECT_TRUE(Response(head)) << status;
    EXPECT_FALSE(Response(head + "x")) << status;
  }
  EXPECT_FALSE(Response("HTTP/1.1 200 OK\r\n\r\n"));  // ends only when the server closes
  EXPECT_FALSE(Response("HTTP/1.1 205 Reset\r\n\r\n"));
  // The reason phrase is optional, with or without the blank before it.
  EXPECT_TRUE(Response("HTTP/1.1 204\r\n\r\n"));
  EXPECT_TRUE(Response("HTTP/1.1 304 \r\n\r\n"));
  EXPECT_TRUE(Response("HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n"));
}

TEST(HttpCompleteness, ChunkedRules) {
  const std::string& h = kChunkedAnswer;
  EXPECT_TRUE(Response(h + "5\r\nhello\r\n0\r\n\r\n"));
  EXPECT_TRUE(Response(h + "5\r\nhello\r\nA\r\n0123456789\r\n0\r\n\r\n"));
  EXPECT_TRUE(Response(h + "0\r\n\r\n"));
  EXPECT_TRUE(Response(h + "5\r\nhello\r\n0\r\nTrailer: x\r\n\r\n"));
  EXPECT_TRUE(Response(h + "  5  \r\nhello\r\n 0 \r\n\r\n"));  // blanks around the size
  EXPECT_TRUE(Response(h + "a\r\n0123456789\r\n0\r\n\r\n"));
  EXPECT_TRUE(Response("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n"));
  // An empty size line counts as size 0.
  EXPECT_TRUE(Response(h + "\r\n\r\n"));
  // Missing final CR LF, or size 0 too close to the end.
  EXPECT_FALSE(Response(h + "5\r\nhello\r\n0\r\n"));
  EXPECT_FALSE(Response(h + "5\r\nhello\r\n0\r\n\r"));
  EXPECT_FALSE(Response(h + "5\r\nhello\r\n\r\n"));
  EXPECT_FALSE(Response(h + "5\r\nhello\r\n"));
  EXPECT_FALSE(Response(h));
  // Extensions are skipped.
  EXPECT_TRUE(Response(h + "5;ext=1\r\nhello\r\n0\r\n\r\n"));
  EXPECT_TRUE(Response(h + "5 ; a=\"b;c\"\r\nhello\r\n0;ext=1\r\n\r\n"));
  EXPECT_TRUE(Response(h + "0;ext=1\r\n\r\n"));
  // A chunked request ends at the empty line after the size-0 line, also when more follows.
  const std::string post = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string body = "5;x\r\nhello\r\n0\r\nT: 1\r\n\r\n";
  EXPECT_EQ(Message(post + body + "GET / HTTP/1.1\r\n\r\n")->RequestEnd(),
            static_cast<int32_t>(post.size() + body.size()));
  EXPECT_FALSE(Request(post + "5\r\nhello\r\n0\r\nT: 1\r\n"));
  // Inner blanks, tabs and foreign characters make the size invalid.
  EXPECT_FALSE(Response(h + "1 0\r\n0123456789abcdef\r\n0\r\n\r\n"));
  EXPECT_FALSE(Response(h + "\t5\r\nhello\r\n0\r\n\r\n"));
  EXPECT_FALSE(Response(h + "0x5\r\nhello\r\n0\r\n\r\n"));
  // Huge sizes skip past the end; sizes beyond 32 bits are not numbers.
  EXPECT_FALSE(Response(h + "7fffffff\r\nhello\r\n0\r\n\r\n"));
  EXPECT_FALSE(Response(h + "ffffffffffffffff\r\nhello\r\n0\r\n\r\n"));
  EXPECT_FALSE(Response(h + "10000000000000005\r\nhello\r\n0\r\n\r\n"));
  // A size larger than the data swallows the zero line into the chunk.
  EXPECT_FALSE(Response(h + "7\r\nhello\r\n0\r\n\r\n"));
  EXPECT_FALSE(Response("HTTP/1.1 200 OK\r\nTransfer-Encoding: Identity\r\n\r\n0\r\n\r\n"));
  EXPECT_TRUE(Response("HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n0\r\n\r\n"));
  EXPECT_TRUE(Request("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"));
}

TEST(HttpPartialBody, ContentLengthHandsOverAndCountsDown) {
  auto m = Message("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'a'));
  std::string out;
  ASSERT_TRUE(m->TakePartialBody(out));
  EXPECT_EQ(out, std::string(300, 'a'));
  EXPECT_EQ(m->AsString(), "HTTP/1.1 200 OK\r\nContent-Length: 700\r\n\r\n");
  EXPECT_FALSE(m->TakePartialBody(out));  // no body now
  EXPECT_TRUE(out.empty());
  m->Append("b");
  EXPECT_FALSE(m->TakePartialBody(out));  // one byte counts as no body
  m->Append(std::string(698, 'b'));
  ASSERT_TRUE(m->TakePartialBody(out));
  EXPECT_EQ(out.size(), 699u);
  EXPECT_EQ(m->GetHeaderInt("Content-Length"), 1);
  m->Append("cd");  // the rest and a surplus byte: complete, so it goes whole
  EXPECT_TRUE(m->IsCompleteResponse());
  EXPECT_FALSE(m->TakePartialBody(out));
  EXPECT_EQ(m->Length(), m->HeaderLength() + 2);
  // An invalid length hands nothing over.
  m = Message("HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\nabc");
  EXPECT_FALSE(m->TakePartialBody(out));
  EXPECT_EQ(m->AsString(), "HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\nabc");
}

TEST(HttpPartialBody, ChunkedTakesWholeChunksOnly) {
  auto m = Message(kChunkedAnswer + "5\r\nhello\r\n3\r\nabc\r\n4\r\nxy");
  std::string out;
  ASSERT_TRUE(m->TakePartialBody(out));
  EXPECT_EQ(out, "5\r\nhello\r\n3\r\nabc\r\n");
  EXPECT_EQ(m->AsString(), kChunkedAnswer + "4\r\nxy");
  EXPECT_FALSE(m->TakePartialBody(out));  // the one chunk is not whole yet
  EXPECT_EQ(m->AsString(), kChunkedAnswer + "4\r\nxy");
  m->Append("zw\r");
  EXPECT_FALSE(m->TakePartialBody(out));  // its closing CR LF is not all there
  m->Append("\n1");
  ASSERT_TRUE(m->TakePartialBody(out));
  EXPECT_EQ(out, "4\r\nxyzw\r\n");
  EXPECT_EQ(m->AsString(), kChunkedAnswer + "1");
  // Reaching the size-0 line means the answer goes whole.
  m = Message(kChunkedAnswer + "5\r\nhello\r\n0\r\n");
  EXPECT_FALSE(m->TakePartialBody(out));
  EXPECT_EQ(m->AsString(), kChunkedAnswer + "5\r\nhello\r\n0\r\n");
  // An invalid size line stops the walk after the whole chunks before it.
  m = Message(kChunkedAnswer + "2\r\nab\r\nzz\r\nrest");
  ASSERT_TRUE(m->TakePartialBody(out));
  EXPECT_EQ(out, "2\r\nab\r\n");
  EXPECT_EQ(m->AsString(), kChunkedAnswer + "zz\r\nrest");
  EXPECT_FALSE(m->TakePartialBody(out));
  // A chunk ending exactly at the end of the buffer is whole.
  m = Message(kChunkedAnswer + "2\r\nab\r\n");
  ASSERT_TRUE(m->TakePartialBody(out));
  EXPECT_EQ(out, "2\r\nab\r\n");
  EXPECT_EQ(m->AsString(), kChunkedAnswer);
}

TEST(HttpPartialBody, UntilCloseAndRefusals) {
  auto m = Message("HTTP/1.0 200 OK\r\nServer: s\r\n\r\nsome bytes");
  std::string out;
  ASSERT_TRUE(m->TakePartialBody(out));
  EXPECT_EQ(out, "some bytes");
  EXPECT_EQ(m->AsString(), "HTTP/1.0 200 OK\r\nServer: s\r\n\r\n");
  // Transfer-Encoding identity is neither chunked nor delimited by close.
  m = Message("HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n\r\nsome bytes");
  EXPECT_FALSE(m->TakePartialBody(out));
  m = Message("HTTP/1.1 200 OK\r\nServer: s\r\n");
  EXPECT_FALSE(m->TakePartialBody(out));
  // Completeness afterwards reflects the edited message.
  m = Message(kChunkedAnswer + "3\r\nabc\r\n");
  EXPECT_FALSE(m->IsCompleteResponse());
  ASSERT_TRUE(m->TakePartialBody(out));
  m->Append("0\r\n\r\n");
  EXPECT_TRUE(m->IsCompleteResponse());
}

// Checking after every piece must answer exactly what a fresh look at the same bytes answers.
TEST(HttpCompleteness, CheckingPieceByPieceMatchesAFreshLook) {
  std::mt19937 rng(7);
  std::vector<std::string> messages = {
      "POST /u HTTP/1.1\r\nHost: h\r\nContent-Length: 37\r\n\r\n" + std::string(37, 'x') + "tail",
      "GET / HTTP/1.1\r\nHost: h\r\n\r\n",
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n",
      kChunkedAnswer + "1a\r\n" + std::string(26, '\r') + "\r\n 3 \r\n\r\n\r\n\r\n0\r\nT: 1\r\n\r\n",
      kChunkedAnswer + "4\r\n\r\n\r\n\r\n" + "ff;x\r\n\r\n\r\n",
      kChunkedAnswer + "\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
  };
  // Random chunked bodies with random chunk sizes and occasional garbage.
  for (int i = 0; i < 40; ++i) {
    std::string body;
    const int chunks = static_cast<int>(rng() % 6);
    for (int c = 0; c < chunks; ++c) {
      const int size = 1 + static_cast<int>(rng() % 40);
      char line[16];
      std::snprintf(line, sizeof line, rng() % 2 ? "%x" : "%X", size);
      body += line;
      body += "\r\n";
      for (int k = 0; k < size; ++k) body.push_back("\r\nab0"[rng() % 5]);
      body += "\r\n";
    }
    if (rng() % 5 == 0) body += "zz\r\n";
    body += rng() % 2 ? "0\r\n\r\n" : "0\r\nX: y\r\n\r\n";
    messages.push_back((rng() % 3 ? kChunkedAnswer : "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") + body);
  }
  for (const auto& text : messages) {
    for (int round = 0; round < 5; ++round) {
      THTTPData growing;
      size_t at = 0;
      while (at < text.size()) {
        const size_t piece = std::min(text.size() - at, static_cast<size_t>(1 + rng() % 9));
        if (rng() % 2) {
          growing.Append(std::string_view(text).substr(at, piece));
        } else {
          // The relay's way: grow by a read size, fill, cut back to what arrived.
          const int32_t old = growing.Length();
          ASSERT_TRUE(growing.SetLength(old + static_cast<int32_t>(piece) + 16));
          std::memcpy(growing.WritableFrom(old), text.data() + at, piece);
          ASSERT_TRUE(growing.SetLength(old + static_cast<int32_t>(piece)));
        }
        at += piece;
        const Reference ref{text.substr(0, at)};
        auto fresh = Message(ref.s);
        ASSERT_EQ(growing.IsCompleteRequest(), fresh->IsCompleteRequest()) << ref.s;
        ASSERT_EQ(growing.IsCompleteResponse(), fresh->IsCompleteResponse()) << ref.s;
        ASSERT_EQ(fresh->IsCompleteRequest(), ref.Complete(false)) << ref.s;
        ASSERT_EQ(fresh->IsCompleteResponse(), ref.Complete(true)) << ref.s;
      }
    }
  }
}

// Streaming an answer: every hand-over equals a fresh look at the same bytes, and the bytes
// handed over plus what stays add up to the answer as sent.
TEST(HttpPartialBody, StreamingPieceByPieceLosesNothing) {
  std::mt19937 rng(11);
  std::vector<std::pair<std::string, std::string>> answers;  // header block, body
  for (int i = 0; i < 30; ++i) {
    std::string body;
    for (int c = static_cast<int>(rng() % 8); c > 0; --c) {
      const int size = 1 + static_cast<int>(rng() % 300);
      body += (rng() % 4 ? "" : " ") +
              [&] {
                char line[16];
                std::snprintf(line, sizeof line, "%x", size);
                return std::string(line);
              }() +
              "\r\n" + std::string(static_cast<size_t>(size), "\r\nq"[rng() % 3]) + "\r\n";
    }
    if (rng() % 6 == 0) body += "1;e\r\nz\r\n";
    body += "0\r\n\r\n";
    answers.emplace_back(kChunkedAnswer, body);
  }
  answers.emplace_back("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n", std::string(5000, 'c'));
  answers.emplace_back("HTTP/1.0 200 OK\r\n\r\n", std::string(3000, 'u'));
  for (const auto& [head, body] : answers) {
    const std::string text = head + body;
    THTTPData growing;
    std::string handed;
    size_t at = 0;
    while (at < text.size()) {
      const size_t piece = std::min(text.size() - at, static_cast<size_t>(1 + rng() % 40));
      growing.Append(std::string_view(text).substr(at, piece));
      at += piece;
      if (rng() % 2) growing.IsCompleteResponse();
      auto fresh = Message(growing.AsString());
      std::string a, b;
      const bool took = growing.TakePartialBody(a);
      ASSERT_EQ(took, fresh->TakePartialBody(b)) << growing.AsString();
      ASSERT_EQ(a, b);
      ASSERT_EQ(growing.AsString(), fresh->AsString());
      ASSERT_EQ(growing.IsCompleteResponse(), fresh->IsCompleteResponse());
      handed += a;
    }
    const std::string rest = growing.AsString().substr(static_cast<size_t>(growing.HeaderLength()));
    EXPECT_EQ(handed + rest, body);
    if (head == kChunkedAnswer) {
      EXPECT_EQ(growing.Copy(0, growing.HeaderLength()), head);
      EXPECT_TRUE(growing.IsCompleteResponse() || body.find(';') != std::string::npos);
    }
  }
}
