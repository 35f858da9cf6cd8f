// Interoperability with the openssl command: each side reads what the other writes.
#include <gtest/gtest.h>

#include "Cp1251.h"
#include "OpenSslEngine.h"
#include "TestPki.h"

namespace engmod10 {
namespace {

using test::Pki;
using test::ReadFile;
using test::Shell;
using test::WriteFile;

class InteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ModuleCache::Instance().Clear();
    dir_ = test::MakeTempDir();
    data_ = test::RandomBytes(3000, 42);
    WriteFile(File("data"), data_);
  }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  std::string Q(const std::string& name) const { return "'" + File(name) + "'"; }
  static std::string P(const std::string& name) { return "'" + Pki(name) + "'"; }

  std::string dir_;
  std::vector<uint8_t> data_;
};

TEST_F(InteropTest, ModuleSignatureVerifiesWithTheOpensslCommand) {
  auto client = test::ClientEngine();
  std::vector<uint8_t> sig;
  ASSERT_EQ(client->Sign(data_.data(), data_.size(), "", sig), kOk);
  WriteFile(File("sig"), sig);
  const std::string verify = "openssl cms -verify -binary -inform DER -in " + Q("sig") + " -CAfile " + P("ca.pem") +
                             " -out /dev/null 2>" + Q("log") + " -content ";
  EXPECT_EQ(Shell(verify + Q("data")), 0) << ReadFile(File("log"));
  ASSERT_EQ(Shell("openssl cms -cmsout -print -inform DER -in " + Q("sig") + " > " + Q("print")), 0);
  const std::string print = ReadFile(File("print"));
  EXPECT_NE(print.find("sha256"), std::string::npos);
  EXPECT_NE(print.find("eContent: <ABSENT>"), std::string::npos) << "detached";
  auto changed = data_;
  changed[100] ^= 1;
  WriteFile(File("changed"), changed);
  EXPECT_NE(Shell(verify + Q("changed")), 0);
  // A CA the openssl command does not trust refuses it as well.
  EXPECT_NE(Shell("openssl cms -verify -binary -inform DER -in " + Q("sig") + " -CAfile " + P("rogue-ca.pem") +
                  " -out /dev/null -content " + Q("data") + " 2>/dev/null"),
            0);
}

TEST_F(InteropTest, ModuleCiphertextDecryptsWithTheOpensslCommand) {
  auto client = test::ClientEngine();
  std::vector<uint8_t> ct;
  ASSERT_EQ(client->Encode(data_.data(), data_.size(), "vg-gateway", ct), kOk);
  WriteFile(File("ct"), ct);
  ASSERT_EQ(Shell("openssl cms -decrypt -binary -inform DER -in " + Q("ct") + " -recip " + P("gateway.pem") +
                  " -inkey " + P("gateway.key") + " -out " + Q("plain") + " 2>" + Q("log")),
            0)
      << ReadFile(File("log"));
  EXPECT_EQ(ReadFile(File("plain")), std::string(data_.begin(), data_.end()));
  ASSERT_EQ(Shell("openssl cms -cmsout -print -inform DER -in " + Q("ct") + " > " + Q("print")), 0);
  const std::string print = ReadFile(File("print"));
  EXPECT_NE(print.find("id-smime-ct-authEnvelopedData"), std::string::npos);
  EXPECT_NE(print.find("aes-256-gcm"), std::string::npos);
  EXPECT_NE(print.find("rsaesOaep"), std::string::npos);
  // The client's own key does not open it.
  EXPECT_NE(Shell("openssl cms -decrypt -binary -inform DER -in " + Q("ct") + " -recip " + P("client.pem") +
                  " -inkey " + P("client.key") + " -out /dev/null 2>/dev/null"),
            0);
}

TEST_F(InteropTest, OpensslSignaturesVerifyInTheModule) {
  auto gateway = test::GatewayEngine();
  const std::string sign = "openssl cms -sign -binary -md sha256 -signer " + P("client.pem") + " -inkey " +
                           P("client.key") + " -in " + Q("data") + " -outform DER";
  std::string uid;
  ASSERT_EQ(Shell(sign + " -out " + Q("sig")), 0);
  auto sig = test::Bytes(ReadFile(File("sig")));
  EXPECT_EQ(gateway->Verify(data_.data(), data_.size(), sig.data(), sig.size(), uid), kOk)
      << gateway->LastErrorMessage();
  EXPECT_EQ(uid, "vg-client");
  // Without certificates in the signature the signer is found among the subscribers.
  ASSERT_EQ(Shell(sign + " -nocerts -out " + Q("sig-nocerts")), 0);
  sig = test::Bytes(ReadFile(File("sig-nocerts")));
  uid.clear();
  EXPECT_EQ(gateway->Verify(data_.data(), data_.size(), sig.data(), sig.size(), uid), kOk)
      << gateway->LastErrorMessage();
  EXPECT_EQ(uid, "vg-client");
  // A signature that carries its content is not a detached one.
  ASSERT_EQ(Shell(sign + " -nodetach -out " + Q("sig-attached")), 0);
  sig = test::Bytes(ReadFile(File("sig-attached")));
  EXPECT_EQ(gateway->Verify(data_.data(), data_.size(), sig.data(), sig.size(), uid), kBadSignatureFormat);
}

