// A library that lacks one of the prompt registrations: the engine must not stay half open.
#include <gtest/gtest.h>

#include "fakes/FakeHub.h"

namespace {

TEST(NoPromptRegistration, EngineSetupFailsAndReleasesTheEngine) {
  enginetest::FakeHub hub("fake_hub_noprompt");
  enginetest::Reports reports;
  vg::TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  engine.SetParams([] {
    vg::TCryptoParams params;
    params.SetEngineType("Fake/1");
    params.AddParam(0, "x");
    return params;
  }());
  EXPECT_EQ(engine.Handle(), nullptr);
  EXPECT_EQ(engine.EngineType(), "");
  EXPECT_EQ(hub.TakeLog(),
            "InitCryptoEngine(Fake/1);SetCryptoParamValue(1,x);SetPasswordRequestFunc(func);DoneCryptoEngine;");
  EXPECT_EQ(reports.Messages,
            std::vector<std::string>{VGT("Ошибка инициализации. Исключительная ситуация ELoadCipherhubError (Unable to "
                                         "get \"SetTMRequestFunc\" procedure adress from cipherhub.dll library.)")});
  // A later attempt tries again from scratch.
  engine.SetEngineType("Fake/1");
  EXPECT_EQ(reports.Messages.size(), 2u);
}

}  // namespace
