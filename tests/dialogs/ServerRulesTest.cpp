// The protected server dialog's rules over the emulation engine: the record found or made,
// the checks of SaveControls in order, the duplicate check for new servers only, the
// parameter grid and its marks, and the client variant's reserve channel.
#include <gtest/gtest.h>

#include "DialogSupport.h"
#include "dialogs/ServerRules.h"

using namespace dialogtest;

namespace {

const std::string kEngine = "Emulation/1.0";

// Controls of a new server that pass every check.
vg::TServerControls Valid(const std::string& name = "web.example") {
  vg::TServerControls c;
  c.Name = name;
  c.RedirectAddress = "127.0.0.1";
  c.RedirectPort = "8443";
  c.Compress = Cp("Максимальная");
  c.EngineType = kEngine;
  c.Params = {{"UID", "client-1"}, {"Partner", "gate-1"}};
  return c;
}

class ServerRulesTest : public ::testing::Test {
 protected:
  std::unique_ptr<vg::TQSClientConfig> copy_ = SampleSettings();
};

TEST_F(ServerRulesTest, NewServerChecksInOrderThenJoinsTheCopy) {
  vg::TWebServerClientRules rules(*copy_, "", "");
  ASSERT_TRUE(rules.Open());
  EXPECT_TRUE(rules.IsNew());
  vg::TServerControls empty;
  rules.LoadControls(empty);
  EXPECT_EQ(empty.Name, "");

  struct Case {
    std::function<void(vg::TServerControls&)> change;
    std::string message;
    std::string control;
  };
  const std::vector<Case> cases = {
      {[](auto& c) {
         c.Name = ".a;b;c";
         c.RedirectPort = "0";
       },
       Cp("Указано слишком много адресов - допускается только два"), "WebLocationEdit"},
      {[](auto& c) { c.Name = ".web.example"; }, Cp("Неправильный адрес"), "WebLocationEdit"},
      {[](auto& c) { c.Name = ""; }, Cp("Неправильный адрес"), "WebLocationEdit"},
      {[](auto& c) { c.RedirectPort = ""; }, Cp("Неправильный номер порта"), "VeilgatePortEdit"},
      {[](auto& c) { c.RedirectPort = "0"; }, Cp("Неправильный номер порта"), "VeilgatePortEdit"},
      {[](auto& c) { c.RedirectPort = "65536"; }, Cp("Неправильный номер порта"), "VeilgatePortEdit"},
      {[](auto& c) { c.EngineType = ""; }, Cp("Не выбран тип криптографии"), "CryptoEngineTypeEdit"},
      {[](auto& c) { c.EngineType = "No such engine"; }, Cp("Не выбран тип криптографии"), "CryptoEngineTypeEdit"},
      {[](auto& c) {
         c.Params.push_back({"TouchMemory", "maybe"});
       },
       Cp("Неправильное значение параметра криптографии TouchMemory"), "CryptoParametersGrid"},
  };
  for (const Case& k : cases) {
    vg::TServerControls c = Valid();
    c.ReservePort = "not checked";
    k.change(c);
    const vg::TServerSaveResult result = rules.SaveControls(c);
    EXPECT_FALSE(result.Ok) << k.message;
    EXPECT_EQ(result.Message, k.message);
    EXPECT_EQ(result.Control, k.control);
    EXPECT_EQ(copy_->ServerCount(), 0);
  }
  // Fields written before a failure stay in the record.
  EXPECT_EQ(rules.Record()->CompressMode(), 2);

  vg::TServerControls c = Valid("web.example;10.0.0.9");
  c.ReserveAddress = "reserve.example";
  c.ReservePort = "x";
  c.ClearBuffer = true;
  ASSERT_TRUE(rules.SaveControls(c).Ok);
  ASSERT_EQ(copy_->ServerCount(), 1);
  const vg::TProtectedServer& saved = *copy_->GetServer(0);
  EXPECT_EQ(saved.AddressesText(), "web.example;10.0.0.9");
  EXPECT_EQ(saved.VeilgateLocation().AsText(), "127.0.0.1:8443");
  EXPECT_EQ(saved.ReserveLocation().Host(), "reserve.example");
  EXPECT_EQ(saved.ReserveLocation().Port(), -1);
  EXPECT_EQ(saved.CryptoParams().EngineType(), kEngine);
  EXPECT_TRUE(saved.ClearBuffer());
  vg::TProtectedServer copied;
  copied.Assign(saved);
  EXPECT_TRUE(copied.ClearBuffer());
  // The record's parameters are every value of the engine, edited ones included.
  vg::TCryptoParamsEditorLink link;
  link.LoadParams(saved.CryptoParams());
  EXPECT_EQ(link.ParamValue(link.IndexOfParam("Partner")), "gate-1");
}

TEST_F(ServerRulesTest, DuplicateNamesOnlyForNewServersOfTheSameEngine) {
  AddServer(*copy_, "web.example;10.0.0.9", kEngine);
  {
    vg::TWebServerRules rules(*copy_, "", "");
    ASSERT_TRUE(rules.Open());
    const vg::TServerSaveResult result = rules.SaveControls(Valid("other.example;10.0.0.9"));
    EXPECT_EQ(result.Message, Cp("Имя сервера '10.0.0.9' уже занято"));
    vg::TServerControls c = Valid("web.example");
    c.EngineType = "Emulation/2.0";
    EXPECT_TRUE(rules.SaveControls(c).Ok);
    EXPECT_EQ(copy_->ServerCount(), 2);
  }
  {
    // Editing keeps the record in place, and never asks whether its name is taken.
    vg::TWebServerRules rules(*copy_, "web.example", kEngine);
    ASSERT_TRUE(rules.Open());
    EXPECT_FALSE(rules.IsNew());
    vg::TServerControls c;
    rules.LoadControls(c);
    EXPECT_EQ(c.Name, "web.example;10.0.0.9");
    EXPECT_EQ(c.RedirectPort, "8443");
    EXPECT_EQ(c.Compress, Cp("Без сжатия"));
    EXPECT_EQ(c.EngineType, kEngine);
    c.Name = "web.example";
    c.RedirectPort = "9443";
    EXPECT_TRUE(rules.SaveControls(c).Ok);
    EXPECT_EQ(copy_->ServerCount(), 2);
    EXPECT_EQ(copy_->GetServer(0)->VeilgateLocation().Port(), 9443);
    EXPECT_EQ(copy_->GetServer(0)->AddressesText(), "web.example");
  }
  vg::TWebServerRules gone(*copy_, "nobody.example", kEngine);
  EXPECT_FALSE(gone.Open());
}

TEST_F(ServerRulesTest, CancelledNewServerLeavesNoTrace) {
  vg::TWebServerRules rules(*copy_, "", "");
  ASSERT_TRUE(rules.Open());
  EXPECT_FALSE(rules.SaveControls(Valid(".bad")).Ok);
  rules.Cancel();
  EXPECT_EQ(copy_->ServerCount(), 0);
  EXPECT_EQ(rules.Record(), nullptr);
}

TEST_F(ServerRulesTest, ParameterGridMarksChangedDefaults) {
  vg::TWebServerRules rules(*copy_, "", "");
  ASSERT_TRUE(rules.Open());
  // No engine yet: one empty row.
  std::vector<vg::TParamRow> rows = rules.ParamRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Name, "");
  rules.SelectEngineType(kEngine);
  rows = rules.ParamRows();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].Name, "UID");
  EXPECT_EQ(rows[0].Mark, "");
  const std::vector<std::string> marks = rules.Marks({{"UID", "someone"}, {"Partner", ""}, {"Unknown", "x"}});
  EXPECT_EQ(marks, (std::vector<std::string>{"*", "", ""}));
  ASSERT_TRUE(rules.Link().SetParamByName("UID", "someone"));
  EXPECT_EQ(rules.ParamRows()[0].Mark, "*");
  EXPECT_EQ(rules.CurrentParams().EngineType(), kEngine);

  const auto none = vg::TWebServerRules::DerivedDirectories("");
  EXPECT_EQ(none[0], Cp("<путь не задан>/Include"));
  EXPECT_EQ(none[1], Cp("<путь не задан>/Withdraw"));
  EXPECT_EQ(none[2], Cp("<путь не задан>/BAD"));
  EXPECT_EQ(vg::TWebServerRules::DerivedDirectories("/var/certs")[2], "/var/certs/BAD");
  const std::vector<std::string> types = vg::TWebServerRules::EngineTypes();
  EXPECT_NE(std::find(types.begin(), types.end(), kEngine), types.end());
}

}  // namespace
