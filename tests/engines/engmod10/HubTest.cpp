// The engine reached as the tunnel reaches it: through cipherhub.so by its type name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Errors.h"
#include "TestPki.h"
#include "cipherhub/cipherhub.h"

namespace engmod10 {
namespace {

using test::Pki;

class HubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hub_ = dlopen(VG_TEST_BIN_DIR "/cipherhub.so", RTLD_NOW | RTLD_LOCAL);
    if (!hub_) GTEST_SKIP() << "cipherhub.so is not built: " << dlerror();
  }
  void TearDown() override {
    if (hub_) dlclose(hub_);
  }
  template <class F>
  F* Fn(const char* name) {
    void* p = dlsym(hub_, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<F*>(p);
  }
#define HUB(name) Fn<decltype(::name)>(#name)

  CHEngineHandle Open(const std::string& who, const std::string& key, const std::string& partner) {
    CHEngineHandle h = HUB(InitCryptoEngine)("OpenSSL");
    EXPECT_NE(h, nullptr);
    if (!h) return nullptr;
    auto set = HUB(SetCryptoParamValue);
    EXPECT_EQ(set(h, 1, Pki(who + ".pem").c_str()), 0);
    EXPECT_EQ(set(h, 2, key.c_str()), 0);
    EXPECT_EQ(set(h, 3, Pki("ca.pem").c_str()), 0);
    EXPECT_EQ(set(h, 4, Pki("subscribers").c_str()), 0);
    EXPECT_EQ(set(h, 5, partner.c_str()), 0);
    return h;
  }

  void* hub_ = nullptr;
};

int32_t HubPrompt(char* buffer, int32_t size) {
  std::snprintf(buffer, static_cast<size_t>(size), "%s", test::DemoPassword().c_str());
  return -1;
}

TEST_F(HubTest, ClientAndGatewayExchangeASignedEncryptedMessage) {
  EXPECT_EQ(HUB(GetCryptoEngineStatus)("OpenSSL"), 1);
  CHEngineHandle client = Open("client", Pki("client-enc.key"), "vg-gateway");
  CHEngineHandle gateway = Open("gateway", Pki("gateway.key"), "");
  ASSERT_TRUE(client && gateway);
  HUB(ClearCash)(client);
  HUB(SetPasswordRequestFunc)(client, &HubPrompt);

  // Client: sign, append the signature, encrypt for the partner (as a protected request does).
  const std::string body = "POST body for the protected server";
  std::vector<char> buffer(body.size() + HUB(GetMaxSignatureLength)(client) + HUB(GetMaxEncodeAddition)(client));
  std::memcpy(buffer.data(), body.data(), body.size());
  int32_t sigLength = HUB(GetMaxSignatureLength)(client);
  ASSERT_EQ(HUB(SignData)(client, body.data(), static_cast<int32_t>(body.size()), buffer.data() + body.size(),
                          &sigLength, ""),
            0);
  int32_t length = static_cast<int32_t>(body.size()) + sigLength;
  ASSERT_EQ(HUB(EncodeData)(client, buffer.data(), &length, ""), 0);

  // Gateway: decrypt, split off the signature, verify, answer to the signer.
  std::vector<char> uid(HUB(GetMaxUIDLength)(gateway));
  ASSERT_EQ(HUB(DecodeData)(gateway, buffer.data(), &length, uid.data()), 0);
  ASSERT_EQ(length, static_cast<int32_t>(body.size()) + sigLength);
  ASSERT_EQ(HUB(VerifyData)(gateway, buffer.data(), static_cast<int32_t>(body.size()), buffer.data() + body.size(),
                            sigLength, uid.data()),
            0);
  EXPECT_STREQ(uid.data(), "vg-client");
  std::vector<char> answerTo(HUB(GetMaxUIDLength)(gateway));
  ASSERT_EQ(HUB(GetEncodeUIDBySignUID)(gateway, uid.data(), answerTo.data()), 0);
  const std::string answer = "200 OK";
  std::vector<char> reply(answer.size() + HUB(GetMaxEncodeAddition)(gateway));
  std::memcpy(reply.data(), answer.data(), answer.size());
  int32_t replyLength = static_cast<int32_t>(answer.size());
  ASSERT_EQ(HUB(EncodeData)(gateway, reply.data(), &replyLength, answerTo.data()), 0);
  ASSERT_EQ(HUB(DecodeData)(client, reply.data(), &replyLength, nullptr), 0);
  EXPECT_EQ(std::string(reply.data(), static_cast<size_t>(replyLength)), answer);

  // A failure comes back as a code with a Russian text.
  reply[0] ^= 1;
  const int32_t code = HUB(DecodeData)(client, reply.data(), &replyLength, nullptr);
  EXPECT_NE(code, 0);
  std::vector<char> text(HUB(GetMaxErrorStringLength)(client));
  HUB(GetCryptoErrorString)(client, code, text.data());
  EXPECT_STREQ(text.data(), ErrorText(code).c_str());
  HUB(DoneCryptoEngine)(client);
  HUB(DoneCryptoEngine)(gateway);
}

}  // namespace
}  // namespace engmod10
