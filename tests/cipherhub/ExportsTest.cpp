#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestHub.h"

namespace chubtest {
namespace {

// A fresh copy of cipherhub in lib/ of a scratch directory; test modules go beside it.
class ExportsTest : public ::testing::Test {
 protected:
  // `stem` names the module as the engine table does, without the system's file suffix.
  void Install(const std::string& mock, const std::string& stem) {
    dir_.Put(MockModule(mock), "lib" / ModuleFile(stem));
  }
  CHEngineHandle Open(const char* type) {
    CHEngineHandle engine = hub_->InitCryptoEngine(type);
    if (engine) open_.push_back(engine);
    return engine;
  }
  void TearDown() override {
    for (CHEngineHandle engine : open_) hub_->DoneCryptoEngine(engine);
  }

  SearchPathGuard path_;
  ScratchDir dir_;
  Hub hub_{dir_};
  std::vector<CHEngineHandle> open_;
};

TEST_F(ExportsTest, EveryExportIsThere) { EXPECT_EQ(hub_.ResolvedExports(), 84); }

TEST_F(ExportsTest, EngineTypeEnumeration) {
  char name[100];
  EXPECT_EQ(hub_->GetMaxCryptoEngineTypeLength(), 100);
  hub_->GetCryptoEngineTypes(1, name);
  EXPECT_STREQ(name, "Emulation/1.0");
  hub_->GetCryptoEngineTypes(20, name);
  EXPECT_STREQ(name, "LirSSL");
  for (int index : {0, 21, -1, -1000, 1000}) {
    std::strcpy(name, "x");
    hub_->GetCryptoEngineTypes(index, name);
    EXPECT_STREQ(name, "") << index;
  }
  hub_->GetCryptoEngineTypes(1, nullptr);
}

TEST_F(ExportsTest, UnknownOrUnavailableTypesGiveNoHandle) {
  Install("mock_full", "engmod10");
  EXPECT_EQ(Open("openssl"), nullptr);
  EXPECT_EQ(Open("OpenSSL "), nullptr);
  EXPECT_EQ(Open(""), nullptr);
  EXPECT_EQ(Open(nullptr), nullptr);
  EXPECT_EQ(Open("Paragon/4.0"), nullptr) << "engmod02 is not installed";
  EXPECT_NE(Open("OpenSSL"), nullptr);
  EXPECT_EQ(hub_->GetCryptoEngineStatus("OpenSSL"), 1);
  EXPECT_EQ(hub_->GetCryptoEngineStatus("openssl"), 0);
  EXPECT_EQ(hub_->GetCryptoEngineStatus("Paragon/4.0"), 0);
  EXPECT_EQ(hub_->GetCryptoEngineStatus(""), 0);
  EXPECT_EQ(hub_->GetCryptoEngineStatus(nullptr), 0);
}

TEST_F(ExportsTest, ModuleInstalledAfterAFailedLookupIsUsedWithoutRestart) {
  EXPECT_EQ(Open("Emulation/1.0"), nullptr);
  EXPECT_EQ(hub_->GetCryptoEngineStatus("Emulation/2.0"), 0);
  Install("mock_full", "engmod01");
  EXPECT_NE(Open("Emulation/1.0"), nullptr);
}

TEST_F(ExportsTest, NullHandleFailsEverywhere) {
  const CHEngineHandle none = nullptr;
  char buffer[64] = "untouched";
  int32_t length = 3;
  EXPECT_EQ(hub_->GetMaxEncodeAddition(none), -1);
  EXPECT_EQ(hub_->GetMaxSignatureLength(none), -1);
  EXPECT_EQ(hub_->GetCryptoParamNumber(none), -1);
  EXPECT_EQ(hub_->SetCryptoParamValue(none, 1, "v"), -1);
  EXPECT_EQ(hub_->EncodeData(none, buffer, &length, "x"), -1);
  EXPECT_EQ(hub_->DecodeData(none, buffer, &length, buffer), -1);
  EXPECT_EQ(hub_->SignData(none, "a", 1, buffer, &length, ""), -1);
  EXPECT_EQ(hub_->VerifyData(none, "a", 1, buffer, 4, buffer), -1);
  EXPECT_EQ(hub_->GetReport(none, nullptr, buffer), -1);
  EXPECT_EQ(hub_->HashData(none, 1, 2, 3, 4, 5), -1);
  EXPECT_EQ(hub_->ExportObject(none, 1, 2, 3, 4, 5, 6), -1);
  EXPECT_EQ(hub_->GenerateNewSEKMDM(none), -1);
  hub_->GetCryptoParamName(none, 1, buffer);
  hub_->GetCryptoParamValue(none, 1, buffer);
  hub_->GetCryptoErrorString(none, 1, buffer);
  hub_->GetLastErrorMessage(none, buffer);
  hub_->GetCryptoEngineType(none, buffer);
  hub_->ClearCash(none);
  hub_->DoneCryptoEngine(none);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(length, 3);
}

TEST_F(ExportsTest, SetRootPathWithNullHandleStillSetsTheRoot) {
  const fs::path module = dir_.Put(MockModule("mock_full"), "root/EXE" / ModuleFile("engmod04"));
  EXPECT_EQ(Open("Verba-OW/4"), nullptr);
  hub_->SetRootPath(nullptr, (dir_.Path() / "root").string().c_str());
  CHEngineHandle engine = Open("Verba-OW/4");
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(Normal(Field(Report(hub_, engine), "where")), Normal(module));
}

TEST_F(ExportsTest, ArgumentsAndResultsPassUnchangedAndInOrder) {
  Install("mock_full", "engmod01");
  CHEngineHandle e = Open("Emulation/1.0");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(hub_->GenerateNewSSK(e), 21);
  EXPECT_EQ(hub_->IsDifferentKeys(e), 23);
  EXPECT_EQ(hub_->GetMaxSignAddition(e), 43);
  EXPECT_EQ(hub_->VerifyFile(e, 3, 4), 43);
  EXPECT_EQ(hub_->AddSign(e, 1, 2, 3), 321);
  EXPECT_EQ(hub_->RemoveSign(e, 1, 2, 3), 123);
  EXPECT_EQ(hub_->SaveSignedDataToFile(e, 1, 2, 3, 4, 5), 54321);
  EXPECT_EQ(hub_->VerifySignWOCheckValidity(e, 5, 4, 3, 2, 1), 12345);
  EXPECT_EQ(hub_->HashData(e, 1, 2, 3, 4, 5), 54321);
  EXPECT_EQ(hub_->GetPureSign(e, 1, 2, 3, 4, 5), 12345);
  EXPECT_EQ(hub_->GetParamInfo(e, 1, 2, 3, 4), 4321);
  EXPECT_EQ(hub_->Import(e, 1, 2, 3, 4), 1234);
  EXPECT_EQ(hub_->ExportObject(e, 1, 2, 3, 4, 5, 6), 654321);
  EXPECT_EQ(hub_->ShowCertificate(e, 9), 7009);
  EXPECT_EQ(hub_->UpdateCertificateCash(e, "abc"), 3);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, 2, "x"), 7) << "a module's error code passes through";

