#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "EmulationCodes.h"
#include "TestHub.h"

namespace chubtest {
namespace {

using namespace emulation;

// What the registered prompts saw; the prompts are plain functions, as a C caller's are.
std::mutex gPromptMutex;
std::string gPasswordAnswer;
bool gPasswordEntered = true;
int gPasswordCalls = 0;
std::vector<int> gMediumCodes;

int32_t PasswordPrompt(char* buffer, int32_t size) {
  std::lock_guard<std::mutex> guard(gPromptMutex);
  ++gPasswordCalls;
  if (!gPasswordEntered || !buffer || size < 1) return 0;
  const size_t n = std::min(gPasswordAnswer.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, gPasswordAnswer.data(), n);
  buffer[n] = '\0';
  return -1;
}

int32_t MediumPrompt(uint8_t code) {
  std::lock_guard<std::mutex> guard(gPromptMutex);
  gMediumCodes.push_back(code);
  return 13;
}

class EmulationTest : public ::testing::Test {
 protected:
  EmulationTest() {
    dir_.Put(EmulationModule(), fs::path("lib") / ModuleFile("engmod01"));
    std::lock_guard<std::mutex> guard(gPromptMutex);
    gPasswordAnswer.clear();
    gPasswordEntered = true;
    gPasswordCalls = 0;
    gMediumCodes.clear();
  }
  ~EmulationTest() override {
    for (CHEngineHandle engine : open_) hub_->DoneCryptoEngine(engine);
  }

  CHEngineHandle Open(const char* type, const char* uid = nullptr, const char* partner = nullptr) {
    CHEngineHandle engine = hub_->InitCryptoEngine(type);
    if (!engine) return nullptr;
    open_.push_back(engine);
    if (uid) {
      EXPECT_EQ(hub_->SetCryptoParamValue(engine, kParamUID, uid), 0);
    }
    if (partner) {
      EXPECT_EQ(hub_->SetCryptoParamValue(engine, kParamPartner, partner), 0);
    }
    return engine;
  }

  std::string Sign(CHEngineHandle e, const std::string& data, int32_t* code = nullptr) {
    std::string signature(static_cast<size_t>(hub_->GetMaxSignatureLength(e)), '\0');
    int32_t length = static_cast<int32_t>(signature.size());
    const int32_t result = hub_->SignData(e, data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, "");
    if (code) *code = result;
    if (result != 0) return {};
    signature.resize(static_cast<size_t>(length));
    return signature;
  }

  int32_t Verify(CHEngineHandle e, const std::string& data, const std::string& signature, std::string* signer = nullptr) {
    char uid[64] = "";
    const int32_t code = hub_->VerifyData(e, data.data(), static_cast<int32_t>(data.size()), signature.data(),
                                          static_cast<int32_t>(signature.size()), uid);
    if (signer) *signer = uid;
    return code;
  }

  // Encrypts `plain` for `recipient` (nullptr: the partner); returns the code, `data` the bytes.
  int32_t Encode(CHEngineHandle e, const std::string& plain, const char* recipient, std::string& data) {
    data.assign(plain.size() + static_cast<size_t>(hub_->GetMaxEncodeAddition(e)), '\0');
    std::memcpy(data.data(), plain.data(), plain.size());
    int32_t length = static_cast<int32_t>(plain.size());
    const int32_t code = hub_->EncodeData(e, data.data(), &length, recipient);
    if (code == 0) data.resize(static_cast<size_t>(length));
    return code;
  }

  int32_t Decode(CHEngineHandle e, std::string& data, std::string* sender = nullptr) {
    char uid[64] = "";
    int32_t length = static_cast<int32_t>(data.size());
    const int32_t code = hub_->DecodeData(e, data.data(), &length, uid);
    if (code == 0) data.resize(static_cast<size_t>(length));
    if (sender) *sender = uid;
    return code;
  }

  std::string ErrorText(CHEngineHandle e, int32_t code) {
    std::string text(static_cast<size_t>(hub_->GetMaxErrorStringLength(e)), '\0');
    hub_->GetCryptoErrorString(e, code, text.data());
    return text.c_str();
  }

  std::string LastError(CHEngineHandle e) {
    std::string text(static_cast<size_t>(hub_->GetMaxErrorStringLength(e)), '\0');
    hub_->GetLastErrorMessage(e, text.data());
    return text.c_str();
  }

  std::string Param(CHEngineHandle e, int32_t number, bool name = false) {
    std::string text(2048, '\0');
    if (name) hub_->GetCryptoParamName(e, number, text.data());
    else hub_->GetCryptoParamValue(e, number, text.data());
    return text.c_str();
  }

