#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cipherhub/RootPath.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "support/ScratchDir.h"

// The library root and the module search with the system's own paths and its "Path" variable.
namespace vg::cipherhub {
namespace {

class WinRootPath : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = platform::ReadEnvironmentVariable("Path"); }
  void TearDown() override { platform::WriteEnvironmentVariable("Path", saved_.value_or("")); }
  static std::string Path() { return platform::ReadEnvironmentVariable("PATH").value_or("(unset)"); }

 private:
  std::optional<std::string> saved_;
};

TEST_F(WinRootPath, RootsTakeEitherSeparatorAndExtendThePathVariable) {
  ASSERT_TRUE(platform::WriteEnvironmentVariable("Path", "C:\\windows;c:\\keys\\exe\\"));
  TRootPath root("C:\\prog\\");
  root.SetRoot("C:\\Keys");
  EXPECT_EQ(root.NorvelRoot(), "C:\\Keys\\");
  EXPECT_EQ(root.RootSearchDirs(),
            (std::vector<std::string>{"C:\\Keys\\EXE\\", "C:\\Keys\\SYSTEM\\", "C:\\Keys\\USER\\"}));
  EXPECT_EQ(Path(), "C:\\windows;c:\\keys\\exe\\;C:\\Keys\\SYSTEM\\;C:\\Keys\\USER\\");
  EXPECT_NO_THROW(root.SetRoot("C:\\Keys\\"));
  EXPECT_THROW(root.SetRoot("D:\\Keys"), ERootPathError);

  TRootPath slashed("C:\\prog\\");
  slashed.SetRoot("C:/Other/");
  EXPECT_EQ(slashed.NorvelRoot(), "C:/Other/");
  EXPECT_EQ(slashed.RootSearchDirs().front(), "C:/Other/EXE\\");
}

TEST_F(WinRootPath, ModulesAreSearchedBesideTheProgramThenUnderTheRoot) {
  vgtest::ScratchDir dir;
  const std::string base = dir.Path() + "\\";
  ASSERT_TRUE(platform::CreateDirectories(base + "prog"));
  TRootPath root(base + "prog\\");
  EXPECT_EQ(root.ResolveModulePath("engmod05.dll"), "engmod05.dll");
  EXPECT_EQ(root.ResolveModulePath("C:/x/engmod05.dll"), "C:/x/engmod05.dll");
  EXPECT_EQ(root.ResolveModulePath("x\\engmod05.dll"), "x\\engmod05.dll");

  for (const char* sub : {"root", "root\\EXE", "root\\SYSTEM", "root\\USER"})
    ASSERT_TRUE(platform::CreateDirectories(base + sub));
  vgtest::WriteFile(base + "root\\USER\\engmod05.dll", "x");
  EXPECT_EQ(root.ResolveModulePath("engmod05.dll"), "engmod05.dll") << "root not set yet";
  root.SetRoot((base + "root").c_str());
  EXPECT_EQ(root.ResolveModulePath("engmod05.dll"), base + "root\\USER\\engmod05.dll");
  vgtest::WriteFile(base + "root\\EXE\\engmod05.dll", "x");
  EXPECT_EQ(root.ResolveModulePath("engmod05.dll"), base + "root\\EXE\\engmod05.dll");
  vgtest::WriteFile(base + "prog\\engmod05.dll", "x");
  EXPECT_EQ(root.ResolveModulePath("engmod05.dll"), base + "prog\\engmod05.dll");
}

}  // namespace
}  // namespace vg::cipherhub
