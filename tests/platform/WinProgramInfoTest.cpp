#include <gtest/gtest.h>

#include "platform/ProgramInfo.h"

TEST(ProgramInfo, ModuleAndProgramNamesKeepTheirSystemForm) {
  using vg::platform::ModuleFileName;
  using vg::platform::ProgramFileNameFor;
  EXPECT_EQ(ModuleFileName("cipherhub.dll"), "cipherhub.dll");
  EXPECT_EQ(ModuleFileName("engmod10.DLL"), "engmod10.DLL");
  EXPECT_EQ(ModuleFileName("cipherhub"), "cipherhub.dll");
  EXPECT_EQ(ProgramFileNameFor("vgproxy.exe"), "vgproxy.exe");
  EXPECT_EQ(ProgramFileNameFor("VGPROXY.EXE"), "VGPROXY.EXE");
  EXPECT_EQ(ProgramFileNameFor("vgproxy"), "vgproxy.exe");
}

TEST(ProgramInfo, PathAndDirectory) {
  const std::string dir = vg::platform::ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_EQ(vg::platform::ProgramPath(), dir + vg::platform::ProgramFileName());
  EXPECT_EQ(vg::platform::ProgramFileName(), "test_platform.exe");
  EXPECT_EQ(vg::platform::JoinPath("C:\\a\\", "b"), "C:\\a\\b");
  EXPECT_EQ(vg::platform::JoinPath("C:\\a", "b"), "C:\\a\\b");
  EXPECT_EQ(vg::platform::JoinPath("C:/a/", "b"), "C:/a/b");
}

TEST(ProgramInfo, VersionIsReadFromTheResourceOfOurProgramsAndAbsentElsewhere) {
  const auto v = vg::platform::ReadFileVersion(std::string(VG_TEST_BIN_DIR) + "/vgtool.exe");
  ASSERT_TRUE(v.present);
  EXPECT_EQ(v.parts[0], 1);
  EXPECT_EQ(v.parts[1], 5);
  EXPECT_EQ(v.text, "1.5.0.1");
  // The test program has no version resource.
  EXPECT_FALSE(vg::platform::ReadFileVersion(vg::platform::ProgramPath()).present);
  EXPECT_FALSE(vg::platform::ReadFileVersion("C:\\nonexistent\\file.exe").present);
}
