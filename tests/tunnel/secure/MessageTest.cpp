// Whole-message and token protection between the two sides, and what they do with forged values.
#include <cstring>

#include "platform/SysUtils.h"
#include "support/SecureSupport.h"

using namespace securetest;
using vg::TSecureHTTPData;

namespace {

// The header lines of a message in order, names only.
std::vector<std::string> HeaderNames(const vg::THTTPData& m) {
  std::vector<std::string> names;
  const std::string head(m.View().substr(0, static_cast<size_t>(m.HeaderLength())));
  size_t pos = head.find("\r\n");
  while (pos != std::string::npos && pos + 2 < head.size()) {
    const size_t end = head.find("\r\n", pos + 2);
    const std::string line = head.substr(pos + 2, end - pos - 2);
    if (line.empty()) break;
    names.push_back(line.substr(0, line.find(':')));
    pos = end;
  }
  return names;
}

class ProtectRoundTrip : public SecureTest, public ::testing::WithParamInterface<std::tuple<size_t, int>> {};

}  // namespace

TEST_P(ProtectRoundTrip, GatewayRestoresTheExactRequest) {
  const auto [size, mode] = GetParam();
  const std::string plain = Post(Patterned(size));
  auto c = Client(plain, static_cast<uint8_t>(mode));
  ASSERT_TRUE(c->Protect()) << c->FirstError();
  if (size == 0) {
    EXPECT_EQ(c->AsString(), plain);  // nothing to protect
    return;
  }
  const auto names = HeaderNames(*c);
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 5, names.end()),
            (std::vector<std::string>{"Vg-Psl", "Content-Length", "Vg-Pa", "Vg-Pe", "Vg-Cm"}));
  EXPECT_EQ(c->GetHeader("Vg-Ocl"), std::to_string(size));
  EXPECT_EQ(c->GetHeader("Vg-Oct"), "text/plain");
  EXPECT_FALSE(c->HasHeader("Content-Type"));
  EXPECT_EQ(c->GetHeader("Vg-Pa"), "QS-Veilgate/1.5");
  EXPECT_EQ(c->EngineName(), "Emulation/1.0");
  EXPECT_EQ(c->GetHeaderInt("Vg-Cm"), mode);
  EXPECT_EQ(c->GetHeaderInt("Content-Length"), c->Length() - c->HeaderLength());
  EXPECT_EQ(c->View().find(Patterned(size).substr(0, 64)), std::string_view::npos) << "plain bytes on the wire";

  auto g = Gateway(c->View());
  std::string signer;
  ASSERT_TRUE(g->Unprotect(signer)) << g->FirstError();
  EXPECT_EQ(signer, "client-1");
  EXPECT_EQ(g->AsString(), plain);
}

INSTANTIATE_TEST_SUITE_P(BodiesAndModes, ProtectRoundTrip,
                         ::testing::Combine(::testing::Values(size_t{0}, size_t{1}, size_t{2}, size_t{65536}),
                                            ::testing::Values(0, 1, 2)));

TEST_F(SecureTest, ChunkedBodyTravelsWithItsFramingInside) {
  const std::string plain =
      "POST /up HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n";
  auto c = Client(plain, 2);
  ASSERT_TRUE(c->Protect()) << c->FirstError();
  EXPECT_FALSE(c->HasHeader("Transfer-Encoding"));
  EXPECT_EQ(c->GetHeader("Vg-Ote"), "chunked");
  EXPECT_FALSE(c->HasHeader("Vg-Ocl"));
  EXPECT_TRUE(c->IsCompleteRequest());  // the outer message is framed by Content-Length
  auto g = Gateway(c->View());
  std::string signer = "known-peer";
  ASSERT_TRUE(g->Unprotect(signer)) << g->FirstError();
  EXPECT_EQ(signer, "known-peer");  // a known signer is kept
  EXPECT_EQ(g->AsString(), plain);
}

