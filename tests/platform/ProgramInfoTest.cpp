#include <gtest/gtest.h>

#include "platform/ProgramInfo.h"

TEST(ProgramInfo, ModuleNamesMapToThisPlatform) {
  using vg::platform::ModuleFileName;
  EXPECT_EQ(ModuleFileName("cipherhub.dll"), "cipherhub.so");
  EXPECT_EQ(ModuleFileName("engmod10.DLL"), "engmod10.so");
  EXPECT_EQ(ModuleFileName("cipherhub"), "cipherhub.so");
  EXPECT_EQ(ModuleFileName("engmod01.so"), "engmod01.so");
  EXPECT_EQ(vg::platform::ProgramFileNameFor("VGPROXY.EXE"), "vgproxy");
}

TEST(ProgramInfo, PathAndDirectory) {
  const std::string dir = vg::platform::ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(vg::platform::ProgramPath(), dir + vg::platform::ProgramFileName());
  EXPECT_EQ(vg::platform::JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(vg::platform::JoinPath("/a", "b"), "/a/b");
}

TEST(ProgramInfo, VersionIsReadFromOurProgramsAndAbsentElsewhere) {
  const auto v = vg::platform::ReadFileVersion(std::string(VG_TEST_BIN_DIR) + "/vgtool");
  ASSERT_TRUE(v.present);
  EXPECT_EQ(v.parts[0], 1);
  EXPECT_EQ(v.parts[1], 5);
  EXPECT_EQ(v.text, "1.5.0.1");
  const auto none = vg::platform::ReadFileVersion("/bin/sh");
  EXPECT_FALSE(none.present);
  EXPECT_EQ(none.parts[0] + none.parts[1] + none.parts[2] + none.parts[3], 0);
  EXPECT_FALSE(vg::platform::ReadFileVersion("/nonexistent/file").present);
}
