#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/Registry.h"
#include "platform/SysUtils.h"
#include "support/ScratchDir.h"

namespace reg = vg::platform::registry;
using Names = std::vector<std::string>;

namespace {

class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("VG_REGISTRY_DIR", store.c_str(), 1); }
  void TearDown() override { ::unsetenv("VG_REGISTRY_DIR"); }

  reg::Key Create(const std::string& path, reg::Root root = reg::Root::kCurrentUser) {
    reg::Key k;
    EXPECT_EQ(reg::CreateKey(reg::Key::RootKey(root), path, k), reg::kSuccess) << path;
    return k;
  }
  std::string Data(const reg::Key& k, const std::string& name, uint32_t expectType) {
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(reg::QueryValue(k, name, type, data), reg::kSuccess) << name;
    EXPECT_EQ(type, expectType) << name;
    return data;
  }
  std::string StoreFile(const char* root = "HKEY_CURRENT_USER") { return store + "/" + root + ".txt"; }

  vgtest::ScratchDir dir;
  std::string store = dir.File("registry/nested");
};

TEST(RegistryNames, StoreDirectoryFollowsTheEnvironment) {
  ::setenv("VG_REGISTRY_DIR", "/x/reg", 1);
  EXPECT_EQ(reg::StoreDirectory(), "/x/reg");
  ::unsetenv("VG_REGISTRY_DIR");
  ::setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(reg::StoreDirectory(), "/data/qs-veilgate/registry");
  ::setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
  const char* home = ::getenv("HOME");
  const std::string saved = home ? home : "";
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(reg::StoreDirectory(), "/home/u/.local/share/qs-veilgate/registry");
  ::unsetenv("XDG_DATA_HOME");
  if (home) ::setenv("HOME", saved.c_str(), 1);
}

TEST_F(RegistryStore, KeysAreFoundInAnyCaseAndKeepTheirOwn) {
  Create("Software\\NorvelSystems\\QS-Veilgate");
  reg::Key k;
  ASSERT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kCurrentUser), "\\software\\NORVELSYSTEMS\\qs-veilgate\\",
                         reg::Access::kRead, k),
            reg::kSuccess);
  EXPECT_EQ(k.PathText(), "Software\\NorvelSystems\\QS-Veilgate");
  // Cyrillic names too.
  Create(VGT("Программы\\Ключ"));
  ASSERT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kCurrentUser), VGT("ПРОГРАММЫ\\ключ"), reg::Access::kRead, k),
            reg::kSuccess);
  EXPECT_EQ(k.PathText(), VGT("Программы\\Ключ"));
  // Each root is a tree of its own.
  EXPECT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kLocalMachine), "Software", reg::Access::kRead, k),
            reg::kNotFound);
  // Creating an existing key in other letters does not add a second one.
  Create("SOFTWARE\\norvelsystems");
  Names names;
  ASSERT_EQ(reg::EnumKeys(reg::Key::RootKey(reg::Root::kCurrentUser), names), reg::kSuccess);
  EXPECT_EQ(names, (Names{"Software", VGT("Программы")}));
}

TEST_F(RegistryStore, ValuesOfEveryTypeRoundTrip) {
  reg::Key k = Create("Software\\Test");
  const std::string binary("\x00\x01\xFF\n\"\\", 6);
  const std::string text = VGT("Путь \"C:\\Program Files\\\"\r\n\tконец");
  ASSERT_EQ(reg::SetValue(k, "Str", reg::kTypeString, text), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "Exp", reg::kTypeExpandString, "%TEMP%\\x"), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "Num", reg::kTypeDword, std::string("\x3c\x00\x00\x80", 4)), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "Bin", reg::kTypeBinary, binary), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "Multi", 7, std::string("a\0b\0\0", 5)), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "", reg::kTypeString, "default"), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "Empty", reg::kTypeBinary, ""), reg::kSuccess);
  EXPECT_EQ(reg::SetValue(k, "BadDword", reg::kTypeDword, "123"), reg::kInvalidParameter);

  EXPECT_EQ(Data(k, "str", reg::kTypeString), text);
  EXPECT_EQ(Data(k, "EXP", reg::kTypeExpandString), "%TEMP%\\x");
  EXPECT_EQ(Data(k, "Num", reg::kTypeDword), std::string("\x3c\x00\x00\x80", 4));
  EXPECT_EQ(Data(k, "Bin", reg::kTypeBinary), binary);
  EXPECT_EQ(Data(k, "Multi", 7), std::string("a\0b\0\0", 5));
  EXPECT_EQ(Data(k, "", reg::kTypeString), "default");
  EXPECT_EQ(Data(k, "Empty", reg::kTypeBinary), "");

  // Overwriting keeps the value's place; values list in creation order.
  ASSERT_EQ(reg::SetValue(k, "STR", reg::kTypeDword, std::string(4, '\0')), reg::kSuccess);
  Names names;
  ASSERT_EQ(reg::EnumValues(k, names), reg::kSuccess);
  EXPECT_EQ(names, (Names{"Str", "Exp", "Num", "Bin", "Multi", "", "Empty"}));
}

TEST_F(RegistryStore, SubkeysListInNameOrder) {
  for (const char* name : {"b", "C", "a", "s10", "s2"}) Create(std::string("Root\\") + name);
  reg::Key k;
  ASSERT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kCurrentUser), "root", reg::Access::kRead, k), reg::kSuccess);
  Names names;
  ASSERT_EQ(reg::EnumKeys(k, names), reg::kSuccess);
  EXPECT_EQ(names, (Names{"a", "b", "C", "s10", "s2"}));
}