  char buffer[64];
  int32_t length = 4;
  ASSERT_EQ(hub_->SignData(e, "ab", 2, buffer, &length, ""), 0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(hub_->VerifyData(e, "ab", 2, buffer, length, buffer + 8), 0);
  EXPECT_STREQ(buffer + 8, "mock-signer");
  EXPECT_EQ(hub_->VerifyData(e, "ac", 2, buffer, length, buffer + 8), 5);

  hub_->GetCryptoEngineType(e, buffer);
  EXPECT_STREQ(buffer, "Emulation/1.0") << "answered by the library, not the module";
  hub_->GetCryptoErrorString(e, 12, buffer);
  EXPECT_STREQ(buffer, "mock error 12");

  hub_->SetPasswordRequestFunc(e, [](char*, int32_t) -> int32_t { return 0; });
  hub_->SetTMRequestFunc(e, [](uint8_t) -> int32_t { return 13; });
  const std::string report = Report(hub_, e);
  EXPECT_EQ(Field(report, "password"), "1");
  EXPECT_EQ(Field(report, "medium"), "1");
  EXPECT_EQ(Field(report, "type"), "Emulation/1.0");
}

TEST_F(ExportsTest, ParameterValuesAreCutToTheModulesMaximum) {
  Install("mock_full", "engmod01");
  CHEngineHandle e = Open("Emulation/1.0");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, 1, "abcdefghijklmnopqrstuvwxyz"), 0);  // the mock's maximum is 16
  EXPECT_EQ(Field(Report(hub_, e), "value"), "abcdefghijklmnop");
  EXPECT_EQ(hub_->SetCryptoParamValue(e, 1, "short"), 0);
  EXPECT_EQ(Field(Report(hub_, e), "value"), "short");
  EXPECT_EQ(hub_->SetCryptoParamValue(e, 1, nullptr), 0);
  EXPECT_EQ(Field(Report(hub_, e), "value"), "");

  ASSERT_EQ(hub_->IncludePublicKey(e, 0), 0);  // the mock's control: maximum 0
  EXPECT_EQ(hub_->SetCryptoParamValue(e, 1, "abc"), 0);
  EXPECT_EQ(Field(Report(hub_, e), "value"), "");
  EXPECT_EQ(Field(Report(hub_, e), "setcalls"), "4");

  ASSERT_EQ(hub_->IncludePublicKey(e, -1), 0);
  EXPECT_EQ(hub_->SetCryptoParamValue(e, 1, "abc"), -1);
  EXPECT_EQ(Field(Report(hub_, e), "setcalls"), "4") << "the module must not be called";
}

