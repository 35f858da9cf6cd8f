#pragma once
// Two parties with emulation engines that can talk to each other: the tunnel ("client-1",
// sending to "gate-1") and the gateway ("gate-1", sending to "client-1").
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "protection/CipherhubLib.h"
#include "tunnel/SecureHttp.h"

namespace securetest {

// A message that keeps its reports.
class TTestMessage : public vg::TSecureHTTPData {
 public:
  std::vector<std::string> errors;
  std::vector<std::string> accessErrors;
  void ReportError(const std::string& text) override { errors.push_back(text); }
  void ReportAccessError(const std::string& text) override { accessErrors.push_back(text); }
  // The first report as UTF-8, for readable failure output.
  std::string FirstError() const { return errors.empty() ? std::string() : vg::platform::Cp1251ToUtf8(errors.front()); }
  bool Reported(const std::string& text) const {
    for (const auto& e : errors)
      if (e.find(text) != std::string::npos) return true;
    return false;
  }
};

inline vg::TCryptoParams EmulationParams(const std::string& uid, const std::string& partner,
                                         const std::string& fail = {}) {
  vg::TCryptoParams params;
  params.SetEngineType("Emulation/1.0");
  params.AddParam(0, uid);
  params.AddParam(1, partner);
  if (!fail.empty()) params.AddParam(2, fail);
  return params;
}

inline std::unique_ptr<TTestMessage> Make(const vg::TCryptoParams& params, std::string_view text, uint8_t mode) {
  auto m = std::make_unique<TTestMessage>();
  EXPECT_TRUE(m->UseCryptoParams(params)) << m->FirstError();
  m->SetCompressMode(mode);
  m->Assign(text);
  return m;
}
inline std::unique_ptr<TTestMessage> Client(std::string_view text, uint8_t mode = 0) {
  return Make(EmulationParams("client-1", "gate-1"), text, mode);
}
inline std::unique_ptr<TTestMessage> Gateway(std::string_view text, uint8_t mode = 0) {
  return Make(EmulationParams("gate-1", "client-1"), text, mode);
}

// Binds the built crypto library for the tests of a suite.
class SecureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
  }
};

// A recognisable record as a gateway would issue it.
inline vg::TKeyRecord SampleKey(uint32_t seed = 7) {
  vg::TKeyRecord key{};
  for (size_t i = 0; i < key.size(); ++i) key[i] = seed * 0x01010101u + static_cast<uint32_t>(i);
  return key;
}

inline std::string Post(std::string_view body) {
  return "POST /form HTTP/1.1\r\nHost: www.example.org\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

// Bytes that compress well but not trivially.
inline std::string Patterned(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>("veilgate "[i % 9] + (i / 4096) % 3);
  return s;
}

}  // namespace securetest
