// The engine's operations on the demo PKI: round trips, tampering, trust and key handling.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "Cp1251.h"
#include "OpenSslEngine.h"
#include "TestPki.h"

namespace engmod10 {
namespace {

using test::Bytes;
using test::ClientEngine;
using test::GatewayEngine;
using test::Pki;
using test::RandomBytes;
namespace fs = std::filesystem;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { ModuleCache::Instance().Clear(); }
};

std::vector<uint8_t> SignOk(OpenSslEngine& e, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> sig;
  EXPECT_EQ(e.Sign(data.data(), data.size(), "", sig), kOk) << e.LastErrorMessage();
  return sig;
}

ErrorCode VerifyCode(OpenSslEngine& e, const std::vector<uint8_t>& data, const std::vector<uint8_t>& sig,
                     std::string* uid = nullptr) {
  std::string signer;
  const ErrorCode code = e.Verify(data.data(), data.size(), sig.data(), sig.size(), signer);
  if (uid) *uid = signer;
  return code;
}

std::vector<uint8_t> EncodeOk(OpenSslEngine& e, const std::vector<uint8_t>& data, const std::string& to = "") {
  std::vector<uint8_t> ct;
  EXPECT_EQ(e.Encode(data.data(), data.size(), to, ct), kOk) << e.LastErrorMessage();
  return ct;
}

ErrorCode DecodeCode(OpenSslEngine& e, const std::vector<uint8_t>& ct, std::vector<uint8_t>* plain = nullptr) {
  std::vector<uint8_t> out;
  std::string sender = "unchanged";
  const ErrorCode code = e.Decode(ct.data(), ct.size(), out, sender);
  EXPECT_EQ(sender, "");
  if (plain) *plain = out;
  return code;
}

TEST_F(EngineTest, SignaturesVerifyAcrossEnginesAndStayWithinTheBound) {
  auto client = ClientEngine();
  auto gateway = GatewayEngine();
  const int32_t bound = client->MaxSignatureLength();
  for (size_t n : {0, 1, 1000, 70000}) {
    const auto data = RandomBytes(n, static_cast<uint32_t>(n));
    const auto sig = SignOk(*client, data);
    EXPECT_LE(sig.size(), static_cast<size_t>(bound));
    std::string uid;
    EXPECT_EQ(VerifyCode(*gateway, data, sig, &uid), kOk) << gateway->LastErrorMessage();
    EXPECT_EQ(uid, "vg-client");
  }
}

TEST_F(EngineTest, CiphertextsDecryptForTheRecipientAndGrowWithinTheBound) {
  auto client = ClientEngine();
  auto gateway = GatewayEngine();
  // Sizes around the DER length-field steps, where the overhead changes.
  for (size_t n : {0, 1, 127, 128, 255, 256, 65535, 65536, 1 << 20}) {
    const auto data = RandomBytes(n, static_cast<uint32_t>(n) + 7);
    const auto ct = EncodeOk(*client, data);  // empty recipient: the partner
    EXPECT_LE(ct.size(), n + OpenSslEngine::kMaxEncodeAddition);
    std::vector<uint8_t> plain;
    ASSERT_EQ(DecodeCode(*gateway, ct, &plain), kOk) << gateway->LastErrorMessage();
    EXPECT_EQ(plain, data);
  }
  // Encryption to the own UID and to a UID in Cyrillic (Windows-1251 bytes).
  const auto data = Bytes("Для тестирования ключей");
  std::vector<uint8_t> plain;
  EXPECT_EQ(DecodeCode(*client, EncodeOk(*client, data, "vg-client"), &plain), kOk);
  EXPECT_EQ(plain, data);
  auto ru = test::MakeEngine(Pki("subscriber-ru.pem"), Pki("subscriber-ru.key"), "", Pki("subscribers"));
  EXPECT_EQ(DecodeCode(*ru, EncodeOk(*client, data, Utf8ToCp1251("Абонент Тестовый")), &plain), kOk);
  EXPECT_EQ(plain, data);
}

TEST_F(EngineTest, EncryptionIsRandomised) {
  auto client = ClientEngine();
  const auto data = Bytes("same text");
  EXPECT_NE(EncodeOk(*client, data), EncodeOk(*client, data));
}

TEST_F(EngineTest, AnyFlippedBitInDataSignatureOrCiphertextIsDetected) {
  auto client = ClientEngine();
  auto gateway = GatewayEngine();
  const auto data = RandomBytes(64, 1);
  const auto sig = SignOk(*client, data);
  for (size_t i = 0; i < data.size(); ++i) {
    auto d = data;
    d[i] ^= 1u << (i % 8);
    EXPECT_NE(VerifyCode(*gateway, d, sig), kOk) << "data byte " << i;
  }
  // Every single bit: CMS leaves some fields unauthenticated, and each must still be refused.
  for (size_t i = 0; i < sig.size() * 8; ++i) {
    auto s = sig;
    s[i / 8] ^= 1u << (i % 8);
    EXPECT_NE(VerifyCode(*gateway, data, s), kOk) << "signature byte " << i / 8 << " bit " << i % 8;
  }
  const auto ct = EncodeOk(*client, data);
  for (size_t i = 0; i < ct.size() * 8; ++i) {
    auto c = ct;
    c[i / 8] ^= 1u << (i % 8);
    EXPECT_NE(DecodeCode(*gateway, c), kOk) << "ciphertext byte " << i / 8 << " bit " << i % 8;
  }
  // Cut or extended ciphertexts and signatures fail too.
  EXPECT_NE(DecodeCode(*gateway, std::vector<uint8_t>(ct.begin(), ct.end() - 1)), kOk);
  auto longer = ct;
  longer.push_back(0);
  EXPECT_EQ(DecodeCode(*gateway, longer), kBadEncryptedFormat);
  EXPECT_EQ(VerifyCode(*gateway, data, std::vector<uint8_t>(sig.begin(), sig.end() - 1)), kBadSignatureFormat);
}

TEST_F(EngineTest, OnlyTheRecipientDecrypts) {
  auto client = ClientEngine();
  const auto ct = EncodeOk(*client, Bytes("for the gateway"), "vg-gateway");
  EXPECT_EQ(DecodeCode(*client, ct), kNotForThisRecipient);
  std::vector<uint8_t> out;
  EXPECT_EQ(client->Encode(ct.data(), ct.size(), "nobody", out), kUnknownUid);
}

TEST_F(EngineTest, SignersOutsideTheTrustedCaOrValidityAreRefused) {
  auto gateway = GatewayEngine();
  const auto data = Bytes("payload");
  auto untrusted = test::MakeEngine(Pki("untrusted.pem"), Pki("untrusted.key"), "", "");
  EXPECT_EQ(VerifyCode(*gateway, data, SignOk(*untrusted, data)), kCertificateUntrusted);
  auto expired = test::MakeEngine(Pki("expired.pem"), Pki("expired.key"), "", "");
  EXPECT_EQ(VerifyCode(*gateway, data, SignOk(*expired, data)), kCertificateExpired);
  auto client = ClientEngine();
  const auto sig = SignOk(*client, data);
  gateway->SetClockForTesting([]() -> time_t { return 946684800; });  // 2000-01-01
  EXPECT_EQ(VerifyCode(*gateway, data, sig), kCertificateNotYetValid);
  // A verifier trusting only the rogue CA refuses the demo client.
  gateway->SetClockForTesting([]() { return std::time(nullptr); });
  ASSERT_EQ(gateway->SetParam(OpenSslEngine::kCaFile, Pki("rogue-ca.pem")), kOk);
  EXPECT_EQ(VerifyCode(*gateway, data, sig), kCertificateUntrusted);
  ASSERT_EQ(gateway->SetParam(OpenSslEngine::kCaFile, ""), kOk);
  EXPECT_EQ(VerifyCode(*gateway, data, sig), kNoCaCertificate);
}

TEST_F(EngineTest, RecipientsOutsideTheTrustedCaOrValidityAreRefused) {
  const std::string dir = test::MakeTempDir();
  for (const char* f : {"gateway.pem", "expired.pem", "untrusted.pem"}) fs::copy_file(Pki(f), dir + "/" + f);
  auto client = test::MakeEngine(Pki("client.pem"), Pki("client.key"), "vg-gateway", dir);
  std::vector<uint8_t> out;
  const auto data = Bytes("x");
  EXPECT_EQ(client->Encode(data.data(), data.size(), "vg-expired", out), kCertificateExpired);
  EXPECT_EQ(client->Encode(data.data(), data.size(), "vg-untrusted", out), kCertificateUntrusted);
  EXPECT_EQ(client->Encode(data.data(), data.size(), "vg-gateway", out), kOk);
  ASSERT_EQ(client->SetParam(OpenSslEngine::kPartnerUid, ""), kOk);
  EXPECT_EQ(client->Encode(data.data(), data.size(), "", out), kNoPartner);
}

TEST_F(EngineTest, SignatureFormatProblemsHaveTheirOwnCodes) {
  auto gateway = GatewayEngine();
  const auto data = Bytes("payload");
  EXPECT_EQ(VerifyCode(*gateway, data, {}), kSignatureMissing);
  EXPECT_EQ(VerifyCode(*gateway, data, Bytes("not a signature")), kBadSignatureFormat);
  // Encrypted data are a CMS structure too, but no signature.
  EXPECT_EQ(VerifyCode(*gateway, data, EncodeOk(*gateway, data, "vg-gateway")), kBadSignatureFormat);
  EXPECT_EQ(DecodeCode(*gateway, SignOk(*gateway, data)), kBadEncryptedFormat);
  EXPECT_EQ(DecodeCode(*gateway, {}), kBadEncryptedFormat);
}

TEST_F(EngineTest, SignerTextMayOnlyNameTheOwnIdentity) {
  auto client = ClientEngine();
  std::vector<uint8_t> sig;
  const auto data = Bytes("d");
  EXPECT_EQ(client->Sign(data.data(), data.size(), "vg-client", sig), kOk);
  EXPECT_EQ(client->Sign(data.data(), data.size(), "vg-gateway", sig), kForeignSigner);
}

TEST_F(EngineTest, IdentityConfigurationErrors) {
  std::string uid;
  OpenSslEngine empty;
  EXPECT_EQ(empty.CurrentUserUid(uid), kNoOwnCertificate);
  auto mismatch = test::MakeEngine(Pki("client.pem"), Pki("gateway.key"), "", "");
  std::vector<uint8_t> sig;
  EXPECT_EQ(mismatch->Sign(nullptr, 0, "", sig), kKeyMismatch);
  EXPECT_EQ(mismatch->CurrentUserUid(uid), kOk);  // the certificate alone is fine
  EXPECT_EQ(uid, "vg-client");
  auto missing = test::MakeEngine(Pki("nonexistent.pem"), "", "", "");
  EXPECT_EQ(missing->CurrentUserUid(uid), kFileError);
  auto notCert = test::MakeEngine(Pki("password.txt"), "", "", "");
  EXPECT_EQ(notCert->CurrentUserUid(uid), kBadCertificate);
  auto notKey = test::MakeEngine(Pki("client.pem"), Pki("ca.pem"), "", "");
  EXPECT_EQ(notKey->Sign(nullptr, 0, "", sig), kBadPrivateKey);
  // Certificate and key in one file: the key parameter may stay empty.
  auto combined = test::MakeEngine(Pki("client-identity.pem"), "", "", "");
  EXPECT_EQ(combined->Sign(nullptr, 0, "", sig), kOk) << combined->LastErrorMessage();
}

TEST_F(EngineTest, RelativePathsAreTakenFromTheRootPath) {
  OpenSslEngine e;
  ASSERT_EQ(e.SetParam(OpenSslEngine::kCertificateFile, "client.pem"), kOk);
  e.SetRootPath(test::PkiDir());
  std::string uid;
  EXPECT_EQ(e.CurrentUserUid(uid), kOk) << e.LastErrorMessage();
  EXPECT_EQ(uid, "vg-client");
}

// The password prompt is a plain function; the tests steer it through these.
std::atomic<int> g_prompts{0};
std::atomic<int> g_mode{0};  // 0 right password, 1 wrong, 2 refuse, 3 right after a delay
std::atomic<int> g_lastSize{0};

int32_t Prompt(char* buffer, int32_t size) {
  ++g_prompts;
  g_lastSize = size;
  if (g_mode == 2) return 0;
  if (g_mode == 3) std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string pw = g_mode == 1 ? "wrong" : test::DemoPassword();
  std::snprintf(buffer, static_cast<size_t>(size), "%s", pw.c_str());
  return -1;
}

class PasswordTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_prompts = 0;
    g_mode = 0;
  }
  std::unique_ptr<OpenSslEngine> Locked() {
    auto e = test::MakeEngine(Pki("client.pem"), Pki("client-enc.key"), "vg-gateway", Pki("subscribers"));
    e->SetPasswordCallback(&Prompt);
    return e;
  }
};