TEST_F(InteropTest, OpensslCiphertextDecryptsInTheModuleWhenIntegrityProtected) {
  auto gateway = test::GatewayEngine();
  const std::string encrypt =
      "openssl cms -encrypt -binary -recip " + P("gateway.pem") + " -in " + Q("data") + " -outform DER";
  std::vector<uint8_t> plain;
  std::string sender;
  ASSERT_EQ(Shell(encrypt + " -aes-256-gcm -keyopt rsa_padding_mode:oaep -out " + Q("gcm")), 0);
  auto ct = test::Bytes(ReadFile(File("gcm")));
  ASSERT_EQ(gateway->Decode(ct.data(), ct.size(), plain, sender), kOk) << gateway->LastErrorMessage();
  EXPECT_EQ(plain, data_);
  // Unauthenticated encryption and PKCS#1 v1.5 key transport are refused.
  ASSERT_EQ(Shell(encrypt + " -aes-256-cbc -keyopt rsa_padding_mode:oaep -out " + Q("cbc")), 0);
  ct = test::Bytes(ReadFile(File("cbc")));
  EXPECT_EQ(gateway->Decode(ct.data(), ct.size(), plain, sender), kBadEncryptedFormat);
  ASSERT_EQ(Shell(encrypt + " -aes-256-gcm -out " + Q("pkcs1")), 0);
  ct = test::Bytes(ReadFile(File("pkcs1")));
  EXPECT_EQ(gateway->Decode(ct.data(), ct.size(), plain, sender), kBadEncryptedFormat);
  EXPECT_NE(gateway->LastErrorMessage().find("OAEP"), std::string::npos);
}

int32_t CyrillicPrompt(char* buffer, int32_t size) {
  // What the password dialog hands over: Windows-1251 bytes.
  std::snprintf(buffer, static_cast<size_t>(size), "%s", Utf8ToCp1251("пароль").c_str());
  return -1;
}

TEST_F(InteropTest, KeyEncryptedOnAUtf8TerminalOpensWithTheDialogsPassword) {
  ASSERT_EQ(Shell("openssl pkey -in " + P("client.key") + " -aes-256-cbc -passout 'pass:пароль' -out " + Q("key")), 0);
  auto e = test::MakeEngine(Pki("client.pem"), File("key"), "", "");
  e->SetPasswordCallback(&CyrillicPrompt);
  std::vector<uint8_t> sig;
  EXPECT_EQ(e->Sign(nullptr, 0, "", sig), kOk) << e->LastErrorMessage();
}

// The keys test of the command line on the demo keys: the subscribers' directory gives the
// extended test its list, and every subscriber's key takes the test text.
TEST_F(InteropTest, KeysTestRunsOverTheDemoSubscribers) {
  const std::string command = std::string(VG_TEST_BIN_DIR) + "/vgtool keys-test --engine OpenSSL --extended" +
                              " --param CertificateFile=" + P("client.pem") +
                              " --param PrivateKeyFile=" + P("client.key") + " --param CAFile=" + P("ca.pem") +
                              " --param SubscribersDir=" + P("subscribers") +
                              " --param PartnerUID=vg-gateway --report " + Q("report") + " >" + Q("out") + " 2>&1";
  EXPECT_EQ(Shell(command), 0) << ReadFile(File("out"));
  const std::string report = ReadFile(File("out"));
  EXPECT_NE(report.find("   ... CurrentUserUID : vg-client\n"), std::string::npos) << report;
  EXPECT_NE(report.find("Количество абонентских UID : 3\n"), std::string::npos) << report;
  EXPECT_NE(report.find("UID = vg-gateway ---"), std::string::npos);
  EXPECT_NE(report.find("UID = Абонент Тестовый ---"), std::string::npos);
  EXPECT_NE(report.find("   ... этот UID уже проверен."), std::string::npos);
  EXPECT_EQ(report.find("ОШИБКА"), std::string::npos) << report;
  EXPECT_NE(report.find("ТЕСТ  ЗАВЕРШЕН"), std::string::npos);
}

}  // namespace
}  // namespace engmod10
