// Arbitrary bytes as the "OpenSSL" engine's signatures and ciphertexts, and genuine ones with
// bytes changed: nothing may crash, and a changed message may never pass as genuine.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "OpenSslEngine.h"

namespace {

using engmod10::OpenSslEngine;

struct Fixture {
  std::unique_ptr<OpenSslEngine> client;
  std::unique_ptr<OpenSslEngine> gateway;
  std::vector<uint8_t> data;
  std::vector<uint8_t> signature;
  std::vector<uint8_t> ciphertext;
};

std::string MakePki() {
  if (const char* env = std::getenv("VG_ENGMOD10_PKI")) return env;
  const auto dir = std::filesystem::temp_directory_path() / "engmod10-fuzz-pki";
  if (!std::filesystem::exists(dir / "password.txt")) {
    // Small keys keep the private-key operations from dominating the run.
    const std::string command =
        "DEMO_PKI_BITS=1024 bash '" VG_SOURCE_DIR "/scripts/make-demo-pki.sh' '" + dir.string() + "' >/dev/null";
    if (std::system(command.c_str()) != 0) std::abort();
  }
  return dir.string();
}

std::unique_ptr<OpenSslEngine> Engine(const std::string& pki, const std::string& who, const std::string& partner) {
  auto e = std::make_unique<OpenSslEngine>();
  e->SetParam(OpenSslEngine::kCertificateFile, pki + "/" + who + ".pem");
  e->SetParam(OpenSslEngine::kPrivateKeyFile, pki + "/" + who + ".key");
  e->SetParam(OpenSslEngine::kCaFile, pki + "/ca.pem");
  e->SetParam(OpenSslEngine::kSubscribersDir, pki + "/subscribers");
  e->SetParam(OpenSslEngine::kPartnerUid, partner);
  return e;
}

Fixture& Get() {
  static Fixture f = [] {
    Fixture x;
    const std::string pki = MakePki();
    x.client = Engine(pki, "client", "vg-gateway");
    x.gateway = Engine(pki, "gateway", "vg-client");
    x.data.assign(200, 'q');
    if (x.client->Sign(x.data.data(), x.data.size(), "", x.signature) != engmod10::kOk ||
        x.client->Encode(x.data.data(), x.data.size(), "", x.ciphertext) != engmod10::kOk)
      std::abort();
    return x;
  }();
  return f;
}

// Input after the mode byte: pairs of (position, xor mask) applied to a copy of genuine bytes.
std::vector<uint8_t> Patched(const std::vector<uint8_t>& genuine, const uint8_t* p, size_t n) {
  std::vector<uint8_t> out = genuine;
  for (size_t i = 0; i + 2 < n; i += 3) {
    const size_t pos = (static_cast<size_t>(p[i]) << 8 | p[i + 1]) % out.size();
    out[pos] ^= p[i + 2];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  Fixture& f = Get();
  const uint8_t* rest = input + 1;
  const size_t restSize = size - 1;
  std::string uid;
  std::vector<uint8_t> plain;
  switch (input[0] % 4) {
    case 0:
      f.gateway->Verify(f.data.data(), f.data.size(), rest, restSize, uid);
      break;
    case 1:
      f.gateway->Decode(rest, restSize, plain, uid);
      break;
    case 2: {
      const auto sig = Patched(f.signature, rest, restSize);
      if (f.gateway->Verify(f.data.data(), f.data.size(), sig.data(), sig.size(), uid) == engmod10::kOk &&
          sig != f.signature)
        __builtin_trap();
      break;
    }
    case 3: {
      const auto ct = Patched(f.ciphertext, rest, restSize);
      if (f.gateway->Decode(ct.data(), ct.size(), plain, uid) == engmod10::kOk && ct != f.ciphertext) __builtin_trap();
      break;
    }
  }
  return 0;
}