TEST_F(SecureTest, CompressModeIsReadOnlyAsOneOrTwo) {
  const std::string plain = Post(Patterned(3000));
  for (const char* forged : {"3", "x", ""}) {
    auto c = Client(plain, 0);
    ASSERT_TRUE(c->Protect());
    auto g = Gateway(c->View());
    if (*forged)
      g->SetHeader("Vg-Cm", forged);
    else
      g->DeleteHeader("Vg-Cm");
    std::string signer;
    ASSERT_TRUE(g->Unprotect(signer)) << forged << ": " << g->FirstError();
    EXPECT_EQ(g->AsString(), plain);
  }
  // A compressed body whose mark was removed arrives as the compressed bytes.
  auto c = Client(plain, 1);
  ASSERT_TRUE(c->Protect());
  auto g = Gateway(c->View());
  g->DeleteHeader("Vg-Cm");
  std::string signer;
  ASSERT_TRUE(g->Unprotect(signer));
  EXPECT_LT(g->Length(), static_cast<int32_t>(plain.size()));
}

TEST_F(SecureTest, SignatureLengthsThatLieAreRefusedAndTheMessageKept) {
  auto c = Client(Post("some body"));
  ASSERT_TRUE(c->Protect());
  const std::string wire = c->AsString();
  struct Case {
    const char* psl;
    bool missingSignature;
  };
  for (const Case& k : {Case{"100000", true}, Case{"0", false}, Case{"-5", false}, Case{"", false}}) {
    auto g = Gateway(wire);
    if (*k.psl)
      g->SetHeader("Vg-Psl", k.psl);
    else
      g->DeleteHeader("Vg-Psl");
    const std::string received = g->AsString();
    std::string signer;
    EXPECT_FALSE(g->Unprotect(signer)) << k.psl;
    ASSERT_FALSE(g->errors.empty()) << k.psl;
    if (k.missingSignature)
      EXPECT_EQ(g->errors.front(), VGT("Ошибка авторизации - отсутствует подпись"));
    else  // no bytes are taken as signature: the engine checks the whole body against none
      EXPECT_TRUE(g->Reported(VGT("Ошибка авторизации"))) << k.psl << ": " << g->FirstError();
    EXPECT_EQ(g->AsString(), received);
    EXPECT_TRUE(signer.empty());
  }
}

TEST_F(SecureTest, AlteredOrMisaddressedBodiesAreRefused) {
  auto c = Client(Post(Patterned(500)), 1);
  ASSERT_TRUE(c->Protect());
  std::string wire = c->AsString();
  wire[wire.size() - 10] ^= 0x20;
  auto g = Gateway(wire);
  std::string signer;
  EXPECT_FALSE(g->Unprotect(signer));
  EXPECT_TRUE(g->Reported(VGT("Ошибка расшифрования"))) << g->FirstError();
  EXPECT_EQ(g->AsString(), wire);

  // Encrypted for someone else.
  auto other = Make(EmulationParams("gate-2", "client-1"), c->View(), 0);
  EXPECT_FALSE(other->Unprotect(signer));
}

TEST_F(SecureTest, DecompressionIsBoundedBySixteenTimesTheMaximumDataLength) {
  const std::string& tooLarge = VGT("Передаваемый документ превышает максимально допустимый размер");
  std::string signer;
  // A body that unpacks beyond the message bound but within the factor is a real page.
  auto c = Client(Post(std::string(100000, 'a')), 2);
  ASSERT_TRUE(c->Protect());
  auto ok = Gateway(c->View());
  ok->SetMaxDataLength(100000 / vg::kDecompressionFactor);
  EXPECT_TRUE(ok->Unprotect(signer)) << ok->FirstError();
  EXPECT_EQ(ok->View().substr(ok->HeaderLength()), std::string(100000, 'a'));

  auto g = Gateway(c->View());
  g->SetMaxDataLength(6249);
  EXPECT_FALSE(g->Unprotect(signer));
  EXPECT_TRUE(g->Reported(tooLarge)) << g->FirstError();

  // A stream that declares 4 GiB is refused before anything is allocated for it.
  std::string forged = "\x16\x13\x11\x1C\xFF\xFF\xFF\xFF";
  forged += std::string(64, 'z');
  auto f = Client(Post(forged), 0);
  ASSERT_TRUE(f->Protect());
  auto h = Gateway(f->View());
  h->SetHeader("Vg-Cm", "1");
  EXPECT_FALSE(h->Unprotect(signer));
  EXPECT_TRUE(h->Reported(tooLarge)) << h->FirstError();
}