TEST_F(PasswordTest, RightPasswordUnlocksOnceForEveryEngineUntilTheCacheIsCleared) {
  auto e = Locked();
  std::string uid;
  EXPECT_EQ(e->CurrentUserUid(uid), kOk);
  EXPECT_EQ(g_prompts, 0);  // the certificate needs no password
  std::vector<uint8_t> sig;
  ASSERT_EQ(e->Sign(nullptr, 0, "", sig), kOk) << e->LastErrorMessage();
  EXPECT_EQ(g_prompts, 1);
  EXPECT_EQ(g_lastSize, OpenSslEngine::kMaxPasswordLength);
  auto second = Locked();
  EXPECT_EQ(second->Sign(nullptr, 0, "", sig), kOk);
  EXPECT_EQ(g_prompts, 1);
  second->ClearCache();
  EXPECT_EQ(e->Sign(nullptr, 0, "", sig), kOk);
  EXPECT_EQ(g_prompts, 2);
  // Decryption needs the same key.
  auto gateway = GatewayEngine();
  const auto ct = EncodeOk(*gateway, Bytes("to client"), "vg-client");
  EXPECT_EQ(DecodeCode(*e, ct), kOk);
}

TEST_F(PasswordTest, WrongRefusedOrUnaskablePasswordsFailWithTheirOwnCodes) {
  auto e = Locked();
  std::vector<uint8_t> sig;
  g_mode = 1;
  EXPECT_EQ(e->Sign(nullptr, 0, "", sig), kWrongPassword);
  EXPECT_EQ(g_prompts, 3);
  g_mode = 2;
  g_prompts = 0;
  EXPECT_EQ(e->Sign(nullptr, 0, "", sig), kPasswordRefused);
  EXPECT_EQ(g_prompts, 1);
  e->SetPasswordCallback(nullptr);
  EXPECT_EQ(e->Sign(nullptr, 0, "", sig), kPasswordRefused);
  // After the failures the right password still works.
  e->SetPasswordCallback(&Prompt);
  g_mode = 0;
  EXPECT_EQ(e->Sign(nullptr, 0, "", sig), kOk);
}

