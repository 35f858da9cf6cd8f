// The engine object and the link against a scripted stand-in library, for the answers a real
// engine seldom gives.
#include <gtest/gtest.h>

#include "fakes/FakeHub.h"

namespace {

using enginetest::FakeHub;
using enginetest::Reports;

class FakeLibrary : public ::testing::Test {
 protected:
  FakeLibrary() : hub("fake_hub") {}

  vg::TCryptoParams Params(std::vector<std::pair<int, std::string>> values, const std::string& type = "Fake/1") {
    vg::TCryptoParams params;
    params.SetEngineType(type);
    for (auto& [index, value] : values) params.AddParam(index, value);
    return params;
  }

  // An engine of Fake/1 with no parameters, the log cleared.
  void Open(vg::TCryptoEngine& engine) {
    engine.SetOnError(reports.Handler());
    engine.SetEngineType("Fake/1");
    ASSERT_EQ(engine.EngineType(), "Fake/1");
    hub.TakeLog();
  }

  FakeHub hub;
  Reports reports;
};

TEST_F(FakeLibrary, PromptsAreRegisteredAfterTheParameters) {
  vg::TCryptoEngine engine;
  engine.SetParams(Params({{0, "x"}, {2, "y"}}));
  EXPECT_EQ(engine.EngineType(), "Fake/1");
  EXPECT_EQ(hub.TakeLog(),
            "InitCryptoEngine(Fake/1);SetCryptoParamValue(1,x);SetCryptoParamValue(3,y);"
            "SetPasswordRequestFunc(func);SetTMRequestFunc(func);");
}

TEST_F(FakeLibrary, RefusedParameterStopsTheSetupWithoutRegisteringPrompts) {
  hub.Set("refuse_param", 2);
  vg::TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  engine.SetParams(Params({{0, "x"}, {1, "y"}, {2, "z"}}));
  EXPECT_EQ(engine.Handle(), nullptr);
  EXPECT_EQ(hub.TakeLog(),
            "InitCryptoEngine(Fake/1);SetCryptoParamValue(1,x);SetCryptoParamValue(2,y);DoneCryptoEngine;");
  EXPECT_EQ(reports.Messages, std::vector<std::string>{VGT("Ошибка при инициализации параметров криптографии")});
}

TEST_F(FakeLibrary, SameNameWithOtherParametersDoesNotTouchTheLibrary) {
  vg::TCryptoEngine engine;
  engine.SetParams(Params({{0, "x"}}));
  hub.TakeLog();
  engine.SetParams(Params({{0, "changed"}}));
  EXPECT_EQ(hub.TakeLog(), "");
  engine.SetParams(Params({}, "Fake/2"));
  EXPECT_EQ(hub.TakeLog(),
            "DoneCryptoEngine;InitCryptoEngine(Fake/2);SetPasswordRequestFunc(func);SetTMRequestFunc(func);");
}

TEST_F(FakeLibrary, CodeWithoutTextEndsAfterTheCode) {
  vg::TCryptoEngine engine;
  Open(engine);
  hub.Set("result", 77);
  hub.SetText("error_text", "");
  char data[8] = {};
  int32_t length = 8;
  EXPECT_FALSE(engine.Sign(data, 8, data, length));
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка подписи; Код ошибки: 77"));
  hub.SetText("error_text", "with text");
  EXPECT_FALSE(engine.Encode(data, length, "r"));
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка шифрования; Код ошибки: 77; with text"));
  hub.Set("result", -1);
  EXPECT_FALSE(engine.UpdateCertificateCache("certs"));
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка обновления кэша сертификатов; Код ошибки: -1; with text"));
}

TEST_F(FakeLibrary, ErrorTextIsReadIntoABufferOfTheReportedSize) {
  vg::TCryptoEngine engine;
  Open(engine);
  hub.Set("result", 5);
  hub.SetText("error_text", "0123456789abcdef");
  hub.Set("max_error", 6);
  char data[8] = {};
  int32_t length = 8;
  std::string uid;
  EXPECT_FALSE(engine.Verify(data, 8, data, length, uid));
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка авторизации; Код ошибки: 5; 01234"));
  hub.Set("max_error", -1);  // a failed size query gives no text rather than a bad buffer
  EXPECT_FALSE(engine.Verify(data, 8, data, length, uid));
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка авторизации; Код ошибки: 5"));
}

TEST_F(FakeLibrary, SignWithoutEngineNeverCallsTheLibrary) {
  vg::TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  char data[8] = {};
  int32_t length = 8;
  EXPECT_FALSE(engine.Sign(data, 8, data, length));
  EXPECT_EQ(hub.TakeLog(), "");
  EXPECT_EQ(reports.Messages, std::vector<std::string>{VGT("Криптография не проинициализирована")});
}

TEST_F(FakeLibrary, SignPassesAnEmptySignerAndTheCallersLength) {
  vg::TCryptoEngine engine;
  Open(engine);
  char signature[48] = {};
  int32_t length = engine.MaxSignatureLength();
  ASSERT_EQ(length, 48);
  EXPECT_TRUE(engine.Sign("abc", 3, signature, length));
  EXPECT_EQ(length, 3);
  EXPECT_EQ(hub.TakeLog(), "SignData(48,\"\");");
}

TEST_F(FakeLibrary, UidOutputsFollowTheReportedUidLength) {
  vg::TCryptoEngine engine;
  Open(engine);
  hub.SetText("uid", "a-rather-long-identity");
  hub.Set("max_uid", 7);
  char data[8] = {};
  int32_t length = 8;
  std::string uid;
  EXPECT_TRUE(engine.Decode(data, length, uid));
  EXPECT_EQ(uid, "a-rath");
  EXPECT_EQ(engine.EncodeUIDBySignUID("s"), "a-rath");
  hub.Set("max_uid", -1);
  EXPECT_TRUE(engine.Verify(data, 8, data, 8, uid));
  EXPECT_EQ(uid, "");

  hub.Set("max_uid", 32);
  hub.Set("result", 3);
  uid = "previous";
  EXPECT_FALSE(engine.Decode(data, length, uid));
  EXPECT_EQ(uid, "");  // cleared before the call, not filled on failure
  EXPECT_EQ(engine.EncodeUIDBySignUID("s"), "");
  EXPECT_EQ(reports.Messages.back(),
            VGT("Ошибка при получении идентификатора пользователя; Код ошибки: 3; fake error text"));
}

TEST_F(FakeLibrary, FailedSizeQueriesAreNoSizes) {
  vg::TCryptoEngine engine;
  Open(engine);
  hub.Set("max_signature", -1);
  EXPECT_EQ(engine.MaxSignatureLength(), 0);
  EXPECT_EQ(engine.MaxEncodeAddition(), 10);
}

TEST_F(FakeLibrary, EncodePassesTheRecipientAndUpdatesTheLength) {
  vg::TCryptoEngine engine;
  Open(engine);
  char data[16] = "abc";
  int32_t length = 3;
  EXPECT_TRUE(engine.Encode(data, length, "bob"));
  EXPECT_EQ(length, 4);
  EXPECT_TRUE(engine.ClearCache());
  EXPECT_TRUE(engine.UpdateCertificateCache("list"));
  EXPECT_EQ(hub.TakeLog(), "EncodeData(bob,3);ClearCash;UpdateCertificateCash(list);");
}

TEST_F(FakeLibrary, DestroyingTheEngineOrTheLinkReleasesIt) {
  {
    vg::TCryptoEngine engine;
    Open(engine);
  }
  EXPECT_EQ(hub.TakeLog(), "DoneCryptoEngine;");
  {
    vg::TCryptoParamsEditorLink link;
    link.SetEngineType("Fake/1");
    hub.TakeLog();
  }
  EXPECT_EQ(hub.TakeLog(), "DoneCryptoEngine;");
}

TEST_F(FakeLibrary, LinkChecksTheValueLengthBeforeAskingTheEngine) {
  vg::TCryptoParamsEditorLink link;
  link.SetEngineType("Fake/1");
  ASSERT_EQ(link.ParamCount(), 3);
  hub.TakeLog();
  EXPECT_FALSE(link.SetParamValue(0, std::string(17, 'v')));
  EXPECT_EQ(hub.TakeLog(), "");
  EXPECT_TRUE(link.SetParamValue(0, std::string(16, 'v')));
  EXPECT_EQ(hub.TakeLog(), "SetCryptoParamValue(1," + std::string(16, 'v') + ");");
  EXPECT_EQ(link.ParamValue(0), std::string(16, 'v'));
}

TEST_F(FakeLibrary, LinkNeverStoresOutsideTheEnginesParameters) {
  hub.Set("accept_any_index", 1);
  vg::TCryptoParamsEditorLink link;
  link.SetEngineType("Fake/1");
  hub.TakeLog();
  EXPECT_FALSE(link.SetParamValue(3, "x"));
  EXPECT_FALSE(link.SetParamValue(-1, "x"));
  EXPECT_EQ(hub.TakeLog(), "");
  EXPECT_EQ(link.ParamCount(), 3);
  link.SetRootPath("/root/path");
  EXPECT_EQ(hub.TakeLog(), "SetRootPath(/root/path);");
}

TEST_F(FakeLibrary, EngineListHasTheLibrarysNames) {
  const vg::TCryptoEngineList list;
  EXPECT_EQ(list.Names(), (std::vector<std::string>{"Fake/1", "Fake/2"}));
}

}  // namespace