  ScratchDir dir_;
  Hub hub_{dir_};
  std::vector<CHEngineHandle> open_;
};

TEST_F(EmulationTest, ParametersHaveTheirNamesAndDefaults) {
  CHEngineHandle e = Open("Emulation/1.0");
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(hub_->GetCryptoParamNumber(e), kParamCount);
  const char* names[] = {"UID", "Partner", "Fail", "Password", "TouchMemory", "Subscribers"};
  for (int i = 1; i <= kParamCount; ++i) EXPECT_EQ(Param(e, i, true), names[i - 1]);
  EXPECT_EQ(Param(e, kParamUID), "emulation-user");
  EXPECT_EQ(Param(e, kParamTouchMemory), "0");
  char uid[64];
  EXPECT_EQ(hub_->GetCurrentUserUID(e, uid), 0);
  EXPECT_STREQ(uid, "emulation-user");
}

TEST_F(EmulationTest, ParameterValuesAreChecked) {
  CHEngineHandle e = Open("Emulation/1.0");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, kParamUID, ""), kBadParameterValue);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, kParamUID, std::string(64, 'u').c_str()), kBadParameterValue);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, kParamUID, "a;b"), kBadParameterValue);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, kParamTouchMemory, "yes"), kBadParameterValue);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, kParamFail, "Everything"), kBadParameterValue);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, 7, "x"), kUnknownParameter);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, 0, "x"), kUnknownParameter);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, kParamSubscribers, std::string(2000, 'a').c_str()), kValueTooLong)
      << "cut by the library to the maximum, which leaves no room for the NUL";
  EXPECT_EQ(Param(e, kParamUID), "emulation-user") << "refused values change nothing";
  EXPECT_EQ(LastError(e), "SetCryptoParamValue: Parameter value too long");
  const std::string longest(static_cast<size_t>(hub_->GetMaxCryptoParamValueLength(e) - 1), 'a');
  EXPECT_EQ(hub_->SetCryptoParamValue(e, kParamSubscribers, longest.c_str()), kBadParameterValue) << "UID too long";
}

TEST_F(EmulationTest, SignatureVerifiesOnlyForTheSignedBytesAndNamesTheSigner) {
  CHEngineHandle alice = Open("Emulation/1.0", "alice");
  CHEngineHandle other = Open("Emulation/1.0", "carol");
  ASSERT_TRUE(alice && other);
  const std::string data("GET /account HTTP/1.1\r\n\r\n\0tail", 30);
  const std::string signature = Sign(alice, data);
  ASSERT_FALSE(signature.empty());
  EXPECT_LE(signature.size(), static_cast<size_t>(hub_->GetMaxSignatureLength(alice)));
  std::string signer;
  EXPECT_EQ(Verify(other, data, signature, &signer), 0);
  EXPECT_EQ(signer, "alice");

  std::string changed = data;
  changed[5] ^= 1;
  EXPECT_EQ(Verify(other, changed, signature), kBadSignature);
  EXPECT_EQ(Verify(other, data.substr(0, 29), signature), kBadSignature);
  std::string forged = signature;
  forged[5] = 'm';  // rename the signer
  EXPECT_EQ(Verify(other, data, forged), kBadSignature);
  EXPECT_EQ(Verify(other, data, signature.substr(0, signature.size() - 1)), kNotSignature);
  EXPECT_EQ(Verify(other, data, ""), kNotSignature);
  EXPECT_EQ(Verify(other, data, "EMS9xxxxxxxxxxxxxxxxxxx"), kNotSignature);
  EXPECT_EQ(ErrorText(other, kBadSignature), "The signature does not match the data");

  // Empty data signs too; a signer other than the own identity has no key.
  EXPECT_EQ(Verify(other, "", Sign(alice, "")), 0);
  char buffer[128];
  int32_t length = sizeof buffer;
  EXPECT_EQ(hub_->SignData(alice, "x", 1, buffer, &length, "mallory"), kUnknownSigner);
  EXPECT_EQ(hub_->SignData(alice, "x", 1, buffer, &length, "alice"), 0);
  length = 5;
  EXPECT_EQ(hub_->SignData(alice, "x", 1, buffer, &length, ""), kBufferTooSmall);
  length = 0;  // a caller that passes no size means a buffer of the maximum
  EXPECT_EQ(hub_->SignData(alice, "x", 1, buffer, &length, ""), 0);
  EXPECT_GT(length, 0);
}

