#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/Registry.h"

// The system's registry, in a key of this run's own below HKEY_CURRENT_USER\Software.
namespace reg = vg::platform::registry;
using Names = std::vector<std::string>;

namespace {

class SystemRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kCurrentUser), "Software", reg::Access::kWrite, software),
              reg::kSuccess);
    ASSERT_EQ(reg::CreateKey(software, name, base), reg::kSuccess);
  }
  void TearDown() override { reg::DeleteKeyTree(software, name); }

  std::string Data(const reg::Key& k, const std::string& value, uint32_t expectType) {
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(reg::QueryValue(k, value, type, data), reg::kSuccess) << value;
    EXPECT_EQ(type, expectType) << value;
    return data;
  }

  reg::Key software;
  reg::Key base;
  std::string name = "vgtest-" + std::to_string(std::random_device{}() % 1000000000u);
};

TEST_F(SystemRegistry, KeysAndValuesRoundTripAndList) {
  reg::Key k;
  ASSERT_EQ(reg::CreateKey(base, "Client\\TCP", k), reg::kSuccess);
  const std::string binary("\x00\x01\xFF\n", 4);
  ASSERT_EQ(reg::SetValue(k, "Str", reg::kTypeString, "C:\\Program Files\\x"), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "Num", reg::kTypeDword, std::string("\x3c\x00\x00\x80", 4)), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "Bin", reg::kTypeBinary, binary), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(k, "Empty", reg::kTypeString, ""), reg::kSuccess);
  EXPECT_EQ(reg::SetValue(k, "BadDword", reg::kTypeDword, "123"), reg::kInvalidParameter);

  // Names are found in any letter case; strings come back as written, without a terminator.
  reg::Key read;
  ASSERT_EQ(reg::OpenKey(base, "CLIENT\\tcp", reg::Access::kRead, read), reg::kSuccess);
  EXPECT_EQ(Data(read, "str", reg::kTypeString), "C:\\Program Files\\x");
  EXPECT_EQ(Data(read, "Num", reg::kTypeDword), std::string("\x3c\x00\x00\x80", 4));
  EXPECT_EQ(Data(read, "Bin", reg::kTypeBinary), binary);
  EXPECT_EQ(Data(read, "Empty", reg::kTypeString), "");
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(reg::QueryValue(read, "missing", type, data), reg::kNotFound);

  // The system does not promise an order of values.
  Names names;
  ASSERT_EQ(reg::EnumValues(read, names), reg::kSuccess);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Names{"Bin", "Empty", "Num", "Str"}));
  ASSERT_EQ(reg::CreateKey(base, "Alpha", k), reg::kSuccess);
  ASSERT_EQ(reg::EnumKeys(base, names), reg::kSuccess);
  EXPECT_EQ(names, (Names{"Alpha", "Client"}));
  EXPECT_EQ(reg::OpenKey(base, "Missing", reg::Access::kRead, k), reg::kNotFound);
}

TEST_F(SystemRegistry, ReadOnlyKeysRefuseChangesAndDeletedKeysSaySo) {
  reg::Key deep;
  ASSERT_EQ(reg::CreateKey(base, "Top\\Mid\\Deep", deep), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(deep, "v", reg::kTypeString, "x"), reg::kSuccess);
  reg::Key ro;
  ASSERT_EQ(reg::OpenKey(base, "Top", reg::Access::kRead, ro), reg::kSuccess);
  EXPECT_EQ(reg::SetValue(ro, "x", reg::kTypeString, "v"), reg::kAccessDenied);
  EXPECT_EQ(reg::DeleteKeyTree(ro, "Mid"), reg::kAccessDenied);
  EXPECT_EQ(reg::SetValue(reg::Key(), "x", reg::kTypeString, "v"), reg::kInvalidHandle);

  reg::Key top;
  ASSERT_EQ(reg::OpenKey(base, "Top", reg::Access::kWrite, top), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(top, "keep", reg::kTypeString, "x"), reg::kSuccess);
  EXPECT_EQ(reg::DeleteValue(top, "missing"), reg::kNotFound);
  ASSERT_EQ(reg::DeleteKeyTree(top, "MID"), reg::kSuccess);
  EXPECT_EQ(reg::DeleteKeyTree(top, "Mid"), reg::kNotFound);
  EXPECT_EQ(reg::DeleteKeyTree(top, ""), reg::kInvalidParameter);
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(reg::QueryValue(deep, "v", type, data), reg::kKeyDeleted);
  EXPECT_EQ(reg::SetValue(deep, "v", reg::kTypeString, "y"), reg::kKeyDeleted);
  ASSERT_EQ(reg::DeleteValue(top, "KEEP"), reg::kSuccess);
  Names names{"stale"};
  ASSERT_EQ(reg::EnumValues(top, names), reg::kSuccess);
  EXPECT_TRUE(names.empty());
  ASSERT_EQ(reg::EnumKeys(top, names), reg::kSuccess);
  EXPECT_TRUE(names.empty());
}

TEST_F(SystemRegistry, InvalidNamesAreRefused) {
  reg::Key k;
  EXPECT_EQ(reg::CreateKey(base, "A\\bad\nname", k), reg::kInvalidParameter);
  EXPECT_EQ(reg::CreateKey(base, std::string(256, 'x'), k), reg::kInvalidParameter);
  ASSERT_EQ(reg::CreateKey(base, "A", k), reg::kSuccess);
  EXPECT_EQ(reg::SetValue(k, std::string("a\0b", 3), reg::kTypeString, "v"), reg::kInvalidParameter);
}

}  // namespace
