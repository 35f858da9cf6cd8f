// The crypto engine object against the real library and the emulation engine.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "EmulationCodes.h"
#include "EngineReports.h"
#include "protection/CipherhubLib.h"
#include "protection/fcrypt.h"

namespace {

using enginetest::Reports;
using vg::TCryptoEngine;
using vg::TCryptoParams;

const std::string kType1 = "Emulation/1.0";
const std::string kType2 = "Emulation/2.0";

TCryptoParams Params(const std::string& type, std::vector<std::pair<int, std::string>> values) {
  TCryptoParams params;
  params.SetEngineType(type);
  for (auto& [index, value] : values) params.AddParam(index, value);
  return params;
}

// Index of an emulation parameter in TCryptoParams (the library counts from 1).
int At(emulation::Parameter p) { return p - 1; }

std::string Signer(TCryptoEngine& engine, const std::string& data) {
  std::string signature(static_cast<size_t>(engine.MaxSignatureLength()), '\0');
  int32_t length = static_cast<int32_t>(signature.size());
  if (!engine.Sign(data.data(), static_cast<int32_t>(data.size()), signature.data(), length)) return "<sign failed>";
  std::string uid;
  if (!engine.Verify(data.data(), static_cast<int32_t>(data.size()), signature.data(), length, uid))
    return "<verify failed>";
  return uid;
}

TEST(CryptoEngine, UnknownTypeLeavesNoEngineAndReportsTheName) {
  Reports reports;
  TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  engine.SetEngineType("openssl");  // names are compared with letter case
  EXPECT_EQ(engine.Handle(), nullptr);
  EXPECT_EQ(engine.EngineType(), "");
  ASSERT_EQ(reports.Messages.size(), 1u);
  EXPECT_EQ(reports.Messages[0], VGT("Неизвестный тип криптографии \"openssl\""));

  const std::string cyrillic = VGT("Крипто");
  engine.SetEngineType(cyrillic);
  ASSERT_EQ(reports.Messages.size(), 2u);
  EXPECT_EQ(reports.Messages[1], VGT("Неизвестный тип криптографии \"Крипто\""));
}

TEST(CryptoEngine, RefusedParameterReleasesTheEngine) {
  Reports reports;
  TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  engine.SetParams(Params(kType1, {{At(emulation::kParamUID), "not;valid"}}));
  EXPECT_EQ(engine.Handle(), nullptr);
  EXPECT_EQ(engine.EngineType(), "");
  EXPECT_EQ(reports.Messages, std::vector<std::string>{VGT("Ошибка при инициализации параметров криптографии")});
  // The failed engine is gone: an operation finds no engine.
  std::string uid = "kept";
  int32_t length = 4;
  char data[4] = {};
  EXPECT_FALSE(engine.Decode(data, length, uid));
  EXPECT_EQ(uid, "kept");
  EXPECT_EQ(reports.Messages.back(), VGT("Криптография не проинициализирована"));
}

TEST(CryptoEngine, SignsVerifiesEncryptsAndDecryptsWithItsParameters) {
  Reports reports;
  TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  engine.SetParams(Params(kType2, {{At(emulation::kParamUID), "alice"}, {At(emulation::kParamPartner), "bob"}}));
  ASSERT_EQ(engine.EngineType(), kType2);
  ASSERT_NE(engine.Handle(), nullptr);
  EXPECT_GT(engine.MaxSignatureLength(), 0);
  EXPECT_GT(engine.MaxEncodeAddition(), 0);
  EXPECT_EQ(Signer(engine, "payload"), "alice");

  const std::string plain = "secret body \x01\x02";
  std::string buffer = plain;
  buffer.resize(plain.size() + static_cast<size_t>(engine.MaxEncodeAddition()));
  int32_t length = static_cast<int32_t>(plain.size());
  ASSERT_TRUE(engine.Encode(buffer.data(), length, "alice"));
  EXPECT_NE(buffer.substr(0, plain.size()), plain);
  std::string sender;
  ASSERT_TRUE(engine.Decode(buffer.data(), length, sender));
  EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(length)), plain);
  EXPECT_EQ(sender, "alice");
  EXPECT_EQ(engine.EncodeUIDBySignUID("bob"), "bob");
  EXPECT_TRUE(engine.ClearCache());
  EXPECT_TRUE(reports.Messages.empty());
}

TEST(CryptoEngine, EngineErrorsCarryTheCodeAndTheEnginesText) {
  Reports reports;
  TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  engine.SetParams(Params(kType1, {{At(emulation::kParamUID), "alice"}}));
  ASSERT_EQ(engine.EngineType(), kType1);

  std::string signature(static_cast<size_t>(engine.MaxSignatureLength()), '\0');
  int32_t length = static_cast<int32_t>(signature.size());
  ASSERT_TRUE(engine.Sign("abc", 3, signature.data(), length));
  std::string uid = "old";
  EXPECT_FALSE(engine.Verify("abd", 3, signature.data(), length, uid));
  EXPECT_EQ(uid, "");
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка авторизации; Код ошибки: 11; The signature does not match the data"));

  char garbage[16] = "not encrypted";
  int32_t garbageLength = 13;
  EXPECT_FALSE(engine.Decode(garbage, garbageLength, uid));
  EXPECT_EQ(reports.Messages.back(),
            VGT("Ошибка расшифрования; Код ошибки: 8; The data is not encrypted by the emulation engine"));

  std::string buffer(200, '\0');
  int32_t plainLength = 3;
  EXPECT_FALSE(engine.Encode(buffer.data(), plainLength, ""));  // no recipient, no partner
  EXPECT_EQ(reports.Messages.back(),
            VGT("Ошибка шифрования; Код ошибки: 6; No recipient: none given and parameter \"Partner\" is empty"));

  EXPECT_EQ(engine.EncodeUIDBySignUID("a;b"), "");
  EXPECT_EQ(reports.Messages.back(),
            VGT("Ошибка при получении идентификатора пользователя; Код ошибки: 1; Invalid argument (null pointer, "
                "negative length or UID too long)"));

  engine.SetEngineType("");
  engine.SetParams(Params(kType1, {{At(emulation::kParamFail), "Sign"}}));
  length = static_cast<int32_t>(signature.size());
  EXPECT_FALSE(engine.Sign("abc", 3, signature.data(), length));
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка подписи; Код ошибки: 17; Failure requested by parameter \"Fail\""));
  EXPECT_EQ(reports.Messages.size(), 5u);
}

