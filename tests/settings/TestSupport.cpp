#include "TestSupport.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "platform/Registry.h"
#include "protection/CipherhubLib.h"

namespace settingstest {
namespace {

namespace reg = vg::platform::registry;

class SettingsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    scratch_ = std::make_unique<vgtest::ScratchDir>();
    registry_ = scratch_->File("registry");
    ::setenv("VG_REGISTRY_DIR", registry_.c_str(), 1);
    vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
  }
  void TearDown() override { scratch_.reset(); }

  std::unique_ptr<vgtest::ScratchDir> scratch_;
  std::string registry_;
};

SettingsEnvironment* const gEnvironment =
    static_cast<SettingsEnvironment*>(::testing::AddGlobalTestEnvironment(new SettingsEnvironment));

}  // namespace

const std::string& RegistryDir() { return gEnvironment->registry_; }

std::string TemplateText() { return vgtest::ReadFile(std::string(VG_TEST_SOURCE_DIR) + "/src/config/veilgate.cfg.in"); }

std::string SettingsWith(const std::string& extra) { return TemplateText() + extra; }

std::string TemplateWithout(const std::string& item) {
  std::string text = TemplateText();
  const size_t at = text.find("\n" + item + "=");
  if (at == std::string::npos) return text;
  const size_t end = text.find('\n', at + 1);
  text.erase(at, end - at);
  return text;
}

void SetInstallKey(const char* path) {
  reg::Key key;
  ASSERT_EQ(reg::CreateKey(reg::Key::RootKey(reg::Root::kLocalMachine), "Software\\NorvelSystems", key), reg::kSuccess);
  if (path) {
    ASSERT_EQ(reg::SetValue(key, "Path", reg::kTypeString, path), reg::kSuccess);
  }
}

void RemoveInstallKey() {
  reg::DeleteKeyTree(reg::Key::RootKey(reg::Root::kLocalMachine), "Software\\NorvelSystems");
}

}  // namespace settingstest