TEST_F(PasswordTest, ConcurrentFirstUsesAskOnce) {
  auto e = Locked();
  g_mode = 3;
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&] {
      std::vector<uint8_t> sig;
      if (e->Sign(nullptr, 0, "", sig) == kOk) ++ok;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok, 8);
  EXPECT_EQ(g_prompts, 1);
}

TEST_F(EngineTest, SubscribersListAndItsUpdate) {
  const std::string dir = test::MakeTempDir();
  for (const char* f : {"gateway.pem", "subscriber-ru.pem"}) fs::copy_file(Pki(f), dir + "/" + f);
  test::WriteFile(dir + "/notes.txt", std::string("not a certificate"));
  auto client = test::MakeEngine(Pki("client.pem"), Pki("client.key"), "vg-gateway", dir);
  std::string report;
  ASSERT_EQ(client->Report(nullptr, report), kOk) << client->LastErrorMessage();
  EXPECT_EQ(report, "ABONENTSLIST:vg-gateway\r\n" + Utf8ToCp1251("Абонент Тестовый"));
  // A broken certificate file is left out; the others stay.
  test::WriteFile(dir + "/broken.pem", std::string("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"));
  fs::copy_file(Pki("client.pem"), dir + "/client.crt");
  ASSERT_EQ(client->Report(nullptr, report), kOk);
  EXPECT_EQ(report.find("vg-client"), std::string::npos);  // not before the update
  ASSERT_EQ(client->UpdateCertificateCache(), kOk);
  ASSERT_EQ(client->Report(nullptr, report), kOk);
  EXPECT_EQ(report, "ABONENTSLIST:vg-client\r\nvg-gateway\r\n" + Utf8ToCp1251("Абонент Тестовый"));
  ASSERT_EQ(client->SetParam(OpenSslEngine::kSubscribersDir, dir + "/missing"), kOk);
  EXPECT_EQ(client->Report(nullptr, report), kSubscribersError);
  ASSERT_EQ(client->SetParam(OpenSslEngine::kSubscribersDir, ""), kOk);
  ASSERT_EQ(client->Report(nullptr, report), kOk);
  EXPECT_EQ(report, "ABONENTSLIST:");
}