TEST_F(EmulationTest, EncryptionIsReversibleOnlyForTheRecipientAndDetectsChanges) {
  CHEngineHandle alice = Open("Emulation/1.0", "alice", "bob");
  CHEngineHandle bob = Open("Emulation/1.0", "bob");
  ASSERT_TRUE(alice && bob);
  const std::string plain("binary\0payload\xff", 15);
  std::string data;
  ASSERT_EQ(Encode(alice, plain, nullptr, data), 0);
  EXPECT_GT(data.size(), plain.size());
  EXPECT_LE(data.size(), plain.size() + static_cast<size_t>(hub_->GetMaxEncodeAddition(alice)));
  EXPECT_EQ(data.find("payload"), std::string::npos) << "the plain bytes do not show";

  std::string copy = data;
  EXPECT_EQ(Decode(alice, copy), kNotRecipient);
  std::string sender;
  copy = data;
  ASSERT_EQ(Decode(bob, copy, &sender), 0);
  EXPECT_EQ(copy, plain);
  EXPECT_EQ(sender, "alice");

  copy = data;
  copy.back() ^= 0x40;
  EXPECT_EQ(Decode(bob, copy), kDataCorrupt);
  copy = data.substr(0, 12);
  EXPECT_EQ(Decode(bob, copy), kNotEncrypted);
  copy = plain;
  EXPECT_EQ(Decode(bob, copy), kNotEncrypted);
  copy.clear();
  EXPECT_EQ(Decode(bob, copy), kNotEncrypted);

  // An explicit recipient wins over the partner; an empty one means the partner.
  ASSERT_EQ(Encode(alice, plain, "alice", data), 0);
  EXPECT_EQ(Decode(alice, data), 0);
  ASSERT_EQ(Encode(alice, "", "", data), 0);
  EXPECT_EQ(Decode(bob, data), 0);
  EXPECT_EQ(data, "");
  EXPECT_EQ(Encode(bob, plain, nullptr, data), kNoRecipient);
  EXPECT_EQ(LastError(bob), "EncodeData: No recipient: none given and parameter \"Partner\" is empty");
}

TEST_F(EmulationTest, TheTwoVersionsDifferButWorkTogether) {
  CHEngineHandle one = Open("Emulation/1.0", "alice", "bob");
  CHEngineHandle two = Open("Emulation/2.0", "bob", "alice");
  ASSERT_TRUE(one && two);
  EXPECT_NE(hub_->GetMaxEncodeAddition(one), hub_->GetMaxEncodeAddition(two));
  EXPECT_NE(hub_->GetMaxSignatureLength(one), hub_->GetMaxSignatureLength(two));
  EXPECT_EQ(hub_->CheckEngineCompatibles("Emulation/1.0", "Emulation/2.0"), 1);
  EXPECT_EQ(hub_->CheckEngineCompatibles("Emulation/2.0", "OpenSSL"), 0);

  std::string data, sender;
  ASSERT_EQ(Encode(two, "hello", nullptr, data), 0);
  ASSERT_EQ(Decode(one, data, &sender), 0);
  EXPECT_EQ(data, "hello");
  EXPECT_EQ(sender, "bob");
  EXPECT_EQ(Verify(two, "hello", Sign(one, "hello")), 0);
  EXPECT_EQ(Verify(one, "hello", Sign(two, "hello")), 0);
  EXPECT_NE(Sign(one, "hello"), Sign(two, "hello"));
}

TEST_F(EmulationTest, FailNamesTheOperationThatFails) {
  CHEngineHandle e = Open("Emulation/1.0", "alice", "alice");
  ASSERT_NE(e, nullptr);
  const std::string signature = Sign(e, "abc");
  std::string data;
  ASSERT_EQ(Encode(e, "abc", nullptr, data), 0);

  int32_t code = 0;
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamFail, "Sign"), 0);
  Sign(e, "abc", &code);
  EXPECT_EQ(code, kInjectedFailure);
  EXPECT_EQ(Verify(e, "abc", signature), 0) << "only the named operation fails";
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamFail, "verify"), 0);
  EXPECT_EQ(Verify(e, "abc", signature), kInjectedFailure);
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamFail, "Decode"), 0);
  std::string copy = data;
  EXPECT_EQ(Decode(e, copy), kInjectedFailure);
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamFail, "Encode"), 0);
  EXPECT_EQ(Encode(e, "abc", nullptr, copy), kInjectedFailure);
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamFail, "Init"), 0);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, kParamUID, "bob"), kInjectedFailure);
  EXPECT_EQ(ErrorText(e, kInjectedFailure), "Failure requested by parameter \"Fail\"");
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamFail, ""), 0);
  EXPECT_EQ(Decode(e, data), 0);
}

TEST_F(EmulationTest, PasswordIsAskedOnceAndMustMatch) {
  CHEngineHandle e = Open("Emulation/1.0", "alice");
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamPassword, "secret"), 0);
  int32_t code = 0;
  Sign(e, "abc", &code);
  EXPECT_EQ(code, kNoPasswordFunction);

  hub_->SetPasswordRequestFunc(e, PasswordPrompt);
  gPasswordEntered = false;
  Sign(e, "abc", &code);
  EXPECT_EQ(code, kPasswordCancelled);
  gPasswordEntered = true;
  gPasswordAnswer = "wrong";
  Sign(e, "abc", &code);
  EXPECT_EQ(code, kWrongPassword);
  EXPECT_EQ(LastError(e), "SignData: Wrong key password");
  gPasswordAnswer = "secret";
  Sign(e, "abc", &code);
  EXPECT_EQ(code, 0);
  Sign(e, "abc", &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(gPasswordCalls, 3) << "an unlocked key is not asked for again";

  hub_->ClearCash(e);
  Sign(e, "abc", &code);
  EXPECT_EQ(gPasswordCalls, 4) << "clearing the cache locks the key again";
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamPassword, "other"), 0);
  Sign(e, "abc", &code);
  EXPECT_EQ(code, kWrongPassword) << "a new password locks the key again";
}

