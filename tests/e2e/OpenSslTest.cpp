// The protected path with real cryptography: each side with its own certificate from a demo CA.
#include <gtest/gtest.h>

#include "platform/SysUtils.h"
#include "support/E2eSupport.h"

using namespace relaytest;
using namespace e2etest;

namespace {

class OpenSslTest : public ProtectedPath {
 protected:
  static void SetUpTestSuite() {
    pki_ = new TempDir;
    const ProcessResult made =
        RunProcess({"bash", std::string(VG_TEST_SOURCE_DIR) + "/scripts/make-demo-pki.sh", pki_->Path()}, 120000);
    ASSERT_EQ(made.exitCode, 0) << made.err;
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }
  void SetUp() override {
    ProtectedPath::SetUp();
    ASSERT_EQ(ReadFileText(pki_->File("gateway.pem")).empty(), false) << "demo PKI";
    gateEngine_ = "Engine=OpenSSL\n";
    gateEngineParams_ = Identity("gateway", "vg-client");
    tunnelEngine_ = "OpenSSL";
    tunnelEngineParams_ = Identity("client", "vg-gateway");
  }
  static std::string Identity(const std::string& who, const std::string& partner,
                              const std::string& subscribers = "subscribers") {
    return "CertificateFile=" + pki_->File(who + ".pem") + "\nPrivateKeyFile=" + pki_->File(who + ".key") +
           "\nCAFile=" + pki_->File("ca.pem") + "\nSubscribersDir=" + pki_->File(subscribers) +
           "\nPartnerUID=" + partner + "\n";
  }
  static TempDir* pki_;
};
TempDir* OpenSslTest::pki_ = nullptr;

TEST_F(OpenSslTest, GetAndPostTravelProtected) {
  StartGate("Compress=2\n");
  StartTunnel("compress mode=2\n");
  ProcessResult r = Curl({"http://" + kHost + "/len/200000"});
  EXPECT_TRUE(r.out == Body(200000)) << r.out.substr(0, 300) << Diagnostics();
  const std::string posted = Body(10000) + "&signed";
  WriteFileText(dir_.File("post.bin"), posted);
  r = Curl({"--data-binary", "@" + dir_.File("post.bin"), "http://" + kHost + "/echo"});
  EXPECT_NE(r.out.find("\r\n\r\n" + posted), std::string::npos) << Diagnostics();
  StopAll();
  EXPECT_EQ(Count(GateLog(), "status=200"), 3u) << GateLog();  // the key request too
}

TEST_F(OpenSslTest, ClearingTheEngineBufferLetsTheRequestGoOn) {
  StartGate();
  StartTunnel();
  ProcessResult r = Curl({"http://" + kHost + "/len/3000"});
  EXPECT_EQ(r.out, Body(3000)) << Diagnostics();
  // The engine forgets its certificates and keys and reads them again for this request.
  r = Curl({"-H", "vg-act: cc", "http://" + kHost + "/len/3001"});
  EXPECT_EQ(r.out, Body(3001)) << Diagnostics();
  r = Curl({"http://" + kHost + "/len/3002"});
  EXPECT_EQ(r.out, Body(3002)) << Diagnostics();
}

TEST_F(OpenSslTest, CorruptedAnswersAreDetected) {
  StartGate("", "CorruptAnswers=1\n");
  StartTunnel();
  const ProcessResult r = Curl({"-D", "-", "http://" + kHost + "/len/5000"});
  EXPECT_NE(StatusOf(r.out), 200) << r.out << Diagnostics();
  EXPECT_EQ(r.out.find(Body(200)), std::string::npos);
}

TEST_F(OpenSslTest, AGatewayOutsideTheTrustedCaIsRefused) {
  // The client knows the gateway's certificate, but it comes from a CA the client does not trust.
  const std::string subs = dir_.File("subs");
  ASSERT_EQ(RunProcess({"mkdir", "-p", subs}).exitCode, 0);
  ASSERT_EQ(RunProcess({"cp", pki_->File("untrusted.pem"), pki_->File("gateway.pem"), subs}).exitCode, 0);
  WriteFileText(dir_.File("both-ca.pem"), ReadFileText(pki_->File("ca.pem")) + ReadFileText(pki_->File("rogue-ca.pem")));
  gateEngineParams_ = "CertificateFile=" + pki_->File("untrusted.pem") + "\nPrivateKeyFile=" +
                      pki_->File("untrusted.key") + "\nCAFile=" + dir_.File("both-ca.pem") + "\nSubscribersDir=" +
                      pki_->File("subscribers") + "\nPartnerUID=vg-client\n";
  tunnelEngineParams_ = "CertificateFile=" + pki_->File("client.pem") + "\nPrivateKeyFile=" +
                        pki_->File("client.key") + "\nCAFile=" + pki_->File("ca.pem") + "\nSubscribersDir=" + subs +
                        "\nPartnerUID=vg-untrusted\n";
  StartGate();
  StartTunnel();
  const ProcessResult r = Curl({"-D", "-", "http://" + kHost + "/len/100"});
  EXPECT_NE(StatusOf(r.out), 200) << r.out << Diagnostics();
  EXPECT_EQ(r.out.find(Body(100)), std::string::npos);
  EXPECT_NE(r.out.find(VGT("Сертификат не заверен доверенным удостоверяющим центром")), std::string::npos) << r.out;
  EXPECT_TRUE(web_.Requests().empty());
}

}  // namespace
