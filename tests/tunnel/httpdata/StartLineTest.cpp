// The start line of the HTTP message: request kinds, versions, status codes, targets, hosts.
#include <gtest/gtest.h>

#include "tunnel/httpdata.h"

using vg::THTTPData;

namespace {

std::unique_ptr<THTTPData> Message(std::string_view text) {
  auto m = std::make_unique<THTTPData>();
  m->Assign(text);
  return m;
}

int Kind(std::string_view text) { return Message(text)->RequestKind(); }

}  // namespace

TEST(HttpStartLine, EveryRequestKind) {
  EXPECT_EQ(Kind("OPTIONS * HTTP/1.1\r\n\r\n"), THTTPData::rkOptions);
  EXPECT_EQ(Kind("GET / HTTP/1.1\r\n\r\n"), THTTPData::rkGet);
  EXPECT_EQ(Kind("HEAD / HTTP/1.1\r\n\r\n"), THTTPData::rkHead);
  EXPECT_EQ(Kind("POST / HTTP/1.1\r\n\r\n"), THTTPData::rkPost);
  EXPECT_EQ(Kind("PUT / HTTP/1.1\r\n\r\n"), THTTPData::rkPut);
  EXPECT_EQ(Kind("DELETE / HTTP/1.1\r\n\r\n"), THTTPData::rkDelete);
  EXPECT_EQ(Kind("TRACE / HTTP/1.1\r\n\r\n"), THTTPData::rkTrace);
  EXPECT_EQ(Kind("CONNECT host:443 HTTP/1.1\r\n\r\n"), THTTPData::rkConnect);
  EXPECT_EQ(Kind("GET / HTTP/1.1\r\nVg-Hm: getkey\r\n\r\n"), THTTPData::rkKeyRequest);
  EXPECT_EQ(Kind("GET / HTTP/1.1\r\nVg-Hm:gbt\r\n\r\n"), THTTPData::rkTokenGet);
  // Vg-Hm only matters for GET; its value is compared exactly.
  EXPECT_EQ(Kind("POST / HTTP/1.1\r\nVg-Hm: getkey\r\n\r\n"), THTTPData::rkPost);
  EXPECT_EQ(Kind("GET / HTTP/1.1\r\nVg-Hm: GetKey\r\n\r\n"), THTTPData::rkGet);
  EXPECT_EQ(Kind("GET / HTTP/1.1\r\nvg-hm: getkey\r\n\r\n"), THTTPData::rkKeyRequest);
  // Methods are case-sensitive and must be followed by a space on the first line.
  EXPECT_EQ(Kind("get / HTTP/1.1\r\n\r\n"), THTTPData::rkUnknown);
  EXPECT_EQ(Kind("GETX / HTTP/1.1\r\n\r\n"), THTTPData::rkUnknown);
  EXPECT_EQ(Kind("GET\r\nHost: a b\r\n\r\n"), THTTPData::rkUnknown);
  EXPECT_EQ(Kind("GET"), THTTPData::rkUnknown);
  EXPECT_EQ(Kind(""), THTTPData::rkUnknown);
  EXPECT_EQ(Kind("GET "), THTTPData::rkGet);
}

TEST(HttpStartLine, SetRequestKind) {
  const std::string base = "POST /x HTTP/1.1\r\nHost: a\r\n\r\n";
  for (int kind = THTTPData::rkOptions; kind <= THTTPData::rkTokenGet; ++kind) {
    auto m = Message(base);
    m->SetRequestKind(kind);
    EXPECT_EQ(m->RequestKind(), kind) << kind;
    EXPECT_NE(m->Find(" /x HTTP/1.1\r\nHost: a\r\n"), THTTPData::npos) << kind;
  }
  auto m = Message(base);
  m->SetRequestKind(THTTPData::rkKeyRequest);
  EXPECT_EQ(m->AsString(), "GET /x HTTP/1.1\r\nHost: a\r\nVg-Hm: getkey\r\n\r\n");
  m->SetRequestKind(THTTPData::rkTokenGet);
  EXPECT_EQ(m->AsString(), "GET /x HTTP/1.1\r\nHost: a\r\nVg-Hm: gbt\r\n\r\n");
  m->SetRequestKind(THTTPData::rkUnknown);
  m->SetRequestKind(11);
  m->SetRequestKind(-1);
  EXPECT_EQ(m->AsString(), "GET /x HTTP/1.1\r\nHost: a\r\nVg-Hm: gbt\r\n\r\n");
  m = Message("NOSPACE\r\n\r\n");
  m->SetRequestKind(THTTPData::rkPost);
  m->SetRequestKind(THTTPData::rkKeyRequest);
  EXPECT_EQ(m->AsString(), "NOSPACE\r\n\r\n");
}