TEST_F(EmulationTest, TouchMemoryWrapsEverySignatureInShowAndHide) {
  CHEngineHandle e = Open("Emulation/2.0", "alice");
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamTouchMemory, "1"), 0);
  int32_t code = 0;
  Sign(e, "abc", &code);
  EXPECT_EQ(code, kNoKeyMediumFunction);
  hub_->SetTMRequestFunc(e, MediumPrompt);
  Sign(e, "abc", &code);
  EXPECT_EQ(code, 0);
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamPassword, "pw"), 0);
  Sign(e, "abc", &code);  // fails for want of a password function, but still hides the prompt
  EXPECT_EQ(code, kNoPasswordFunction);
  EXPECT_EQ(gMediumCodes, (std::vector<int>{0, 1, 0, 1}));
  std::string data;
  EXPECT_EQ(Encode(e, "abc", "alice", data), 0);
  EXPECT_EQ(gMediumCodes.size(), 4u) << "only signatures use the key medium";
}

TEST_F(EmulationTest, ReportListsSubscribersAndDescribesKnownKeys) {
  CHEngineHandle e = Open("Emulation/1.0", "alice", "gate");
  ASSERT_NE(e, nullptr);
  const int32_t size = hub_->GetMaxReportSize(e);
  ASSERT_GT(size, 0);
  std::string report(static_cast<size_t>(size), '\0');
  ASSERT_EQ(hub_->GetReport(e, nullptr, report.data()), 0);
  EXPECT_STREQ(report.c_str(), "ABONENTSLIST:");
  ASSERT_EQ(hub_->SetCryptoParamValue(e, kParamSubscribers, "bob;carol;;alice"), 0);
  ASSERT_EQ(hub_->GetReport(e, nullptr, report.data()), 0);
  EXPECT_STREQ(report.c_str(), "ABONENTSLIST:bob\r\ncarol\r\nalice");
  ASSERT_EQ(hub_->GetReport(e, "carol", report.data()), 0);
  EXPECT_NE(std::string(report.c_str()).find("UID: carol\r\n"), std::string::npos);
  EXPECT_EQ(hub_->GetReport(e, "gate", report.data()), 0);
  EXPECT_EQ(hub_->GetReport(e, "dave", report.data()), kUnknownUID);
  EXPECT_EQ(hub_->GetReport(e, nullptr, nullptr), kBadArgument);
  char uid[64];
  EXPECT_EQ(hub_->GetEncodeUIDBySignUID(e, "carol", uid), 0);
  EXPECT_STREQ(uid, "carol");
  EXPECT_EQ(hub_->GetEncodeUIDBySignUID(e, "", uid), kBadArgument);
}

TEST_F(EmulationTest, BadArgumentsAndUnsupportedOperationsAreCodesNotCrashes) {
  CHEngineHandle e = Open("Emulation/1.0", "alice", "bob");
  ASSERT_NE(e, nullptr);
  char buffer[256];
  int32_t length = -1;
  EXPECT_EQ(hub_->EncodeData(e, buffer, &length, nullptr), kBadArgument);
  EXPECT_EQ(hub_->EncodeData(e, buffer, nullptr, nullptr), kBadArgument);
  EXPECT_EQ(hub_->DecodeData(e, nullptr, &length, buffer), kBadArgument);
  EXPECT_EQ(hub_->SignData(e, nullptr, 3, buffer, &length, ""), kBadArgument);
  EXPECT_EQ(hub_->VerifyData(e, "a", -1, buffer, 4, buffer), kBadArgument);
  EXPECT_EQ(hub_->GetCurrentUserUID(e, nullptr), kBadArgument);
  EXPECT_EQ(hub_->SignFile(e, 0), kNotSupported);
  EXPECT_EQ(hub_->HashData(e, 0, 0, 0, 0, 0), -1) << "the emulation offers no optional entry";
  EXPECT_EQ(hub_->UpdateCertificateCash(e, "anything"), 0);
  EXPECT_EQ(ErrorText(e, 9999), "");
  EXPECT_EQ(hub_->InitCryptoEngine("Emulation/3.0"), nullptr);
}

}  // namespace
}  // namespace chubtest