TEST_F(EngineTest, CertificateReportNamesSubjectIssuerValidityAndFingerprint) {
  auto client = ClientEngine();
  std::string report;
  ASSERT_EQ(client->Report("vg-gateway", report), kOk) << client->LastErrorMessage();
  const std::string fpFile = test::MakeTempDir() + "/fp";
  ASSERT_EQ(test::Shell("openssl x509 -in '" + Pki("gateway.pem") + "' -noout -fingerprint -sha256 > '" + fpFile + "'"),
            0);
  std::string fp = test::ReadFile(fpFile);
  fp = fp.substr(fp.find('=') + 1);
  fp = fp.substr(0, fp.find('\n'));
  const std::string utf8 = Cp1251ToUtf8(report);
  EXPECT_NE(utf8.find("Владелец: CN=vg-gateway,O=QS-Veilgate Demo"), std::string::npos) << utf8;
  EXPECT_NE(utf8.find("Издатель: CN=QS-Veilgate Demo CA,O=QS-Veilgate Demo"), std::string::npos) << utf8;
  EXPECT_NE(utf8.find("Отпечаток SHA-256: " + fp), std::string::npos) << utf8;
  EXPECT_NE(utf8.find("Состояние: действителен"), std::string::npos) << utf8;
  ASSERT_EQ(client->Report("vg-client", report), kOk);
  EXPECT_NE(Cp1251ToUtf8(report).find("собственный сертификат"), std::string::npos);
  EXPECT_EQ(client->Report("nobody", report), kUnknownUid);
}