TEST_F(RegistryStore, ReadOnlyKeysRefuseChanges) {
  Create("A\\B");
  reg::Key ro;
  ASSERT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kCurrentUser), "A", reg::Access::kRead, ro), reg::kSuccess);
  reg::Key sub;
  EXPECT_EQ(reg::SetValue(ro, "x", reg::kTypeString, "v"), reg::kAccessDenied);
  EXPECT_EQ(reg::CreateKey(ro, "New", sub), reg::kAccessDenied);
  EXPECT_EQ(reg::DeleteKeyTree(ro, "B"), reg::kAccessDenied);
  EXPECT_EQ(reg::DeleteValue(ro, "x"), reg::kAccessDenied);
  // Opening a subkey for writing does not depend on the parent's access.
  ASSERT_EQ(reg::OpenKey(ro, "B", reg::Access::kWrite, sub), reg::kSuccess);
  EXPECT_EQ(reg::SetValue(sub, "x", reg::kTypeString, "v"), reg::kSuccess);
  EXPECT_EQ(reg::SetValue(reg::Key(), "x", reg::kTypeString, "v"), reg::kInvalidHandle);
}

TEST_F(RegistryStore, InvalidNamesAreRefused) {
  reg::Key k;
  EXPECT_EQ(reg::CreateKey(reg::Key::RootKey(reg::Root::kCurrentUser), "A\\bad\nname", k), reg::kInvalidParameter);
  EXPECT_EQ(reg::CreateKey(reg::Key::RootKey(reg::Root::kCurrentUser), std::string(256, 'x'), k),
            reg::kInvalidParameter);
  k = Create("A");
  EXPECT_EQ(reg::SetValue(k, std::string("a\0b", 3), reg::kTypeString, "v"), reg::kInvalidParameter);
  EXPECT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kCurrentUser), "A\\bad\nname", reg::Access::kRead, k),
            reg::kNotFound);
}

TEST_F(RegistryStore, DeletingKeysAndValues) {
  reg::Key deep = Create("Top\\Mid\\Deep");
  ASSERT_EQ(reg::SetValue(deep, "v", reg::kTypeString, "x"), reg::kSuccess);
  reg::Key top = Create("Top");
  ASSERT_EQ(reg::SetValue(top, "keep", reg::kTypeString, "x"), reg::kSuccess);
  EXPECT_EQ(reg::DeleteValue(top, "missing"), reg::kNotFound);
  ASSERT_EQ(reg::DeleteKeyTree(top, "MID"), reg::kSuccess);
  EXPECT_EQ(reg::DeleteKeyTree(top, "Mid"), reg::kNotFound);
  EXPECT_EQ(reg::DeleteKeyTree(top, ""), reg::kInvalidParameter);
  // A handle to a deleted key reports it.
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(reg::QueryValue(deep, "v", type, data), reg::kKeyDeleted);
  EXPECT_EQ(reg::SetValue(deep, "v", reg::kTypeString, "y"), reg::kKeyDeleted);
  EXPECT_EQ(Data(top, "keep", reg::kTypeString), "x");
  ASSERT_EQ(reg::DeleteValue(top, "KEEP"), reg::kSuccess);
  Names names{"stale"};
  ASSERT_EQ(reg::EnumValues(top, names), reg::kSuccess);
  EXPECT_TRUE(names.empty());
}

TEST_F(RegistryStore, ReadingOrDeletingInAnEmptyStoreCreatesNothing) {
  reg::Key root = reg::Key::RootKey(reg::Root::kLocalMachine);
  Names names;
  EXPECT_EQ(reg::EnumKeys(root, names), reg::kSuccess);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(reg::DeleteValue(root, "x"), reg::kNotFound);
  EXPECT_EQ(reg::DeleteKeyTree(root, "x"), reg::kNotFound);
  EXPECT_FALSE(vgtest::Exists(store));
}

TEST_F(RegistryStore, ACorruptStoreIsReportedAndNeverOverwritten) {
  Create("A");
  const std::string bad = "[A]\n\"x\"=dword:12\n";
  vgtest::WriteFile(StoreFile(), bad);
  reg::Key k;
  Names names;
  EXPECT_EQ(reg::EnumKeys(reg::Key::RootKey(reg::Root::kCurrentUser), names), reg::kStoreCorrupt);
  EXPECT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kCurrentUser), "A", reg::Access::kRead, k), reg::kStoreCorrupt);
  EXPECT_EQ(reg::CreateKey(reg::Key::RootKey(reg::Root::kCurrentUser), "B", k), reg::kStoreCorrupt);
  EXPECT_EQ(vgtest::ReadFile(StoreFile()), bad);
}

TEST_F(RegistryStore, TwoProcessesWritingOneRootLoseNothing) {
  reg::Key k = Create("Shared");
  auto writer = [&](const std::string& prefix) {
    for (int i = 0; i < 40; ++i)
      if (reg::SetValue(k, prefix + std::to_string(i), reg::kTypeString, prefix)) return 1;
    return 0;
  };
  const pid_t child = ::fork();
  if (child == 0) ::_exit(writer("child"));
  EXPECT_EQ(writer("parent"), 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Names names;
  ASSERT_EQ(reg::EnumValues(k, names), reg::kSuccess);
  EXPECT_EQ(names.size(), 80u);
}

}  // namespace
