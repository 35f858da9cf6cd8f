// The "OpenSSL" engine: sign, verify, encrypt and decrypt of 1 KiB and 1 MiB, and a fresh engine
// object per connection; each against the bare libcrypto operation it is built on, measured in
// the same run, so the ratios show what CMS and the engine add.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "OpenSslEngine.h"

namespace {

using engmod10::OpenSslEngine;

std::string g_pki;

std::unique_ptr<OpenSslEngine> Engine(const std::string& who, const std::string& partner) {
  auto e = std::make_unique<OpenSslEngine>();
  e->SetParam(OpenSslEngine::kCertificateFile, g_pki + "/" + who + ".pem");
  e->SetParam(OpenSslEngine::kPrivateKeyFile, g_pki + "/" + who + ".key");
  e->SetParam(OpenSslEngine::kCaFile, g_pki + "/ca.pem");
  e->SetParam(OpenSslEngine::kSubscribersDir, g_pki + "/subscribers");
  e->SetParam(OpenSslEngine::kPartnerUid, partner);
  return e;
}

std::vector<uint8_t> Data(size_t n) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(1);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

EVP_PKEY* ReadKey(const std::string& file) {
  FILE* f = std::fopen(file.c_str(), "r");
  if (!f) std::abort();
  EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!key) std::abort();
  return key;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

void BM_Sign(benchmark::State& state) {
  auto client = Engine("client", "vg-gateway");
  const auto data = Data(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> sig;
  for (auto _ : state) Check(client->Sign(data.data(), data.size(), "", sig) == engmod10::kOk);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Verify(benchmark::State& state) {
  auto client = Engine("client", "vg-gateway");
  auto gateway = Engine("gateway", "vg-client");
  const auto data = Data(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> sig;
  Check(client->Sign(data.data(), data.size(), "", sig) == engmod10::kOk);
  std::string uid;
  for (auto _ : state) Check(gateway->Verify(data.data(), data.size(), sig.data(), sig.size(), uid) == engmod10::kOk);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Encrypt(benchmark::State& state) {
  auto client = Engine("client", "vg-gateway");
  const auto data = Data(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> ct;
  for (auto _ : state) Check(client->Encode(data.data(), data.size(), "", ct) == engmod10::kOk);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Decrypt(benchmark::State& state) {
  auto client = Engine("client", "vg-gateway");
  auto gateway = Engine("gateway", "vg-client");
  const auto data = Data(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> ct, plain;
  Check(client->Encode(data.data(), data.size(), "", ct) == engmod10::kOk);
  std::string sender;
  for (auto _ : state) Check(gateway->Decode(ct.data(), ct.size(), plain, sender) == engmod10::kOk);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// A relay thread opens its own engine per connection: parameters, then the first signature.
void BM_NewEngineAndSign(benchmark::State& state) {
  const auto data = Data(1024);
  std::vector<uint8_t> sig;
  for (auto _ : state) {
    auto e = Engine("client", "vg-gateway");
    Check(e->Sign(data.data(), data.size(), "", sig) == engmod10::kOk);
  }
}

// Baselines: the bare operations under each engine call.
void BM_BareRsaSign(benchmark::State& state) {
  EVP_PKEY* key = ReadKey(g_pki + "/client.key");
  const auto data = Data(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> sig(EVP_PKEY_get_size(key));
  for (auto _ : state) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    size_t n = sig.size();
    Check(EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
          EVP_DigestSign(ctx, sig.data(), &n, data.data(), data.size()) == 1);
    EVP_MD_CTX_free(ctx);
  }
  EVP_PKEY_free(key);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_BareRsaVerify(benchmark::State& state) {
  EVP_PKEY* key = ReadKey(g_pki + "/client.key");
  const auto data = Data(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> sig(EVP_PKEY_get_size(key));
  size_t n = sig.size();
  EVP_MD_CTX* sctx = EVP_MD_CTX_new();
  Check(EVP_DigestSignInit(sctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestSign(sctx, sig.data(), &n, data.data(), data.size()) == 1);
  EVP_MD_CTX_free(sctx);
  for (auto _ : state) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Check(EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
          EVP_DigestVerify(ctx, sig.data(), n, data.data(), data.size()) == 1);
    EVP_MD_CTX_free(ctx);
  }
  EVP_PKEY_free(key);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// A fresh AES-256-GCM key wrapped with RSA-OAEP, then the data encrypted: what EncodeData does
// without the CMS structure.
void BM_BareOaepGcmEncrypt(benchmark::State& state) {
  EVP_PKEY* key = ReadKey(g_pki + "/gateway.key");
  const auto data = Data(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> out(data.size() + 16), wrapped(EVP_PKEY_get_size(key));
  unsigned char cek[32], iv[12], tag[16];
  for (auto _ : state) {
    RAND_bytes(cek, sizeof cek);
    RAND_bytes(iv, sizeof iv);
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t wn = wrapped.size();
    Check(EVP_PKEY_encrypt_init(pctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_OAEP_PADDING) == 1 &&
          EVP_PKEY_CTX_set_rsa_oaep_md(pctx, EVP_sha256()) == 1 &&
          EVP_PKEY_encrypt(pctx, wrapped.data(), &wn, cek, sizeof cek) == 1);
    EVP_PKEY_CTX_free(pctx);
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    int n = 0, m = 0;
    Check(EVP_EncryptInit_ex(c, EVP_aes_256_gcm(), nullptr, cek, iv) == 1 &&
          EVP_EncryptUpdate(c, out.data(), &n, data.data(), static_cast<int>(data.size())) == 1 &&
          EVP_EncryptFinal_ex(c, out.data() + n, &m) == 1 &&
          EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, 16, tag) == 1);
    EVP_CIPHER_CTX_free(c);
  }
  EVP_PKEY_free(key);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_BareOaepGcmDecrypt(benchmark::State& state) {
  EVP_PKEY* key = ReadKey(g_pki + "/gateway.key");
  const auto data = Data(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> ct(data.size() + 16), plain(data.size() + 16), wrapped(EVP_PKEY_get_size(key));
  unsigned char cek[32], iv[12] = {1}, tag[16];
  std::vector<unsigned char> got(EVP_PKEY_get_size(key));
  RAND_bytes(cek, sizeof cek);
  size_t wn = wrapped.size();
  EVP_PKEY_CTX* ectx = EVP_PKEY_CTX_new(key, nullptr);
  Check(EVP_PKEY_encrypt_init(ectx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ectx, RSA_PKCS1_OAEP_PADDING) == 1 &&
        EVP_PKEY_CTX_set_rsa_oaep_md(ectx, EVP_sha256()) == 1 &&
        EVP_PKEY_encrypt(ectx, wrapped.data(), &wn, cek, sizeof cek) == 1);
  EVP_PKEY_CTX_free(ectx);
  EVP_CIPHER_CTX* e = EVP_CIPHER_CTX_new();
  int n = 0, m = 0;
  Check(EVP_EncryptInit_ex(e, EVP_aes_256_gcm(), nullptr, cek, iv) == 1 &&
        EVP_EncryptUpdate(e, ct.data(), &n, data.data(), static_cast<int>(data.size())) == 1 &&
        EVP_EncryptFinal_ex(e, ct.data() + n, &m) == 1 && EVP_CIPHER_CTX_ctrl(e, EVP_CTRL_AEAD_GET_TAG, 16, tag) == 1);
  EVP_CIPHER_CTX_free(e);
  for (auto _ : state) {
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t gn = got.size();
    Check(EVP_PKEY_decrypt_init(pctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_OAEP_PADDING) == 1 &&
          EVP_PKEY_CTX_set_rsa_oaep_md(pctx, EVP_sha256()) == 1 &&
          EVP_PKEY_decrypt(pctx, got.data(), &gn, wrapped.data(), wn) == 1 && gn == sizeof cek);
    EVP_PKEY_CTX_free(pctx);
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    int k = 0, l = 0;
    Check(EVP_DecryptInit_ex(c, EVP_aes_256_gcm(), nullptr, got.data(), iv) == 1 &&
          EVP_DecryptUpdate(c, plain.data(), &k, ct.data(), static_cast<int>(data.size())) == 1 &&
          EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, 16, tag) == 1 && EVP_DecryptFinal_ex(c, plain.data() + k, &l) == 1);
    EVP_CIPHER_CTX_free(c);
  }
  EVP_PKEY_free(key);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Opening the files for every connection: what the engine's caches avoid.
void BM_BareReadIdentityFiles(benchmark::State& state) {
  for (auto _ : state) {
    EVP_PKEY* key = ReadKey(g_pki + "/client.key");
    FILE* f = std::fopen((g_pki + "/client.pem").c_str(), "r");
    X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    Check(cert != nullptr);
    X509_free(cert);
    EVP_PKEY_free(key);
  }
}

constexpr int64_t kKiB = 1024, kMiB = 1024 * 1024;

// Collects each run's time per iteration for the ratio table printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (run.run_type == Run::RT_Iteration) times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  const auto dir = std::filesystem::temp_directory_path() / "engmod10-bench-pki";
  const std::string command = "bash '" VG_SOURCE_DIR "/scripts/make-demo-pki.sh' '" + dir.string() + "' >/dev/null";
  if (std::system(command.c_str()) != 0) return 1;
  g_pki = dir.string();

  for (int64_t n : {kKiB, kMiB}) {
    benchmark::RegisterBenchmark("Sign", BM_Sign)->Arg(n);
    benchmark::RegisterBenchmark("BareRsaSign", BM_BareRsaSign)->Arg(n);
    benchmark::RegisterBenchmark("Verify", BM_Verify)->Arg(n);
    benchmark::RegisterBenchmark("BareRsaVerify", BM_BareRsaVerify)->Arg(n);
    benchmark::RegisterBenchmark("Encrypt", BM_Encrypt)->Arg(n);
    benchmark::RegisterBenchmark("BareOaepGcmEncrypt", BM_BareOaepGcmEncrypt)->Arg(n);
    benchmark::RegisterBenchmark("Decrypt", BM_Decrypt)->Arg(n);
    benchmark::RegisterBenchmark("BareOaepGcmDecrypt", BM_BareOaepGcmDecrypt)->Arg(n);
  }
  benchmark::RegisterBenchmark("NewEngineAndSign", BM_NewEngineAndSign);
  benchmark::RegisterBenchmark("BareReadIdentityFiles", BM_BareReadIdentityFiles);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  auto& t = reporter.times;
  std::printf("\nengine call / bare libcrypto operation (CPU time per call; 1.00 = no overhead):\n");
  for (const char* size : {"1024", "1048576"})
    for (auto [engine, bare] : {std::pair{"Sign", "BareRsaSign"}, {"Verify", "BareRsaVerify"},
                                {"Encrypt", "BareOaepGcmEncrypt"}, {"Decrypt", "BareOaepGcmDecrypt"}}) {
      const std::string a = std::string(engine) + "/" + size, b = std::string(bare) + "/" + size;
      if (t.count(a) && t.count(b) && t[b] > 0)
        std::printf("  %-8s %8s bytes: %6.2f  (%.0f ops/s, %.1f MB/s)\n", engine, size, t[a] / t[b], 1e9 / t[a],
                    1e9 / t[a] * std::stod(size) / 1e6);
    }
  if (t.count("NewEngineAndSign") && t.count("Sign/1024") && t.count("BareReadIdentityFiles"))
    std::printf("  new engine per connection + first 1 KiB signature / signature alone: %.2f "
                "(re-reading the identity files instead would add %.0f us per connection)\n",
                t["NewEngineAndSign"] / t["Sign/1024"], t["BareReadIdentityFiles"] / 1e3);
  std::filesystem::remove_all(dir);
  return 0;
}