TEST_F(EngineTest, EncodeUidFollowsTheSignUidAndSignersAreLearned) {
  // A gateway without subscriber files learns the client from its signature.
  auto gateway = test::MakeEngine(Pki("gateway.pem"), Pki("gateway.key"), "", "");
  auto client = ClientEngine();
  std::string uid;
  EXPECT_EQ(gateway->EncodeUidBySignUid("vg-client", uid), kUnknownUid);
  const auto data = Bytes("request");
  ASSERT_EQ(VerifyCode(*gateway, data, SignOk(*client, data), &uid), kOk);
  std::string encodeUid;
  ASSERT_EQ(gateway->EncodeUidBySignUid(uid, encodeUid), kOk);
  EXPECT_EQ(encodeUid, "vg-client");
  std::vector<uint8_t> plain;
  ASSERT_EQ(DecodeCode(*client, EncodeOk(*gateway, Bytes("answer"), encodeUid), &plain), kOk);
  EXPECT_EQ(plain, Bytes("answer"));
  EXPECT_EQ(client->EncodeUidBySignUid("vg-client", encodeUid), kOk);
}

TEST_F(EngineTest, ParametersKeepTheirValuesAndRefuseWhatCannotReadBack) {
  OpenSslEngine e;
  EXPECT_STREQ(OpenSslEngine::ParamName(1), "CertificateFile");
  EXPECT_STREQ(OpenSslEngine::ParamName(5), "PartnerUID");
  EXPECT_EQ(OpenSslEngine::ParamName(0), nullptr);
  EXPECT_EQ(OpenSslEngine::ParamName(6), nullptr);
  EXPECT_EQ(e.SetParam(6, "x"), kUnknownParameter);
  EXPECT_EQ(e.SetParam(OpenSslEngine::kPartnerUid, std::string(OpenSslEngine::kMaxParamValueLength - 1, 'a')), kOk);
  EXPECT_EQ(e.SetParam(OpenSslEngine::kPartnerUid, std::string(OpenSslEngine::kMaxParamValueLength, 'a')),
            kInvalidArgument);
  EXPECT_EQ(e.ParamValue(OpenSslEngine::kPartnerUid).size(),
            static_cast<size_t>(OpenSslEngine::kMaxParamValueLength - 1));
  EXPECT_NE(e.LastErrorMessage().find("PartnerUID"), std::string::npos);
}

