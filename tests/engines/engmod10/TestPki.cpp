#include "TestPki.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>

namespace engmod10::test {
namespace fs = std::filesystem;

namespace {

struct TempDirs {
  std::mutex mutex;
  std::vector<std::string> dirs;
  ~TempDirs() {
    std::error_code ec;
    for (const auto& d : dirs) fs::remove_all(d, ec);
  }
};

TempDirs& Temps() {
  static TempDirs temps;
  return temps;
}

}  // namespace

std::string MakeTempDir() {
  static std::mt19937_64 rng{std::random_device{}()};
  std::lock_guard lock(Temps().mutex);
  for (;;) {
    const fs::path dir = fs::temp_directory_path() / ("engmod10-test-" + std::to_string(rng()));
    if (fs::create_directory(dir)) {
      Temps().dirs.push_back(dir.string());
      return dir.string();
    }
  }
}

const std::string& PkiDir() {
  static const std::string dir = [] {
    if (const char* env = std::getenv("VG_ENGMOD10_PKI"); env && fs::exists(fs::path(env) / "password.txt"))
      return std::string(env);
    const std::string made = MakeTempDir();
    const std::string command = "bash '" VG_TEST_SOURCE_DIR "/scripts/make-demo-pki.sh' '" + made + "' >/dev/null";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "make-demo-pki.sh failed";
    return made;
  }();
  return dir;
}

std::string Pki(const std::string& name) { return (fs::path(PkiDir()) / name).string(); }

std::string DemoPassword() { return ReadFile(Pki("password.txt")); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::unique_ptr<OpenSslEngine> MakeEngine(const std::string& certFile, const std::string& keyFile,
                                          const std::string& partner, const std::string& subscribersDir) {
  auto e = std::make_unique<OpenSslEngine>();
  EXPECT_EQ(e->SetParam(OpenSslEngine::kCertificateFile, certFile), kOk);
  EXPECT_EQ(e->SetParam(OpenSslEngine::kPrivateKeyFile, keyFile), kOk);
  EXPECT_EQ(e->SetParam(OpenSslEngine::kCaFile, Pki("ca.pem")), kOk);
  EXPECT_EQ(e->SetParam(OpenSslEngine::kSubscribersDir, subscribersDir), kOk);
  EXPECT_EQ(e->SetParam(OpenSslEngine::kPartnerUid, partner), kOk);
  return e;
}

}  // namespace engmod10::test