TEST(HttpStartLine, Version) {
  EXPECT_EQ(Message("GET / HTTP/1.0\r\n\r\n")->HttpVersion(), 65536u);
  EXPECT_EQ(Message("HTTP/1.1 200 OK\r\n\r\n")->HttpVersion(), 65537u);
  EXPECT_EQ(Message("GET / HTTP/2.13\r\n")->HttpVersion(), 2u * 65536 + 13);
  EXPECT_EQ(Message("GET /HTTP/9.9 HTTP/1.1\r\n\r\n")->HttpVersion(), 65537u);  // must follow a space
  EXPECT_EQ(Message("GET /xHTTP/1.1\r\n\r\n")->HttpVersion(), 0u);
  EXPECT_EQ(Message("GET / HTTP/1.x\r\n\r\n")->HttpVersion(), 65536u);
  EXPECT_EQ(Message("GET / HTTP/0.9\r\n\r\n")->HttpVersion(), 0u);
  EXPECT_EQ(Message("GET / HTTP/x.1\r\n\r\n")->HttpVersion(), 0u);
  EXPECT_EQ(Message("GET / HTTP/1\r\nX: 1.1\r\n\r\n")->HttpVersion(), 0u);  // no "." on the line
  EXPECT_EQ(Message("GET / HTTP/65536.1\r\n\r\n")->HttpVersion(), 0u);
  EXPECT_EQ(Message("GET / HTTP/1.99999999999\r\n\r\n")->HttpVersion(), 65536u);
  EXPECT_EQ(Message("GET /\r\nX: HTTP/1.1\r\n\r\n")->HttpVersion(), 0u);
  EXPECT_FALSE(Message("GET /\r\n\r\n")->HasVersion());
  EXPECT_TRUE(Message("HTTP/1.0 200 OK")->HasVersion());
}

TEST(HttpStartLine, StatusCode) {
  EXPECT_EQ(Message("HTTP/1.1 200 OK\r\n\r\n")->StatusCode(), 200);
  EXPECT_EQ(Message("HTTP/1.1 404  Not Found\r\n\r\n")->StatusCode(), 404);
  // The reason phrase is optional, and so is the blank before it.
  EXPECT_EQ(Message("HTTP/1.1 200\r\n\r\n")->StatusCode(), 200);
  EXPECT_EQ(Message("HTTP/1.1 304 \r\n\r\n")->StatusCode(), 304);
  EXPECT_EQ(Message("HTTP/1.1 200\r\nX: a b\r\n\r\n")->StatusCode(), 200);
  EXPECT_EQ(Message("HTTP/1.1 200")->StatusCode(), 200);
  EXPECT_EQ(Message("HTTP/1.1  200 OK\r\n\r\n")->StatusCode(), 0);
  EXPECT_EQ(Message("HTTP/1.1 2x0 OK\r\n\r\n")->StatusCode(), 0);
  EXPECT_EQ(Message("HTTP/1.1 99999999999 OK\r\n\r\n")->StatusCode(), 0);
  EXPECT_EQ(Message("GET / HTTP/1.1\r\n\r\n")->StatusCode(), 0);
  EXPECT_TRUE(Message("HTTP/1.1 100 Continue\r\n\r\n")->IsInformational());
  EXPECT_TRUE(Message("HTTP/1.1 199 X\r\n\r\n")->IsInformational());
  EXPECT_FALSE(Message("HTTP/1.1 200 OK\r\n\r\n")->IsInformational());
  EXPECT_FALSE(Message("HTTP/1.1 099 X\r\n\r\n")->IsInformational());
}

TEST(HttpStartLine, GetHost) {
  EXPECT_EQ(Message("GET http://example.org:8080/a/b HTTP/1.1\r\nHost: other\r\n\r\n")->GetHost(), "example.org:8080");
  EXPECT_EQ(Message("GET /a HTTP/1.1\r\nHost: example.org\r\n\r\n")->GetHost(), "example.org");
  EXPECT_EQ(Message("CONNECT secure.example.org:443 HTTP/1.1\r\n\r\n")->GetHost(), "secure.example.org:443");
  EXPECT_EQ(Message("GET /a HTTP/1.1\r\n\r\n")->GetHost(), "");
  EXPECT_EQ(Message("GET host/a HTTP/1.1\r\n\r\n")->GetHost(), "host");
  // An absolute target without a path ends its host at the space before the version.
  EXPECT_EQ(Message("GET http://example.org HTTP/1.1\r\n\r\n")->GetHost(), "example.org");
  // The first "/" of the header block must open the "//".
  EXPECT_EQ(Message("G/T http://example.org/ HTTP/1.1\r\n\r\n")->GetHost(), "");
  // The host never runs past the first line.
  EXPECT_EQ(Message("GET http://example.org\r\nX: a/b\r\n\r\n")->GetHost(), "");
  EXPECT_EQ(Message("CONNECT host:443\r\nX: a b\r\n\r\n")->GetHost(), "host:443");
  EXPECT_EQ(Message("GET /a HTTP/1.1\r\nhost: example.org\r\n\r\n")->GetHost(), "example.org");
  EXPECT_EQ(Message("GET")->GetHost(), "");
}