TEST_F(SecureTest, FailedProtectionLeavesThePlainMessage) {
  const std::string plain = Post("keep me");
  auto c = Make(EmulationParams("client-1", "gate-1", "Sign"), plain, 1);
  EXPECT_FALSE(c->Protect());
  EXPECT_FALSE(c->errors.empty());
  EXPECT_EQ(c->AsString(), plain);

  auto noPartner = Make(EmulationParams("client-1", ""), plain, 0);
  EXPECT_FALSE(noPartner->Protect());
  EXPECT_EQ(noPartner->AsString(), plain);

  auto garbage = Client("not http at all");
  EXPECT_FALSE(garbage->Protect());
  EXPECT_EQ(garbage->errors.front(), VGT("Неправильный заголовок в HTTP-данных"));
}

TEST_F(SecureTest, ProtocolHeadersCannotBeSmuggledThroughThePlainMessage) {
  // A plain message that already carries a carried-original header loses it, so the peer cannot
  // restore a second, invented Content-Length next to the real framing.
  const std::string plain =
      "POST / HTTP/1.1\r\nHost: h\r\nVg-Ocl: 3\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n";
  auto c = Client(plain);
  ASSERT_TRUE(c->Protect());
  auto g = Gateway(c->View());
  // And a second outer Content-Length added on the way is dropped with the first.
  g->Insert("Content-Length: 1\r\n", g->Find("Host:"));
  std::string signer;
  ASSERT_TRUE(g->Unprotect(signer)) << g->FirstError();
  EXPECT_FALSE(g->HasHeader("Content-Length"));
  EXPECT_EQ(g->GetHeader("Transfer-Encoding"), "chunked");
  EXPECT_TRUE(g->IsCompleteRequest());
}

TEST_F(SecureTest, TokensRoundTripInEveryModeAndRemoveTheirHeaders) {
  for (uint8_t mode : {0, 1, 2}) {
    auto c = Client("GET / HTTP/1.1\r\nHost: h\r\n\r\n", mode);
    std::string token = Patterned(300);
    ASSERT_TRUE(c->ProtectToken(token)) << c->FirstError();
    EXPECT_NE(token, Patterned(300));
    for (const char* h : {"Vg-Psl", "Vg-Pa", "Vg-Pe", "Vg-Cm"}) EXPECT_TRUE(c->HasHeader(h)) << h;
    auto g = Gateway(c->View());
    std::string peer;
    ASSERT_TRUE(g->UnprotectToken(token, peer)) << g->FirstError();
    EXPECT_EQ(token, Patterned(300));
    EXPECT_EQ(peer, "client-1");
    EXPECT_EQ(g->AsString(), "GET / HTTP/1.1\r\nHost: h\r\n\r\n");
  }
  auto c = Client("GET / HTTP/1.1\r\n\r\n");
  std::string empty;
  EXPECT_FALSE(c->ProtectToken(empty));

  // A token signature length beyond the token.
  std::string token = "abc";
  ASSERT_TRUE(c->ProtectToken(token));
  auto g = Gateway(c->View());
  g->SetHeader("Vg-Psl", "5000");
  std::string peer;
  EXPECT_FALSE(g->UnprotectToken(token, peer));
  EXPECT_EQ(g->errors.front(), VGT("Ошибка авторизации - отсутствует подпись"));
}

TEST_F(SecureTest, EngineSelection) {
  TTestMessage m;
  EXPECT_TRUE(m.UseCryptoParams(EmulationParams("a", "b")));
  EXPECT_EQ(m.Engine().EngineType(), "Emulation/1.0");
  vg::TCryptoParams unknown;
  unknown.SetEngineType("No Such Engine");
  EXPECT_FALSE(m.UseCryptoParams(unknown));
  EXPECT_FALSE(m.errors.empty());  // the engine's report reaches the message
  EXPECT_FALSE(m.UseCryptoParams(vg::TCryptoParams()));
}

TEST_F(SecureTest, BodyBufferIsSizedOnceForSignatureAndOverhead) {
  auto c = Client(Post(std::string(1000, 'q')));
  const int32_t room = 1000 + c->Engine().MaxSignatureLength() + c->Engine().MaxEncodeAddition();
  ASSERT_TRUE(c->Protect());
  EXPECT_EQ(c->BodyCapacity(), room);
  c->Assign(Post("short"));
  ASSERT_TRUE(c->Protect());
  EXPECT_EQ(c->BodyCapacity(), room);
}
