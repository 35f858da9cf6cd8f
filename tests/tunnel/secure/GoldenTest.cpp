// Fixed bytes of the protected format, built with the emulation engine: the tunnel's side must
// produce exactly these bytes and the gateway's side must read them (and the other way round for
// the answer), so that a mistake made the same way on both sides cannot pass unnoticed.
#include <cstdio>

#include "support/SecureSupport.h"

using namespace securetest;

namespace {

// Printable bytes as they are, every other byte as \xHH: readable, and exact.
std::string Escaped(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') {
      out.push_back(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    }
  }
  return out;
}

std::string Unescaped(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

const vg::TKeyRecord kRecord = SampleKey(3);

const char kKeyRequest[] =
    R"(GET /shop/order HTTP/1.1\x0D\x0A)"
    R"(Host: www.protected.test\x0D\x0A)"
    R"(Connection: keep-alive\x0D\x0A)"
    R"(Vg-Hm: getkey\x0D\x0A)"
    R"(Vg-Psl: 21\x0D\x0A)"
    R"(Vg-Pa: QS-Veilgate/1.5\x0D\x0A)"
    R"(Vg-Pe: Emulation/1.0\x0D\x0A)"
    R"(Vg-Cm: 2\x0D\x0A)"
    R"(Vg-Krd: RU1FMQhjbGllbnQtMQZnYXRlLTH6XHpPlS2jQqB_NHEayVhLxAwbsCqfmkErITwLXfiLEEx7yUjmrUSzkaFJkAdpZYGNa7eEYYBFFJDEeInoHQ..\x0D\x0A)"
    R"(\x0D\x0A)";

const char kRequest[] =
    R"(POST /shop/order HTTP/1.1\x0D\x0A)"
    R"(Host: www.protected.test\x0D\x0A)"
    R"(Cookies: basket=7\x0D\x0A)"
    R"(Vg-Oct: text/plain\x0D\x0A)"
    R"(Vg-Ocl: 12\x0D\x0A)"
    R"(Vg-Psl: 21\x0D\x0A)"
    R"(Content-Length: 116\x0D\x0A)"
    R"(Vg-Pa: QS-Veilgate/1.5\x0D\x0A)"
    R"(Vg-Pe: Emulation/1.0\x0D\x0A)"
    R"(Vg-Cm: 2\x0D\x0A)"
    R"(\x0D\x0A)"
    R"(EME1\x08client-1\x06gate-1\x05O\x8E;M\xC8\x9C\xBC\xA4\xBB,\x1BC\x83GF!\xB7\xD5\xDFu\xD1\xDD\xC0F\x97\xB5\xB9\xED\xD2\x8F\x88\xC6\xE9\x17m\x16\x1FNv\xF7\x05\x02\xFD\xBF=\x16\x14\xAE\xF8\x0D\xE2+\x91y\x0D\xC5\xFC4G\x96Zl\xE94\xAE;\x12\x8C\x0E\xD1\x9E\x89?uG\xE0\xA3\x05&4F\xC9Qx\xE0\xC6x\xC7\xBC\x89dq)\x8Cu)";

const char kAnswer[] =
    R"(HTTP/1.1 200 OK\x0D\x0A)"
    R"(Vg-Oct: text/html\x0D\x0A)"
    R"(Set-Cookie: basket=0\x0D\x0A)"
    R"(Vg-Ocl: 20\x0D\x0A)"
    R"(Vg-Psl: 19\x0D\x0A)"
    R"(Content-Length: 130\x0D\x0A)"
    R"(Vg-Pa: QS-Veilgate/1.5\x0D\x0A)"
    R"(Vg-Pe: Emulation/1.0\x0D\x0A)"
    R"(Vg-Cm: 1\x0D\x0A)"
    R"(\x0D\x0A)"
    R"(EME1\x06gate-1\x08client-1\x9Dfb\xCD\x9F\x1D\x06\x96-7\x90U\xF4\x86\xFE\x0AOz!Q\xB8x\xDA\x92\xC14\xC6G:^n\x11\xF5,\x5C\xA0\x14\x18~\xD8~\xD9&\x86\x9A\xF0.V\x00\xD6\xC7K\x8B\x91\xB7\xC2\xC3m\xA8a=l\x96\xCE\x8B\x0C\x9D\xD9\xA23\xDD1~\x1A\x80\x9F\x11Z\xB7TjVLV\x8A\xAD\x1C)\xFC\xCB\xA0\xE7\xB6\x03e\x0C-\xFA\xE5\x8B\xBB4.|\xA4w\x9Ev\x82S)";

TEST_F(SecureTest, AKeyRequestHasItsFixedBytes) {
  auto browser = Client("POST /shop/order HTTP/1.1\r\nHost: www.protected.test\r\nContent-Length: 3\r\n\r\nabc");
  auto key = Client("", 2);
  ASSERT_TRUE(vg::BuildKeyRequest(*browser, "www.protected.test", kRecord, *key)) << key->FirstError();
  EXPECT_EQ(Escaped(key->View()), kKeyRequest);

  auto gate = Gateway(Unescaped(kKeyRequest));
  vg::TKeyRecord record{};
  std::string peer;
  ASSERT_TRUE(vg::AcceptKeyRequest(*gate, record, peer)) << gate->FirstError();
  EXPECT_EQ(record, kRecord);
  EXPECT_EQ(peer, "client-1");
}

TEST_F(SecureTest, AProtectedRequestAndAnswerHaveTheirFixedBytes) {
  const std::string plain =
      "POST /shop/order HTTP/1.1\r\nHost: www.protected.test\r\nCookies: basket=7\r\nContent-Type: text/plain\r\n"
      "Content-Length: 12\r\n\r\nitem=42&n=1\n";
  auto request = Client(plain, 2);
  ASSERT_TRUE(vg::ProtectRequestWithKey(*request, kRecord, vg::kParameterTextVersion)) << request->FirstError();
  EXPECT_EQ(Escaped(request->View()), kRequest);

  auto gate = Gateway(Unescaped(kRequest));
  vg::TKeyRecord key{};
  std::string peer;
  ASSERT_TRUE(vg::UnprotectRequestWithKey(*gate, vg::kParameterTextVersion, key, peer)) << gate->FirstError();
  EXPECT_EQ(key, kRecord);
  EXPECT_EQ(peer, "client-1");
  EXPECT_EQ(gate->View().substr(gate->HeaderLength()), "item=42&n=1\n");
  EXPECT_EQ(gate->GetHeader("Cookies"), "basket=7");

  const std::string page = "<html>ordered</html>";
  auto answer = Gateway("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nSet-Cookie: basket=0\r\nContent-Length: " +
                            std::to_string(page.size()) + "\r\n\r\n" + page,
                        1);
  ASSERT_TRUE(vg::ProtectAnswerWithKey(*answer, kRecord, vg::kParameterTextVersion, "client-1"))
      << answer->FirstError();
  EXPECT_EQ(Escaped(answer->View()), kAnswer);

  auto received = Client(Unescaped(kAnswer));
  ASSERT_TRUE(vg::UnprotectAnswerWithKey(*received, kRecord, vg::kParameterTextVersion, peer))
      << received->FirstError();
  EXPECT_EQ(received->View().substr(received->HeaderLength()), page);
  EXPECT_EQ(received->GetHeader("Set-Cookie"), "basket=0");
  EXPECT_EQ(received->GetHeader("Content-Type"), "text/html");
}

}  // namespace