TEST_F(ExportsTest, SetRootPathForwardsOnlyWhenTheRootIsAccepted) {
  Install("mock_full", "engmod01");
  CHEngineHandle e = Open("Emulation/1.0");
  ASSERT_NE(e, nullptr);
  const std::string root = (dir_.Path() / "keys").string();
  hub_->SetRootPath(e, root.c_str());
  hub_->SetRootPath(e, (root + "/").c_str());
  std::string report = Report(hub_, e);
  EXPECT_EQ(Field(report, "rootcalls"), "2");
  EXPECT_EQ(Field(report, "root"), root + "/");
  hub_->SetRootPath(e, "/elsewhere");
  hub_->SetDllRoot("/elsewhere");
  report = Report(hub_, e);
  EXPECT_EQ(Field(report, "rootcalls"), "2");
  EXPECT_EQ(Field(report, "root"), root + "/");
}

TEST_F(ExportsTest, SetDllRootBeforeFirstUseWidensTheSearch) {
  dir_.Put(MockModule("mock_full"), "root/USER" / ModuleFile("engmod05"));
  hub_->SetDllRoot((dir_.Path() / "root").string().c_str());
  EXPECT_NE(Open("Message-PRO 1.1"), nullptr);
}

TEST_F(ExportsTest, OptionalEntriesMissing) {
  Install("mock_minimal", "engmod01");
  CHEngineHandle e = Open("Emulation/2.0");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(hub_->HashData(e, 1, 2, 3, 4, 5), -1);
  EXPECT_EQ(hub_->ShowCertificate(e, 1), -1);
  EXPECT_EQ(hub_->Import(e, 1, 2, 3, 4), -1);
  EXPECT_EQ(hub_->ExportObject(e, 1, 2, 3, 4, 5, 6), -1);
  EXPECT_EQ(hub_->AddSign(e, 1, 2, 3), 321) << "required functions still work";
  char name[100];
  hub_->GetCryptoEngineType(e, name);
  EXPECT_STREQ(name, "Emulation/2.0");
  EXPECT_EQ(hub_->CheckEngineCompatibles("Emulation/1.0", "Emulation/2.0"), 0) << "no CheckCompatibles to ask";
}

TEST_F(ExportsTest, ModuleLackingIncludeCRLServesNothing) {
  Install("mock_nocrl", "engmod01");
  EXPECT_EQ(Open("Emulation/1.0"), nullptr);
  EXPECT_EQ(Open("Emulation/2.0"), nullptr);
  EXPECT_EQ(hub_->GetCryptoEngineStatus("Emulation/1.0"), 0);
  EXPECT_TRUE(IsLoaded(hub_.Directory() / ModuleFile("engmod01")));
}

