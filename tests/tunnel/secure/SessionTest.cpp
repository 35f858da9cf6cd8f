// The key exchange and messages bound to a session key, tunnel side against gateway side.
#include "platform/SysUtils.h"
#include "protection/STFCode.h"
#include "support/SecureSupport.h"

using namespace securetest;
using vg::TKeyRecord;

namespace {

constexpr uint32_t kNew = 65541;  // 1.5
constexpr uint32_t kOld = 65540;  // 1.4

std::string LE16(size_t n) { return std::string{static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)}; }

std::string RecordBytes(const TKeyRecord& key) {
  const auto b = vg::KeyRecordToBytes(key);
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

// A gateway answer whose body is exactly the given plaintext (protected, but with no trailer).
std::unique_ptr<TTestMessage> RawAnswer(std::string_view plaintext) {
  auto g = Gateway("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(plaintext.size()) + "\r\n\r\n" +
                   std::string(plaintext));
  EXPECT_TRUE(g->Protect());
  return g;
}

// A bodyless gateway answer whose "Vg-Krd" token holds exactly the given bytes.
std::unique_ptr<TTestMessage> TokenAnswer(std::string token) {
  auto g = Gateway("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(g->ProtectToken(token));
  g->SetHeader("Vg-Krd", vg::TSTF1::Encode(token));
  return g;
}

class SessionRoundTrip : public SecureTest,
                         public ::testing::WithParamInterface<std::tuple<uint32_t, std::string, int>> {};

}  // namespace

TEST_F(SecureTest, KeyExchange) {
  auto browser = Client(Post("user=a&password=b"));
  browser->SetHeader("Cookies", "sid=1");
  TKeyRecord requestRecord = SampleKey(1);
  auto request = Client("");
  ASSERT_TRUE(vg::BuildKeyRequest(*browser, "www.example.org", requestRecord, *request)) << request->FirstError();
  EXPECT_TRUE(request->View().starts_with("GET /form HTTP/1.1\r\n"));
  EXPECT_EQ(request->RequestKind(), vg::THTTPData::rkKeyRequest);
  EXPECT_EQ(request->GetHeader("Connection"), "keep-alive");
  EXPECT_FALSE(request->HasHeader("Content-Length"));  // a key request never announces a body
  EXPECT_EQ(request->HeaderLength(), request->Length());
  EXPECT_TRUE(request->IsCompleteRequest());

  auto gate = Gateway(request->View());
  TKeyRecord received{};
  std::string peer;
  ASSERT_TRUE(vg::AcceptKeyRequest(*gate, received, peer)) << gate->FirstError();
  EXPECT_EQ(received, requestRecord);
  EXPECT_EQ(peer, "client-1");

  for (const char* agent : {"QS-Veilgate/1.5", "QS-Veilgate/1.4"}) {
    auto answer = Gateway("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    answer->SetAgent(agent);
    ASSERT_TRUE(vg::ProtectKeyAnswer(*answer, SampleKey(9), peer));
    auto back = Client(answer->View());
    TKeyRecord issued{};
    uint32_t version = 0;
    std::string gatewayIdentity;
    ASSERT_TRUE(vg::AcceptKeyAnswer(*back, issued, version, gatewayIdentity)) << back->FirstError();
    EXPECT_EQ(issued, SampleKey(9));
    EXPECT_EQ(version, std::string(agent).ends_with("1.5") ? kNew : kOld);
    EXPECT_EQ(gatewayIdentity, "gate-1");
  }
}

TEST_F(SecureTest, KeyTokensOfTheWrongLengthAreRefused) {
  for (size_t size : {size_t{31}, size_t{33}}) {
    auto answer = TokenAnswer(std::string(size, 'k'));
    auto back = Client(answer->View());
    TKeyRecord issued{};
    uint32_t version = 0;
    std::string peer;
    EXPECT_FALSE(vg::AcceptKeyAnswer(*back, issued, version, peer)) << size;

    auto request = Client("GET / HTTP/1.1\r\nHost: h\r\nVg-Hm: getkey\r\n\r\n");
    std::string token(size, 'k');
    ASSERT_TRUE(request->ProtectToken(token));
    request->SetHeader("Vg-Krd", vg::TSTF1::Encode(token));
    auto gate = Gateway(request->View());
    EXPECT_FALSE(vg::AcceptKeyRequest(*gate, issued, peer)) << size;
    EXPECT_EQ(gate->errors.front(), VGT("Неправильный ключ сессии"));
  }
  // Anything but 200 with a token is no key answer.
  auto answer = TokenAnswer(RecordBytes(SampleKey()));
  std::string redirected = answer->AsString();
  redirected.replace(9, 6, "302 Go");
  auto back = Client(redirected);
  TKeyRecord issued{};
  uint32_t version = 0;
  std::string peer;
  EXPECT_FALSE(vg::AcceptKeyAnswer(*back, issued, version, peer));
  back = Client("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_FALSE(vg::AcceptKeyAnswer(*back, issued, version, peer));
}

TEST_P(SessionRoundTrip, RequestAndAnswerUnderTheKey) {
  const auto [version, body, mode] = GetParam();
  const TKeyRecord key = SampleKey(3);
  const std::string plain =
      body.empty() ? std::string("GET /page?x=1 HTTP/1.1\r\nHost: www.example.org\r\n\r\n") : Post(body);
  auto c = Client(plain, static_cast<uint8_t>(mode));
  ASSERT_TRUE(vg::ProtectRequestWithKey(*c, key, version)) << c->FirstError();
  if (body.empty()) {
    EXPECT_TRUE(c->View().starts_with("GET "));
    EXPECT_EQ(c->GetHeader("Vg-Hm"), "gbt");
    EXPECT_TRUE(c->HasHeader("Vg-Krd"));
  }

  auto g = Gateway(c->View(), static_cast<uint8_t>(mode));
  TKeyRecord carried{};
  std::string peer;
  ASSERT_TRUE(vg::UnprotectRequestWithKey(*g, version, carried, peer)) << g->FirstError();
  EXPECT_EQ(carried, key);
  EXPECT_EQ(peer, "client-1");
  EXPECT_EQ(g->AsString(), plain);

  const std::string answerPlain =
      body.empty() ? std::string("HTTP/1.1 304 Not Modified\r\nETag: \"e\"\r\n\r\n")
                   : "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  auto a = Gateway(answerPlain, static_cast<uint8_t>(mode));
  ASSERT_TRUE(vg::ProtectAnswerWithKey(*a, carried, version, peer)) << a->FirstError();
  EXPECT_TRUE(a->HasHeader("Vg-Pe"));
  auto back = Client(a->View());
  std::string gatewayIdentity;
  ASSERT_TRUE(vg::UnprotectAnswerWithKey(*back, key, version, gatewayIdentity)) << back->FirstError();
  EXPECT_EQ(back->AsString(), answerPlain);
  EXPECT_EQ(gatewayIdentity, "gate-1");

  // The same answer does not pass for another request's key.
  auto stale = Client(a->View());
  TKeyRecord other = key;
  other[7] += 1;
  EXPECT_FALSE(vg::UnprotectAnswerWithKey(*stale, other, version, gatewayIdentity));
  EXPECT_EQ(stale->errors.back(), VGT("Получен неверный ключ сессии"));
}

INSTANTIATE_TEST_SUITE_P(VersionsBodiesModes, SessionRoundTrip,
                         ::testing::Combine(::testing::Values(kNew, kOld),
                                            ::testing::Values(std::string(), std::string("x"), std::string("xy"),
                                                              Patterned(65536)),
                                            ::testing::Values(0, 1, 2)));

TEST_F(SecureTest, OlderPeersGetTheBareRecord) {
  const TKeyRecord key = SampleKey(4);
  // With body: the record in front of the body.
  auto c = Client(Post("data"));
  ASSERT_TRUE(vg::ProtectRequestWithKey(*c, key, kOld));
  auto g = Gateway(c->View());
  std::string peer;
  ASSERT_TRUE(g->Unprotect(peer));
  EXPECT_EQ(g->View().substr(static_cast<size_t>(g->HeaderLength())), RecordBytes(key) + "data");
  // Without body: the token is the record alone.
  c = Client("GET / HTTP/1.1\r\nHost: h\r\n\r\n");
  ASSERT_TRUE(vg::ProtectRequestWithKey(*c, key, kOld));
  g = Gateway(c->View());
  std::string token = vg::TSTF1::Decode(g->GetHeader("Vg-Krd"));
  ASSERT_TRUE(g->UnprotectToken(token, peer));
  EXPECT_EQ(token, RecordBytes(key));
}

TEST_F(SecureTest, ParameterBlockCarriesCookiesBeforeSetCookie) {
  auto c = Client("GET / HTTP/1.1\r\nSet-Cookie: b=2\r\nHost: h\r\nCookies: a=1\r\n\r\n");
  ASSERT_TRUE(vg::ProtectRequestWithKey(*c, SampleKey(), kNew));
  EXPECT_EQ(c->GetHeader("Cookies"), "a=1");  // the headers stay readable as well
  auto g = Gateway(c->View());
  std::string token = vg::TSTF1::Decode(g->GetHeader("Vg-Krd"));
  std::string peer;
  ASSERT_TRUE(g->UnprotectToken(token, peer));
  const std::string lines = "Cookies:a=1\r\nSet-Cookie:b=2";
  EXPECT_EQ(token, RecordBytes(SampleKey()) + LE16(lines.size()) + lines);
}

TEST_F(SecureTest, ParameterBlockOverridesWhatChangedOnTheWay) {
  auto a = Gateway("HTTP/1.1 200 OK\r\nSet-Cookie: sid=good\r\nContent-Length: 2\r\n\r\nok");
  ASSERT_TRUE(vg::ProtectAnswerWithKey(*a, SampleKey(), kNew, "client-1"));
  auto back = Client(a->View());
  back->SetHeader("Set-Cookie", "sid=evil");
  std::string peer;
  ASSERT_TRUE(vg::UnprotectAnswerWithKey(*back, SampleKey(), kNew, peer)) << back->FirstError();
  EXPECT_EQ(back->GetHeader("Set-Cookie"), "sid=good");
}

TEST_F(SecureTest, OversizedHeaderValuesAreLeftOutOfTheBlock) {
  const std::string huge(70000, 'c');
  auto c = Client("GET / HTTP/1.1\r\nHost: h\r\nCookies: " + huge + "\r\nSet-Cookie: s=1\r\n\r\n");
  const std::string block = vg::BuildParameterBlock(*c);
  EXPECT_EQ(block, LE16(14) + "Set-Cookie:s=1");
  ASSERT_TRUE(vg::ProtectRequestWithKey(*c, SampleKey(), kNew)) << c->FirstError();
  auto g = Gateway(c->View());
  TKeyRecord key{};
  std::string peer;
  ASSERT_TRUE(vg::UnprotectRequestWithKey(*g, kNew, key, peer)) << g->FirstError();
  EXPECT_EQ(g->GetHeader("Cookies"), huge);
}

TEST_F(SecureTest, AnswersThatLieAboutLengthsAreRefused) {
  const std::string record = RecordBytes(SampleKey());
  struct Case {
    std::string plaintext;
    uint32_t version;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"x", kNew, VGT("Invalid parameter text")},                                      // no room for the trailer
      {"body" + LE16(0xFFFF), kNew, VGT("Invalid parameter text")},                    // trailer beyond the body
      {"body" + std::string("abc") + LE16(3), kNew, VGT("Неправильный ключ сессии")},  // text shorter than a record
      {record + "z" + LE16(33), kNew, VGT("Invalid parameter block")},                 // block without its length
      {record + LE16(500) + "Set-Cookie:a" + LE16(46), kNew, VGT("Parameter block too short")},
      {record + LE16(14) + "Set-Cookie:a\nb" + LE16(48), kNew, VGT("Invalid parameter block")},
      {record + LE16(5) + "novalue" + LE16(41), kNew, VGT("Invalid parameter block")},
      {std::string(31, 'r'), kOld, VGT("В ответе отсутствует ключ сессии")},
  };
  for (const Case& k : cases) {
    auto a = RawAnswer(k.plaintext);
    auto back = Client(a->View());
    std::string peer;
    EXPECT_FALSE(vg::UnprotectAnswerWithKey(*back, SampleKey(), k.version, peer)) << vg::platform::Cp1251ToUtf8(k.text);
    ASSERT_FALSE(back->errors.empty()) << vg::platform::Cp1251ToUtf8(k.text);
    EXPECT_EQ(back->errors.front(), k.text);
  }
}

TEST_F(SecureTest, BodylessAnswersNeedAGoodToken) {
  std::string peer;
  auto missing = Client("HTTP/1.1 204 No Content\r\nVg-Pe: Emulation/1.0\r\n\r\n");
  EXPECT_FALSE(vg::UnprotectAnswerWithKey(*missing, SampleKey(), kNew, peer));
  EXPECT_EQ(missing->errors.front(), VGT("В ответе отсутствует ключ сессии"));

  // A token that does not unprotect is an access failure for new peers, a plain one for older.
  for (uint32_t version : {kNew, kOld}) {
    auto forged = Client("HTTP/1.1 204 No Content\r\nVg-Krd: QUJDREVGR0g.\r\nVg-Psl: 0\r\n\r\n");
    EXPECT_FALSE(vg::UnprotectAnswerWithKey(*forged, SampleKey(), version, peer));
    const auto& reports = version == kNew ? forged->accessErrors : forged->errors;
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), VGT("Неправильный ключ сессии"));
  }
  // An older peer's token must be exactly the record.
  auto longer = Client(TokenAnswer(RecordBytes(SampleKey()) + "!")->View());
  EXPECT_FALSE(vg::UnprotectAnswerWithKey(*longer, SampleKey(), kOld, peer));
  EXPECT_EQ(longer->errors.back(), VGT("Неправильный ключ сессии"));
}

TEST_F(SecureTest, FailedSessionProtectionGivesTheMessageBack) {
  const std::string plain = Post("keep");
  for (uint32_t version : {kNew, kOld}) {
    auto c = Make(EmulationParams("client-1", "gate-1", "Encode"), plain, 0);
    EXPECT_FALSE(vg::ProtectRequestWithKey(*c, SampleKey(), version));
    EXPECT_EQ(c->AsString(), plain);
  }
}