TEST(CryptoEngine, WithoutEngineEveryOperationReportsAndFails) {
  Reports reports;
  TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  char buffer[64] = "data";
  int32_t length = 4;
  std::string uid = "untouched";
  EXPECT_FALSE(engine.Encode(buffer, length, "x"));
  EXPECT_FALSE(engine.Decode(buffer, length, uid));
  EXPECT_FALSE(engine.Sign(buffer, 4, buffer, length));
  EXPECT_FALSE(engine.Verify(buffer, 4, buffer, length, uid));
  EXPECT_FALSE(engine.ClearCache());
  EXPECT_EQ(uid, "untouched");
  EXPECT_EQ(length, 4);
  EXPECT_EQ(reports.Messages, std::vector<std::string>(5, VGT("Криптография не проинициализирована")));
  EXPECT_EQ(engine.MaxSignatureLength(), 0);
  EXPECT_EQ(engine.MaxEncodeAddition(), 0);
  EXPECT_EQ(engine.EncodeUIDBySignUID("alice"), "");
  EXPECT_EQ(reports.Messages.size(), 5u);  // the UID query fails quietly
}

TEST(CryptoEngine, WithoutHandlerFailuresAreQuiet) {
  TCryptoEngine engine;
  engine.SetEngineType("no such engine");
  char buffer[8] = {};
  int32_t length = 8;
  EXPECT_FALSE(engine.Sign(buffer, 0, buffer, length));
  EXPECT_EQ(engine.EngineType(), "");
}

TEST(CryptoEngine, SameTypeNameKeepsTheOpenEngineUntilReset) {
  TCryptoEngine engine;
  engine.SetParams(Params(kType1, {{At(emulation::kParamUID), "alice"}}));
  ASSERT_EQ(engine.EngineType(), kType1);
  const CHEngineHandle first = engine.Handle();

  engine.SetParams(Params(kType1, {{At(emulation::kParamUID), "carol"}}));
  EXPECT_EQ(engine.Handle(), first);
  EXPECT_EQ(Signer(engine, "x"), "alice");
  EXPECT_EQ(engine.Params().ParamValue(0), "carol");  // stored, not applied

  engine.SetEngineType("");
  EXPECT_EQ(engine.Handle(), nullptr);
  EXPECT_EQ(engine.EngineType(), "");
  engine.SetParams(Params(kType1, {{At(emulation::kParamUID), "carol"}}));
  EXPECT_EQ(Signer(engine, "x"), "carol");
}

TEST(CryptoEngine, ChangingTheTypeReopensWithTheStoredParameters) {
  TCryptoEngine engine;
  engine.SetParams(Params(kType1, {{At(emulation::kParamUID), "dave"}}));
  engine.SetEngineType(kType2);
  EXPECT_EQ(engine.EngineType(), kType2);
  EXPECT_EQ(Signer(engine, "x"), "dave");
}

TEST(CryptoParams, AssignCopiesItemsAndTheTypeOnlyFromParams) {
  TCryptoParams source;
  source.SetEngineType(kType1);
  source.AddParam(2, "two");
  source.AddParam(2, "again");  // appended, not replaced
  ASSERT_EQ(source.Count(), 2);

  TCryptoParams copy;
  copy.AddParam(7, "old");
  copy.Assign(source);
  EXPECT_EQ(copy.EngineType(), kType1);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.ParamIndex(0), 2);
  EXPECT_EQ(copy.ParamValue(1), "again");

  vg::TTaggedStrings plain;
  plain.Add("v", 5);
  copy.Assign(plain);
  EXPECT_EQ(copy.EngineType(), kType1);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.ParamIndex(0), 5);
}

TEST(CryptoEngine, ExceptionClassNamesAreUnqualified) {
  EXPECT_EQ(vg::ExceptionClassName(vg::ELoadCipherhubError("x")), "ELoadCipherhubError");
  EXPECT_EQ(vg::ExceptionClassName(std::runtime_error("x")), "runtime_error");
}

TEST(CryptoEngineList, ListsTheLibrarysNamesInItsOrder) {
  const vg::TCryptoEngineList list;
  ASSERT_EQ(list.Count(), 20);
  EXPECT_EQ(list[0], kType1);
  EXPECT_EQ(list[1], kType2);
  EXPECT_EQ(list[12], "OpenSSL");
  EXPECT_EQ(list[19], "LirSSL");
  EXPECT_EQ(list.IndexOf("OpenSSL"), 12);
  EXPECT_EQ(list.IndexOf("openssl"), -1);
  EXPECT_EQ(vg::chlib::GetCryptoEngineStatus(kType1.c_str()), 1);
  EXPECT_EQ(vg::chlib::GetCryptoEngineStatus("LirSSL"), 0);  // no module is built for it
}

}  // namespace
