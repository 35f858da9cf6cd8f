// engmod10.so as cipherhub sees it: loaded by file name, entries resolved by name, C buffers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Errors.h"
#include "OpenSslEngine.h"
#include "TestPki.h"
#include "cipherhub/engine_module.h"

namespace engmod10 {
namespace {

using test::Pki;

const char* const kRequired[] = {"GetCryptObj",
                                 "DoneEngine",
                                 "GetMaxEncodeAddition",
                                 "GetMaxSignatureLength",
                                 "GetMaxUIDLength",
                                 "GetMaxCryptoParamNameLength",
                                 "GetMaxCryptoParamValueLength",
                                 "GetMaxErrorStringLength",
                                 "GetCryptoParamNumber",
                                 "GetCryptoParamName",
                                 "GetCryptoParamValue",
                                 "SetCryptoParamValue",
                                 "GetEncodeUIDBySignUID",
                                 "GetCryptoErrorString",
                                 "EncodeData",
                                 "DecodeData",
                                 "SignData",
                                 "VerifyData",
                                 "GetCurrentUserUID",
                                 "GenerateNewSSK",
                                 "GenerateNewSEK",
                                 "IsDifferentKeys",
                                 "SetPasswordRequestFunc",
                                 "GetMaxPasswordLength",
                                 "IncludePublicKey",
                                 "IncludePublicEncodeKey",
                                 "SignFile",
                                 "VerifyFile",
                                 "RemoveSignaturesFromFile",
                                 "GetLastErrorMessage",
                                 "SetRootPath",
                                 "TransSignatureFromFileToTM",
                                 "TransPrivateKeyFromFileToTM",
                                 "SetTMRequestFunc",
                                 "ClearCash",
                                 "RemoteGenerateStart",
                                 "SetRemoteGeneratePath",
                                 "AddSign",
                                 "RemoveSign",
                                 "GetMaxSignAddition",
                                 "GetPublicKeyTransfer",
                                 "RemoteGenerateFinish",
                                 "SavePublicKeyFromTransfer",
                                 "GetMaxPublicKeyTransferSize",
                                 "IncludePublicKeyTransfer",
                                 "ExcludeSelfPublicKeyTransfer",
                                 "GetMaxFilePathLength",
                                 "GetRemoteGenType",
                                 "SaveSignedDataToFile",
                                 "GetPublicKeyTransferByFile",
                                 "GetMaxReportSize",
                                 "GetReport",
                                 "GetMaxAdditionEx",
                                 "GetUIDByPublicKeyTransfer",
                                 "UpdateCertificateCash",
                                 "GetMaxPublicKeyPropertiesLength",
                                 "GetPublicKeyProperties",
                                 "RemoteGenerateStartEx",
                                 "RemoteGenerateFinishEx",
                                 "GetPublicKeyPropertiesByTransfer",
                                 "GetPublicKeyPropertiesByFile",
                                 "IncludeCACertificateFromTransfer",
                                 "CreateDirStructure",
                                 "RemoveCertificate",
                                 "VerifySignWOCheckValidity",
                                 "CertAndRequestTransferMatch",
                                 "IncludeCRL",
                                 "ConvertTransferToSignedRequest"};

class ModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    handle_ = dlopen(VG_TEST_BIN_DIR "/engmod10.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  static void TearDownTestSuite() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
  }
  template <class Fn>
  static Fn Entry(const char* name) {
    void* p = dlsym(handle_, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<Fn>(p);
  }
#define ENTRY(name) Entry<CHM_##name##_fn>(#name)

  void SetUp() override {
    if (!handle_) GTEST_SKIP();
    engine_ = ENTRY(GetCryptObj)("OpenSSL");
    ASSERT_NE(engine_, nullptr);
  }
  void TearDown() override {
    if (engine_) ENTRY(DoneEngine)(engine_);
  }
  void Configure(const std::string& cert, const std::string& key, const std::string& partner) {
    auto set = ENTRY(SetCryptoParamValue);
    ASSERT_EQ(set(engine_, 1, cert.c_str()), 0);
    ASSERT_EQ(set(engine_, 2, key.c_str()), 0);
    ASSERT_EQ(set(engine_, 3, Pki("ca.pem").c_str()), 0);
    ASSERT_EQ(set(engine_, 4, Pki("subscribers").c_str()), 0);
    ASSERT_EQ(set(engine_, 5, partner.c_str()), 0);
  }
  std::string LastError() {
    std::vector<char> buffer(ENTRY(GetMaxErrorStringLength)(engine_), '\0');
    ENTRY(GetLastErrorMessage)(engine_, buffer.data());
    return buffer.data();
  }

  static inline void* handle_ = nullptr;
  CHEngineObject engine_ = nullptr;
};

TEST_F(ModuleTest, ExportsEveryRequiredEntryAndServesOnlyItsTypeName) {
  for (const char* name : kRequired) EXPECT_NE(dlsym(handle_, name), nullptr) << name;
  EXPECT_EQ(dlsym(handle_, "HashData"), nullptr);
  EXPECT_EQ(ENTRY(GetCryptObj)("openssl"), nullptr);
  EXPECT_EQ(ENTRY(GetCryptObj)(nullptr), nullptr);
  EXPECT_EQ(ENTRY(GetCryptObj)("OpenSSL "), nullptr);
  auto compatible = ENTRY(CheckCompatibles);
  EXPECT_EQ(compatible("OpenSSL"), 1);
  EXPECT_EQ(compatible("Emulation/1.0"), 0);
  EXPECT_EQ(compatible(nullptr), 0);
}

TEST_F(ModuleTest, ParametersByNumber) {
  EXPECT_EQ(ENTRY(GetCryptoParamNumber)(engine_), 5);
  std::vector<char> name(ENTRY(GetMaxCryptoParamNameLength)(engine_), 'x');
  ENTRY(GetCryptoParamName)(engine_, 3, name.data());
  EXPECT_STREQ(name.data(), "CAFile");
  std::strcpy(name.data(), "untouched");
  ENTRY(GetCryptoParamName)(engine_, 6, name.data());
  EXPECT_STREQ(name.data(), "untouched");
  ASSERT_EQ(ENTRY(SetCryptoParamValue)(engine_, 5, "vg-gateway"), 0);
  std::vector<char> value(ENTRY(GetMaxCryptoParamValueLength)(engine_), 'x');
  ENTRY(GetCryptoParamValue)(engine_, 5, value.data());
  EXPECT_STREQ(value.data(), "vg-gateway");
  EXPECT_EQ(ENTRY(SetCryptoParamValue)(engine_, 0, "x"), kUnknownParameter);
  EXPECT_EQ(ENTRY(SetCryptoParamValue)(engine_, 1, nullptr), kInvalidArgument);
}

TEST_F(ModuleTest, ProtectsAndUnprotectsThroughCallerBuffers) {
  Configure(Pki("client.pem"), Pki("client.key"), "vg-gateway");
  const int32_t uidSize = ENTRY(GetMaxUIDLength)(engine_);
  std::vector<char> uid(uidSize, '\0');
  ASSERT_EQ(ENTRY(GetCurrentUserUID)(engine_, uid.data()), 0);
  EXPECT_STREQ(uid.data(), "vg-client");

  const std::string text = "Для тестирования ключей";
  // Signature: a length below 1 means the buffer has GetMaxSignatureLength bytes.
  std::vector<char> sig(ENTRY(GetMaxSignatureLength)(engine_));
  int32_t sigLength = 0;
  ASSERT_EQ(ENTRY(SignData)(engine_, text.data(), static_cast<int32_t>(text.size()), sig.data(), &sigLength, ""), 0);
  EXPECT_GT(sigLength, 0);
  int32_t tooSmall = 100;
  EXPECT_EQ(ENTRY(SignData)(engine_, text.data(), static_cast<int32_t>(text.size()), sig.data(), &tooSmall, nullptr),
            kBufferTooSmall);
  EXPECT_EQ(tooSmall, 100);
  std::fill(uid.begin(), uid.end(), '\0');
  ASSERT_EQ(
      ENTRY(VerifyData)(engine_, text.data(), static_cast<int32_t>(text.size()), sig.data(), sigLength, uid.data()), 0)
      << LastError();
  EXPECT_STREQ(uid.data(), "vg-client");
  EXPECT_EQ(ENTRY(VerifyData)(engine_, text.data(), static_cast<int32_t>(text.size()), sig.data(), sigLength, nullptr),
            0);
  EXPECT_EQ(
      ENTRY(VerifyData)(engine_, text.data(), static_cast<int32_t>(text.size()) - 1, sig.data(), sigLength, nullptr),
      kSignatureInvalid);

  // Encryption in place to the own UID, and decryption back.
  const int32_t room = ENTRY(GetMaxEncodeAddition)(engine_);
  std::vector<char> buffer(text.size() + 1 + room, '\0');
  std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
  int32_t length = static_cast<int32_t>(text.size()) + 1;
  ASSERT_EQ(ENTRY(EncodeData)(engine_, buffer.data(), &length, "vg-client"), 0) << LastError();
  EXPECT_GT(length, static_cast<int32_t>(text.size()));
  EXPECT_LE(length, static_cast<int32_t>(text.size()) + 1 + room);
  std::strcpy(uid.data(), "stale");
  ASSERT_EQ(ENTRY(DecodeData)(engine_, buffer.data(), &length, uid.data()), 0) << LastError();
  EXPECT_EQ(length, static_cast<int32_t>(text.size()) + 1);
  EXPECT_STREQ(buffer.data(), text.c_str());
  EXPECT_STREQ(uid.data(), "");  // the format does not name the sender

  // Partner by NULL recipient; then the client cannot open what it sent to the gateway.
  length = static_cast<int32_t>(text.size());
  std::memcpy(buffer.data(), text.data(), text.size());
  ASSERT_EQ(ENTRY(EncodeData)(engine_, buffer.data(), &length, nullptr), 0);
  const int32_t encrypted = length;
  EXPECT_EQ(ENTRY(DecodeData)(engine_, buffer.data(), &length, nullptr), kNotForThisRecipient);
  EXPECT_EQ(length, encrypted);
  EXPECT_NE(LastError().find("vg-client"), std::string::npos);

  EXPECT_EQ(ENTRY(EncodeData)(engine_, nullptr, &length, nullptr), kInvalidArgument);
  int32_t negative = -1;
  EXPECT_EQ(ENTRY(DecodeData)(engine_, buffer.data(), &negative, nullptr), kInvalidArgument);
}

TEST_F(ModuleTest, ReportsAndIdentityLookups) {
  Configure(Pki("client.pem"), Pki("client.key"), "vg-gateway");
  std::vector<char> report(ENTRY(GetMaxReportSize)(engine_));
  ASSERT_EQ(ENTRY(GetReport)(engine_, nullptr, report.data()), 0);
  EXPECT_EQ(std::string(report.data()).rfind("ABONENTSLIST:vg-client\r\nvg-gateway\r\n", 0), 0u) << report.data();
  ASSERT_EQ(ENTRY(GetReport)(engine_, "vg-gateway", report.data()), 0);
  EXPECT_EQ(std::string(report.data()).rfind("UID: vg-gateway\r\n", 0), 0u);
  std::vector<char> uid(ENTRY(GetMaxUIDLength)(engine_));
  ASSERT_EQ(ENTRY(GetEncodeUIDBySignUID)(engine_, "vg-gateway", uid.data()), 0);
  EXPECT_STREQ(uid.data(), "vg-gateway");
  EXPECT_EQ(ENTRY(GetEncodeUIDBySignUID)(engine_, "nobody", uid.data()), kUnknownUid);
  EXPECT_EQ(ENTRY(UpdateCertificateCash)(engine_, nullptr), 0);
  ENTRY(ClearCash)(engine_);
  ASSERT_EQ(ENTRY(GetCurrentUserUID)(engine_, uid.data()), 0);
}

TEST_F(ModuleTest, ErrorTextsAndUnsupportedEntries) {
  std::vector<char> text(ENTRY(GetMaxErrorStringLength)(engine_), 'x');
  ENTRY(GetCryptoErrorString)(engine_, kWrongPassword, text.data());
  EXPECT_STREQ(text.data(), ErrorText(kWrongPassword).c_str());
  ENTRY(GetCryptoErrorString)(engine_, 12345, text.data());
  EXPECT_STREQ(text.data(), "");
  ENTRY(GetCryptoErrorString)(engine_, kNotSupported, text.data());
  EXPECT_STRNE(text.data(), "");
  EXPECT_EQ(ENTRY(GenerateNewSSK)(engine_), kNotSupported);
  EXPECT_EQ(ENTRY(SignFile)(engine_, 0), kNotSupported);
  EXPECT_EQ(ENTRY(IncludeCRL)(engine_, 0), kNotSupported);
  EXPECT_EQ(ENTRY(VerifySignWOCheckValidity)(engine_, 0, 0, 0, 0, 0), kNotSupported);
  EXPECT_EQ(ENTRY(IsDifferentKeys)(engine_), 0);
  EXPECT_EQ(ENTRY(GetMaxPasswordLength)(engine_), OpenSslEngine::kMaxPasswordLength);
  // Without an own certificate every identity operation fails with its code and a reason.
  std::vector<char> uid(ENTRY(GetMaxUIDLength)(engine_));
  EXPECT_EQ(ENTRY(GetCurrentUserUID)(engine_, uid.data()), kNoOwnCertificate);
  EXPECT_NE(LastError().find("CertificateFile"), std::string::npos);
  EXPECT_EQ(ENTRY(GetCurrentUserUID)(nullptr, uid.data()), kInvalidArgument);
}

}  // namespace
}  // namespace engmod10
