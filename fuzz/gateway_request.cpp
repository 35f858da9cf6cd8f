// Arbitrary requests to the reference gateway's protocol side, with the emulation engine: raw
// bytes, requests that the tunnel side protects soundly under an issued key (they must be
// forwarded and their protected answer must check out), and arbitrary plaintext sealed inside a
// sound protection, so that lying lengths inside reach the gateway's checks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Gateway.h"
#include "protection/CipherhubLib.h"
#include "protection/STFCode.h"
#include "FuzzInput.h"

namespace {

class TQuiet : public vg::TSecureHTTPData {
 public:
  void ReportError(const std::string&) override {}
};

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

vg::TCryptoParams Params(const char* uid, const char* partner) {
  vg::TCryptoParams params;
  params.SetEngineType("Emulation/1.0");
  params.AddParam(0, uid);
  params.AddParam(1, partner);
  return params;
}

// The web server echoes the request body.
bool Echo(const vggate::TBackend&, const vg::THTTPData& request, vg::THTTPData& answer, std::string&) {
  const std::string body(request.View().substr(static_cast<size_t>(request.HeaderLength())));
  answer.Assign("HTTP/1.1 200 OK\r\nSet-Cookie: k=v\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                body);
  return true;
}

struct TSide {
  explicit TSide(const char* protocol) {
    vggate::TGateConfig config;
    config.protocol = protocol;
    config.compress = 1;
    config.keyIdleSeconds = 86400 * 30;
    config.maxDataLength = 1 << 20;
    vggate::TBackend backend;
    backend.host.Parse("www.example.org");
    backend.address = "127.0.0.1";
    config.backends.push_back(backend);
    gateway = std::make_unique<vggate::TGateway>(config, Params("gate-1", "client-1"), Echo);
    session = std::make_unique<vggate::TGateSession>(*gateway);
    Check(session->Ready(), "gateway engine (is cipherhub.so built?)");
    Check(client.UseCryptoParams(Params("client-1", "gate-1")), "client engine");
    // One key agreed at the start serves every sound request.
    TQuiet browser;
    browser.Assign("GET / HTTP/1.1\r\nHost: www.example.org\r\n\r\n");
    vg::TKeyRecord record{};
    Check(vg::BuildKeyRequest(browser, "www.example.org", record, client), "key request");
    client.Assign(session->Handle(client.View()).answer);
    std::string peer;
    Check(vg::AcceptKeyAnswer(client, key, version, peer), "key answer");
  }
  std::unique_ptr<vggate::TGateway> gateway;
  std::unique_ptr<vggate::TGateSession> session;
  TQuiet client;
  vg::TKeyRecord key{};
  uint32_t version = 0;
};

std::string PathText(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) c = 'p';
  return "/" + s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TSide newer("1.5");
  static TSide older("1.4");
  TInput in{data, size};
  const uint8_t mode = in.Byte();
  TSide& side = (mode & 1) ? newer : older;
  switch ((mode >> 1) % 3) {
    case 0:
      side.session->Handle(in.Rest());
      return 0;
    case 1: {
      const bool post = in.Byte() & 1;
      const std::string path = PathText(in.Take(in.Byte() % 64));
      const std::string cookie = PathText(in.Take(in.Byte() % 64));
      const std::string body = post ? in.Rest() : std::string();
      std::string plain = (post ? "POST " : "GET ") + path + " HTTP/1.1\r\nHost: www.example.org\r\nCookies: " + cookie;
      if (post) plain += "\r\nContent-Length: " + std::to_string(body.size());
      plain += "\r\n\r\n" + body;
      side.client.Assign(plain);
      side.client.SetCompressMode(static_cast<uint8_t>(mode >> 4) % 3);
      side.key[7] += 1;
      Check(vg::ProtectRequestWithKey(side.client, side.key, side.version), "sound request protected");
      const vggate::TExchangeResult result = side.session->Handle(side.client.View());
      Check(result.status == 200, "sound request answered");
      side.client.Assign(result.answer);
      std::string peer;
      Check(vg::UnprotectAnswerWithKey(side.client, side.key, side.version, peer), "answer checks out");
      Check(side.client.View().substr(static_cast<size_t>(side.client.HeaderLength())) == body, "body echoed");
      return 0;
    }
    default: {
      const uint8_t flags = in.Byte();
      const std::string plaintext = in.Rest();
      side.client.SetCompressMode(0);
      if (flags & 8) {
        side.client.Assign("GET / HTTP/1.1\r\nHost: www.example.org\r\n\r\n");
        std::string token = plaintext;
        if (!side.client.ProtectToken(token)) return 0;
        side.client.SetHeader("Vg-Krd", vg::TSTF1::Encode(token));
        side.client.SetRequestKind((flags & 16) ? vg::THTTPData::rkKeyRequest : vg::THTTPData::rkTokenGet);
      } else {
        side.client.Assign("POST / HTTP/1.1\r\nHost: www.example.org\r\nContent-Length: " +
                           std::to_string(plaintext.size()) + "\r\n\r\n" + plaintext);
        if (!side.client.Protect()) return 0;
      }
      side.client.SetHeaderInt("Vg-Cm", flags & 3);
      if (flags & 4) side.client.SetHeaderInt("Vg-Psl", static_cast<int>(flags >> 5) * 7 - 3);
      side.session->Handle(side.client.View());
      return 0;
    }
  }
}