TEST(HttpStartLine, TargetFormRoundTrips) {
  struct Case {
    const char* relative;
    const char* absolute;
  } cases[] = {
      {"GET /a/b?c HTTP/1.1\r\nHost: example.org\r\n\r\n",
       "GET http://example.org/a/b?c HTTP/1.1\r\nHost: example.org\r\n\r\n"},
      {"OPTIONS * HTTP/1.1\r\nHost: example.org:81\r\n\r\n",
       "OPTIONS http://example.org:81/ HTTP/1.1\r\nHost: example.org:81\r\n\r\n"},
      {"POST / HTTP/1.0\r\nHost: h\r\nContent-Length: 2\r\n\r\nab",
       "POST http://h/ HTTP/1.0\r\nHost: h\r\nContent-Length: 2\r\n\r\nab"},
  };
  for (const auto& c : cases) {
    auto m = Message(c.relative);
    EXPECT_TRUE(m->IsRelativeTarget());
    m->SetTargetForm(true);
    EXPECT_EQ(m->AsString(), c.relative);
    m->SetTargetForm(false);
    EXPECT_EQ(m->AsString(), c.absolute);
    EXPECT_FALSE(m->IsRelativeTarget());
    m->SetTargetForm(false);
    EXPECT_EQ(m->AsString(), c.absolute);
    m->SetTargetForm(true);
    EXPECT_EQ(m->AsString(), c.relative);
  }
  // An OPTIONS target "/" that is not the only character stays; other kinds keep "/".
  auto m = Message("OPTIONS http://h/x HTTP/1.1\r\n\r\n");
  m->SetTargetForm(true);
  EXPECT_EQ(m->AsString(), "OPTIONS /x HTTP/1.1\r\n\r\n");
  m = Message("GET http://h/ HTTP/1.1\r\n\r\n");
  m->SetTargetForm(true);
  EXPECT_EQ(m->AsString(), "GET / HTTP/1.1\r\n\r\n");
  // No path: the target becomes "/" and the version survives.
  m = Message("GET http://h HTTP/1.1\r\n\r\n");
  m->SetTargetForm(true);
  EXPECT_EQ(m->AsString(), "GET / HTTP/1.1\r\n\r\n");
  m = Message("OPTIONS http://h HTTP/1.1\r\n\r\n");
  m->SetTargetForm(true);
  EXPECT_EQ(m->AsString(), "OPTIONS * HTTP/1.1\r\n\r\n");
  // Nothing to work on.
  m = Message("GET http://h\r\n\r\n");
  m->SetTargetForm(true);
  EXPECT_EQ(m->AsString(), "GET http://h\r\n\r\n");
  m = Message("NOSPACE\r\n\r\n");
  m->SetTargetForm(false);
  EXPECT_EQ(m->AsString(), "NOSPACE\r\n\r\n");
  // Upper-case scheme counts as a relative target.
  EXPECT_TRUE(Message("GET HTTP://h/ HTTP/1.1\r\n\r\n")->IsRelativeTarget());
}

TEST(HttpStartLine, SetHost) {
  auto m = Message("GET http://old.org/p HTTP/1.1\r\nHost: old.org\r\n\r\n");
  m->SetHost("new.org:8443");
  EXPECT_EQ(m->AsString(), "GET http://new.org:8443/p HTTP/1.1\r\nHost: new.org:8443\r\n\r\n");
  EXPECT_EQ(m->GetHost(), "new.org:8443");
  m = Message("OPTIONS http://old.org/ HTTP/1.1\r\n\r\n");
  m->SetHost("new.org");
  EXPECT_EQ(m->AsString(), "OPTIONS http://new.org/ HTTP/1.1\r\nHost: new.org\r\n\r\n");
  m = Message("GET /p HTTP/1.1\r\nHost: old.org\r\n\r\n");
  m->SetHost("new.org");
  EXPECT_EQ(m->AsString(), "GET /p HTTP/1.1\r\nHost: new.org\r\n\r\n");
  // Without a terminator the header cannot be added and the target keeps its host.
  m = Message("GET http://old.org/p HTTP/1.1\r\n");
  m->SetHost("new.org");
  EXPECT_EQ(m->AsString(), "GET http://old.org/p HTTP/1.1\r\n");
}
