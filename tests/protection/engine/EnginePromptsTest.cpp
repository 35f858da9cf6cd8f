// The emulation engine calling back the prompts registered by the engine object.
#include <gtest/gtest.h>

#include "EmulationCodes.h"
#include "EngineReports.h"
#include "ScriptedPrompts.h"
#include "protection/TMReq.h"
#include "protection/fcrypt.h"

namespace {

using enginetest::InstalledPrompts;
using enginetest::Reports;
using enginetest::ScriptedPrompts;
using Events = std::vector<std::string>;

vg::TCryptoParams Params(std::vector<std::pair<emulation::Parameter, std::string>> values) {
  vg::TCryptoParams params;
  params.SetEngineType("Emulation/1.0");
  for (auto& [parameter, value] : values) params.AddParam(parameter - 1, value);
  return params;
}

bool SignSomething(vg::TCryptoEngine& engine) {
  std::string signature(static_cast<size_t>(engine.MaxSignatureLength()), '\0');
  int32_t length = static_cast<int32_t>(signature.size());
  return engine.Sign("data", 4, signature.data(), length);
}

TEST(EnginePrompts, TheEngineAsksForTheKeyPasswordThroughTheRegisteredPrompt) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  prompts->Answer("wrong");
  prompts->Answer(std::nullopt);
  prompts->Answer("open sesame");
  InstalledPrompts installed(prompts);
  Reports reports;
  vg::TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  engine.SetParams(Params({{emulation::kParamPassword, "open sesame"}}));
  ASSERT_EQ(engine.EngineType(), "Emulation/1.0");

  EXPECT_FALSE(SignSomething(engine));
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка подписи; Код ошибки: 15; Wrong key password"));
  EXPECT_FALSE(SignSomething(engine));
  EXPECT_EQ(reports.Messages.back(), VGT("Ошибка подписи; Код ошибки: 14; Password entry was cancelled"));
  EXPECT_TRUE(SignSomething(engine));
  EXPECT_TRUE(SignSomething(engine));  // the engine keeps the unlocked key
  EXPECT_EQ(prompts->Events(), (Events{"ask", "ask", "ask"}));

  prompts->Answer("open sesame");
  EXPECT_TRUE(engine.ClearCache());
  EXPECT_TRUE(SignSomething(engine));
  EXPECT_EQ(prompts->Events().size(), 4u);
  EXPECT_EQ(reports.Messages.size(), 2u);
}

TEST(EnginePrompts, TheKeyMediumPromptIsUpWhileTheEngineSigns) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  int32_t nestingWhileShown = -1;
  prompts->OnShow = [&] { nestingWhileShown = vg::KeyMediumNesting(); };
  InstalledPrompts installed(prompts);
  vg::TCryptoEngine engine;
  engine.SetParams(Params({{emulation::kParamTouchMemory, "1"}}));
  ASSERT_EQ(engine.EngineType(), "Emulation/1.0");
  EXPECT_TRUE(SignSomething(engine));
  ASSERT_TRUE(prompts->WaitForEvents(2));
  EXPECT_EQ(prompts->Events(), (Events{"show", "hide"}));
  EXPECT_EQ(nestingWhileShown, 1);
  EXPECT_EQ(vg::KeyMediumNesting(), 0);
}

}  // namespace
