// Without any crypto library, and then with one that appears later but lacks SignData. The
// tests run in this order when the program runs them together; each also stands alone.
#include <gtest/gtest.h>

#include "fakes/FakeHub.h"
#include "platform/DynLib.h"
#include "platform/ProgramInfo.h"

namespace {

using enginetest::Reports;

const std::string kLoadReport =
    VGT("Ошибка инициализации. Исключительная ситуация ELoadCipherhubError (Unable to load crypto toolkit library "
        "cipherhub.dll)");

TEST(NoLibrary, NothingLeadsThisProgramToALibrary) {
  ASSERT_FALSE(vg::platform::LibraryFileExists(
      vg::platform::JoinPath(vg::platform::ProgramDir(), vg::platform::ModuleFileName("cipherhub.dll"))));
}

TEST(NoLibrary, TheEngineListIsEmptyAndQuiet) {
  const vg::TCryptoEngineList list;
  EXPECT_EQ(list.Count(), 0);
}

TEST(NoLibrary, EveryEngineSetupReportsTheLoadError) {
  Reports reports;
  vg::TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  engine.SetEngineType("Emulation/1.0");
  engine.SetEngineType("Emulation/1.0");  // nothing was opened, so this is a new attempt
  EXPECT_EQ(engine.Handle(), nullptr);
  EXPECT_EQ(engine.EngineType(), "");
  EXPECT_EQ(reports.Messages, std::vector<std::string>(2, kLoadReport));
  EXPECT_FALSE(vg::chlib::IsLoaded());
}

TEST(NoLibrary, WrappersAndTheLinkRaiseTheLoadError) {
  try {
    vg::chlib::GetMaxCryptoEngineTypeLength();
    FAIL() << "no error raised";
  } catch (const vg::ELoadCipherhubError& error) {
    EXPECT_EQ(error.Message(), "Unable to load crypto toolkit library cipherhub.dll");
  }
  vg::TCryptoParamsEditorLink link;
  EXPECT_THROW(link.SetEngineType("Emulation/1.0"), vg::ELoadCipherhubError);
  EXPECT_EQ(link.ParamCount(), 0);
  EXPECT_EQ(link.Handle(), nullptr);
}

// Must stay last: from here on the process has a library.
TEST(NoLibrary, ALaterCallLoadsALibraryThatAppearedAndMissingExportsRaiseEachTime) {
  Reports reports;
  vg::TCryptoEngine engine;
  engine.SetOnError(reports.Handler());
  if (!vg::chlib::IsLoaded()) {
    engine.SetEngineType("Fake/1");
    ASSERT_EQ(reports.Messages, std::vector<std::string>{kLoadReport});
    reports.Messages.clear();
  }
  enginetest::FakeHub hub("fake_hub_nosign");
  engine.SetEngineType("Fake/1");
  ASSERT_EQ(engine.EngineType(), "Fake/1");
  EXPECT_TRUE(reports.Messages.empty());

  const std::string missing = "Unable to get \"SignData\" procedure adress from cipherhub.dll library.";
  char data[8] = {};
  for (int attempt = 0; attempt < 2; ++attempt) {
    int32_t length = 8;
    EXPECT_FALSE(engine.Sign(data, 8, data, length));
    ASSERT_EQ(reports.Messages.size(), static_cast<size_t>(attempt + 1));
    EXPECT_EQ(reports.Messages.back(),
              VGT("Ошибка подписи. Исключительная ситуация ELoadCipherhubError (") + missing + ")");
  }
  int32_t length = 8;
  try {
    vg::chlib::SignData(engine.Handle(), data, 8, data, &length, "");
    FAIL() << "no error raised";
  } catch (const vg::ELoadCipherhubError& error) {
    EXPECT_EQ(error.Message(), missing);
  }
  std::string uid;
  EXPECT_TRUE(engine.Verify(data, 8, data, 8, uid));  // everything else still works
  EXPECT_EQ(uid, "fake-uid");
}

}  // namespace
