#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "TestHub.h"
#include "cipherhub/RootPath.h"

namespace vg::cipherhub {
namespace {

using chubtest::ScratchDir;
namespace fs = std::filesystem;

using chubtest::SearchPathGuard;

std::string Path() {
  const char* value = std::getenv("PATH");
  return value ? value : "(unset)";
}

TEST(SearchPathText, AppendsMissingDirectoriesAndSkipsWholeEntriesIgnoringCase) {
  const std::vector<std::string> dirs = {"/Keys/EXE/", "/Keys/SYSTEM/", "/Keys/USER/"};
  EXPECT_EQ(AppendToSearchPath("", dirs, ':'), "/Keys/EXE/:/Keys/SYSTEM/:/Keys/USER/");
  EXPECT_EQ(AppendToSearchPath("/Keys/EXE/", dirs, ':'), "/Keys/EXE/:/Keys/SYSTEM/:/Keys/USER/");
  EXPECT_EQ(AppendToSearchPath("/bin:/keys/system/:/usr/bin", dirs, ':'),
            "/bin:/keys/system/:/usr/bin:/Keys/EXE/:/Keys/USER/");
  // Without its trailing separator the entry is a different directory.
  EXPECT_EQ(AppendToSearchPath("/Keys/EXE", dirs, ':'), "/Keys/EXE:/Keys/EXE/:/Keys/SYSTEM/:/Keys/USER/");
}

TEST(SearchPathText, APartialMatchInsideAnotherEntryDoesNotCountAsPresent) {
  const std::vector<std::string> dirs = {"/k/EXE/"};
  EXPECT_EQ(AppendToSearchPath("/opt/k/EXE/", dirs, ':'), "/opt/k/EXE/:/k/EXE/");
  EXPECT_EQ(AppendToSearchPath("/k/EXE/x:/k/EXE/", dirs, ':'), "/k/EXE/x:/k/EXE/");
}

TEST(RootPath, SameRootTwiceIsAcceptedADifferentOneRaisesAndChangesNothing) {
  SearchPathGuard guard;
  TRootPath root("/prog/");
  root.SetRoot("/Keys");
  EXPECT_EQ(root.NorvelRoot(), "/Keys/");
  EXPECT_NO_THROW(root.SetRoot("/Keys/"));
  try {
    root.SetRoot("/keys");
    FAIL() << "a root differing in case was accepted";
  } catch (const ERootPathError& e) {
    EXPECT_EQ(e.Message(), "Could not set NorvelRoot to '/keys'. Already set to '/Keys/'.");
  }
  EXPECT_EQ(root.NorvelRoot(), "/Keys/");
  EXPECT_EQ(root.RootSearchDirs(), (std::vector<std::string>{"/Keys/EXE/", "/Keys/SYSTEM/", "/Keys/USER/"}));
}

TEST(RootPath, EmptyOrNullPathGivesALoneSeparator) {
  SearchPathGuard guard;
  TRootPath root("/prog/");
  root.SetRoot(nullptr);
  EXPECT_EQ(root.NorvelRoot(), "/");
  EXPECT_EQ(root.RootSearchDirs().front(), "/EXE/");
  EXPECT_NO_THROW(root.SetRoot(""));
}

TEST(RootPath, SettingTheRootAppendsToTheProcessSearchPath) {
  SearchPathGuard guard;
  ::setenv("PATH", "/usr/bin:/Keys/EXE/", 1);
  TRootPath root("/prog/");
  root.SetRoot("/Keys");
  EXPECT_EQ(Path(), "/usr/bin:/Keys/EXE/:/Keys/SYSTEM/:/Keys/USER/");
  root.SetRoot("/Keys/");
  EXPECT_EQ(Path(), "/usr/bin:/Keys/EXE/:/Keys/SYSTEM/:/Keys/USER/");
}

TEST(RootPath, WithoutASearchPathVariableTheDirectoriesAreJoined) {
  SearchPathGuard guard;
  ::unsetenv("PATH");
  TRootPath root("/prog/");
  root.SetRoot("/r");
  EXPECT_EQ(Path(), "/r/EXE/:/r/SYSTEM/:/r/USER/");
}

TEST(RootPath, ModuleSearchOrder) {
  SearchPathGuard guard;
  ScratchDir dir;
  const auto program = dir.Path() / "prog";
  const auto rootDir = dir.Path() / "root";
  TRootPath root(program.string());
  const auto some = chubtest::MockModule("mock_full");

  // Nothing anywhere: the bare name goes to the system's search.
  EXPECT_EQ(root.ResolveModulePath("engmod05.so"), "engmod05.so");
  // A name with a directory part is taken as it is.
  EXPECT_EQ(root.ResolveModulePath("/x/engmod05.so"), "/x/engmod05.so");

  dir.Put(some, "root/SYSTEM/engmod05.so");
  EXPECT_EQ(root.ResolveModulePath("engmod05.so"), "engmod05.so") << "root not set yet";
  root.SetRoot(rootDir.c_str());
  EXPECT_EQ(root.ResolveModulePath("engmod05.so"), (rootDir / "SYSTEM/engmod05.so").string());
  dir.Put(some, "root/EXE/engmod05.so");
  EXPECT_EQ(root.ResolveModulePath("engmod05.so"), (rootDir / "EXE/engmod05.so").string());
  dir.Put(some, "prog/engmod05.so");
  EXPECT_EQ(root.ResolveModulePath("engmod05.so"), (program / "engmod05.so").string());
  // A directory of that name is not a module file.
  fs::create_directories(program / "engmod06.so");
  EXPECT_EQ(root.ResolveModulePath("engmod06.so"), "engmod06.so");
}

}  // namespace
}  // namespace vg::cipherhub
