// Arbitrary answers to the tunnel's answer check, with the emulation engine. Besides raw bytes the
// input can describe an answer that the gateway side protects soundly (it must then pass the check
// and give back its body) or arbitrary plaintext sealed inside a sound protection (so that the
// trailer, the parameter block and the compressed stream are reached with lying lengths).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protection/CipherhubLib.h"
#include "protection/STFCode.h"
#include "tunnel/SecureHttp.h"
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

struct TSides {
  TSides() {
    vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
    Check(client.UseCryptoParams(Params("client-1", "gate-1")), "client engine (is cipherhub.so built?)");
    Check(gate.UseCryptoParams(Params("gate-1", "client-1")), "gateway engine");
  }
  TQuiet client;
  TQuiet gate;
};

// Printable characters only, so that the text is a valid header value.
std::string HeaderValue(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) c = 'v';
  return s;
}

const vg::TKeyRecord kKey = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TSides sides;
  TInput in{data, size};
  const uint8_t mode = in.Byte();
  const uint32_t version = (mode & 1) ? 65541 : 65540;
  std::string wire;
  switch ((mode >> 1) % 3) {
    case 0:
      wire = in.Rest();
      break;
    case 1: {
      const uint8_t compress = in.Byte() % 3;
      const std::string cookie = HeaderValue(in.Take(in.Byte()));
      const std::string body = in.Rest();
      std::string plain = "HTTP/1.1 200 OK\r\n";
      if (!cookie.empty()) plain += "Set-Cookie: " + cookie + "\r\n";
      plain += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
      sides.gate.Assign(plain);
      sides.gate.SetCompressMode(compress);
      Check(vg::ProtectAnswerWithKey(sides.gate, kKey, version, "client-1"), "sound answer protected");
      sides.client.Assign(sides.gate.View());
      std::string peer;
      Check(vg::UnprotectAnswerWithKey(sides.client, kKey, version, peer), "sound answer accepted");
      Check(sides.client.View().substr(static_cast<size_t>(sides.client.HeaderLength())) == body, "body kept");
      Check(sides.client.GetHeader("Set-Cookie") == sides.gate.GetHeader("Set-Cookie"), "cookie kept");
      return 0;
    }
    default: {
      const uint8_t flags = in.Byte();
      const std::string declaredSignature = std::to_string(static_cast<int>(in.Byte()) - 16);
      const std::string plaintext = in.Rest();
      sides.gate.SetCompressMode(0);
      if (flags & 8) {
        // Bodyless: the plaintext is the token.
        sides.gate.Assign("HTTP/1.1 304 Not Modified\r\n\r\n");
        std::string token = plaintext;
        if (!sides.gate.ProtectToken(token, "client-1")) return 0;
        sides.gate.SetHeader("Vg-Krd", vg::TSTF1::Encode(token));
      } else {
        sides.gate.Assign("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(plaintext.size()) + "\r\n\r\n" +
                          plaintext);
        if (!sides.gate.Protect("client-1")) return 0;
      }
      // Declared facts that need not match what was sealed.
      sides.gate.SetHeaderInt("Vg-Cm", flags & 3);
      if (flags & 4) sides.gate.SetHeader("Vg-Psl", declaredSignature);
      wire = sides.gate.AsString();
      break;
    }
  }
  sides.client.Assign(wire);
  std::string peer;
  if (vg::UnprotectAnswerWithKey(sides.client, kKey, version, peer))
    Check(sides.client.Length() >= sides.client.HeaderLength(), "an accepted answer is a message");
  return 0;
}
