#include <gtest/gtest.h>

#include "platform/Registry.h"

namespace reg = vg::platform::registry;

namespace {

TEST(RegistryNames, RootsAndKeyTexts) {
  reg::Root r{};
  ASSERT_TRUE(reg::RootFromName("hkey_local_machine", r));
  EXPECT_EQ(r, reg::Root::kLocalMachine);
  ASSERT_TRUE(reg::RootFromName("HKCU", r));
  EXPECT_EQ(r, reg::Root::kCurrentUser);
  EXPECT_FALSE(reg::RootFromName("HKEY_LOCAL", r));
  std::string path;
  ASSERT_TRUE(reg::SplitKeyText("HKEY_CLASSES_ROOT\\a\\b", r, path));
  EXPECT_EQ(r, reg::Root::kClassesRoot);
  EXPECT_EQ(path, "a\\b");
  ASSERT_TRUE(reg::SplitKeyText("HKEY_USERS", r, path));
  EXPECT_EQ(path, "");
  EXPECT_FALSE(reg::SplitKeyText("\\SOFTWARE\\x", r, path));
  EXPECT_STREQ(reg::RootName(reg::Root::kCurrentConfig), "HKEY_CURRENT_CONFIG");
}

}  // namespace