TEST_F(ExportsTest, CompatibilityAsksBothModulesForExactlyOne) {
  Install("mock_full", "engmod01");
  Install("mock_full", "engmod02");
  Install("mock_full", "engmod03");
  Install("mock_full", "engmod04");
  EXPECT_EQ(hub_->CheckEngineCompatibles("no such engine", "no such engine"), 1);
  EXPECT_EQ(hub_->CheckEngineCompatibles("OpenSSL", "OpenSSL"), 1) << "equal texts need no module";
  EXPECT_EQ(hub_->CheckEngineCompatibles(nullptr, "Emulation/1.0"), 0);
  EXPECT_EQ(hub_->CheckEngineCompatibles("Emulation/1.0", nullptr), 0);
  EXPECT_EQ(hub_->CheckEngineCompatibles("Emulation/1.0", "Paragon/4.0"), 1);
  EXPECT_EQ(hub_->CheckEngineCompatibles("Emulation/1.0", "LAN Crypto/2.35"), 0) << "an answer of 2 is no";
  EXPECT_EQ(hub_->CheckEngineCompatibles("Verba-OW/4", "Emulation/1.0"), 0) << "the second module says no";
  EXPECT_EQ(hub_->CheckEngineCompatibles("Emulation/1.0", "OpenSSL"), 0) << "module absent";
  EXPECT_EQ(hub_->CheckEngineCompatibles("Emulation/1.0", "emulation/1.0"), 0);
}

TEST_F(ExportsTest, ExceptionsFromAModuleBecomeFailures) {
  Install("mock_throw", "engmod01");
  CHEngineHandle e = hub_->InitCryptoEngine("Emulation/1.0");
  ASSERT_NE(e, nullptr);
  char buffer[64] = "untouched";
  int32_t length = 4;
  EXPECT_EQ(hub_->SignData(e, "ab", 2, buffer, &length, ""), -1);
  EXPECT_EQ(hub_->VerifyData(e, "ab", 2, buffer, 4, buffer), -1);
  EXPECT_EQ(hub_->EncodeData(e, buffer, &length, "x"), -1);
  EXPECT_EQ(hub_->DecodeData(e, buffer, &length, buffer), -1);
  hub_->GetCryptoErrorString(e, 1, buffer);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(hub_->GenerateNewSEK(e), 22) << "the engine stays usable";
  hub_->DoneCryptoEngine(e);  // its DoneEngine throws after freeing the engine
}

TEST_F(ExportsTest, TwoNamesOfOneModuleGiveCoexistingHandles) {
  Install("mock_full", "engmod07");
  CHEngineHandle ms = Open("Ms Crypto API 2.0");
  CHEngineHandle pro = Open("CryptoPro CSP/1.1");
  ASSERT_NE(ms, nullptr);
  ASSERT_NE(pro, nullptr);
  const std::string a = Report(hub_, ms), b = Report(hub_, pro);
  EXPECT_EQ(Field(a, "type"), "Ms Crypto API 2.0");
  EXPECT_EQ(Field(b, "type"), "CryptoPro CSP/1.1");
  EXPECT_EQ(Field(a, "live"), "2") << "both engine objects live in one module instance";
  EXPECT_EQ(Field(a, "where"), Field(b, "where"));
}

TEST_F(ExportsTest, ModulesStayLoadedUntilTheLibraryIsUnloaded) {
  Install("mock_full", "engmod01");
  CHEngineHandle e = hub_->InitCryptoEngine("Emulation/1.0");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Field(Report(hub_, e), "live"), "1");
  hub_->DoneCryptoEngine(e);
  const fs::path module = hub_.Directory() / ModuleFile("engmod01");
  EXPECT_TRUE(IsLoaded(module));
  CHEngineHandle again = hub_->InitCryptoEngine("Emulation/1.0");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Field(Report(hub_, again), "live"), "1") << "the first engine object was released";
  hub_->DoneCryptoEngine(again);
  hub_.Unload();
  EXPECT_FALSE(IsLoaded(module));
}

}  // namespace
}  // namespace chubtest