TEST_F(EngineTest, ConcurrentSigningAndEncryptionOnOneEngineObject) {
  auto client = ClientEngine();
  auto gateway = GatewayEngine();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        const auto data = RandomBytes(100 + i, static_cast<uint32_t>(t * 100 + i));
        std::vector<uint8_t> sig, ct, plain;
        std::string uid, sender;
        if (client->Sign(data.data(), data.size(), "", sig) != kOk ||
            gateway->Verify(data.data(), data.size(), sig.data(), sig.size(), uid) != kOk || uid != "vg-client" ||
            client->Encode(data.data(), data.size(), "", ct) != kOk ||
            gateway->Decode(ct.data(), ct.size(), plain, sender) != kOk || plain != data)
          ++failures;
        // A failing call on the same engine in between must not disturb the others.
        std::vector<uint8_t> none;
        if (gateway->Decode(data.data(), data.size(), none, sender) == kOk) ++failures;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);
}

TEST_F(EngineTest, LastErrorIsPerThreadAndCarriesOpenSslText) {
  auto gateway = GatewayEngine();
  const auto data = Bytes("d");
  ASSERT_EQ(VerifyCode(*gateway, data, Bytes("garbage")), kBadSignatureFormat);
  const std::string mine = gateway->LastErrorMessage();
  EXPECT_NE(mine.find("signature"), std::string::npos);
  std::thread([&] {
    std::string uid;
    EXPECT_EQ(gateway->EncodeUidBySignUid("nobody", uid), kUnknownUid);
  }).join();
  EXPECT_EQ(gateway->LastErrorMessage(), mine);
  auto client = ClientEngine();
  const auto sig = SignOk(*client, data);
  auto other = Bytes("e");
  ASSERT_EQ(VerifyCode(*gateway, other, sig), kSignatureInvalid);
  EXPECT_NE(gateway->LastErrorMessage().find("error:"), std::string::npos) << gateway->LastErrorMessage();
}

}  // namespace
}  // namespace engmod10
