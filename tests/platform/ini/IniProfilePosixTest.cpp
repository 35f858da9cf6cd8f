#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "IniProfileSupport.h"
#include "support/InChild.h"

// The cases that need a second process, POSIX permissions or symbolic links.
namespace {

// A suite of its own: gtest keeps one fixture class per suite name across files.
using IniProfilePosix = IniProfile;

TEST_F(IniProfilePosix, WriterKilledBeforeTheRenameLeavesTheOldFileIntact) {
  WriteFile(file, "[S]\nk=old\n");
  const int status = vgtest::InChild([&] {
    vg::platform::SetReplaceFaultHook([](const std::string&, const std::string& temp) {
      // The new content is complete on disk at this point; dying here must not matter.
      ::_exit(ReadFile(temp) == "[S]\nk=new\n" ? 42 : 43);
      return true;
    });
    profile::WriteValue(file, "S", "k", "new");
    return 0;
  });
  EXPECT_EQ(status, 42);
  EXPECT_EQ(Get(file, "S", "k"), "old");
  EXPECT_EQ(vgtest::EntryCount(dir.Path()), 2u);
  // The next writer is not blocked by the dead one's lock and clears its temporary away; one
  // of a live writer (this process) stays.
  const std::string live = file + ".~" + std::to_string(::getpid()) + "-x";
  WriteFile(live, "");
  ASSERT_TRUE(profile::WriteValue(file, "S", "k", "after"));
  EXPECT_EQ(Get(file, "S", "k"), "after");
  EXPECT_EQ(vgtest::EntryCount(dir.Path()), 2u);
  EXPECT_TRUE(vgtest::Exists(live));
}

TEST_F(IniProfilePosix, ConcurrentWritersInTwoProcessesAndThreadsLoseNothing) {
  constexpr int kPerWriter = 60;
  auto writer = [&](const std::string& prefix) {
    for (int i = 0; i < kPerWriter; ++i)
      if (!profile::WriteValue(file, "S", prefix + std::to_string(i), std::to_string(i))) return 1;
    return 0;
  };
  const pid_t child = ::fork();
  if (child == 0) ::_exit(writer("child"));
  std::thread t1([&] { writer("t1-"); });
  std::thread t2([&] { writer("t2-"); });
  t1.join();
  t2.join();
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Keys(file, "S").size(), 3u * kPerWriter);
  for (const char* prefix : {"child", "t1-", "t2-"})
    for (int i = 0; i < kPerWriter; ++i) EXPECT_EQ(Get(file, "S", prefix + std::to_string(i)), std::to_string(i));
  EXPECT_EQ(vgtest::EntryCount(dir.Path()), 1u);
}

TEST_F(IniProfilePosix, ReplacementKeepsModeFollowsLinksAndRespectsReadOnlyFiles) {
  WriteFile(file, "[S]\n");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  const std::string link = dir.File("link.ini");
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  ASSERT_TRUE(profile::WriteValue(link, "S", "k", "v"));
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Get(file, "S", "k"), "v");

  if (::geteuid() == 0) GTEST_SKIP() << "permissions are not enforced for root";
  ASSERT_EQ(::chmod(file.c_str(), 0440), 0);
  EXPECT_FALSE(profile::WriteValue(file, "S", "k", "changed"));
  EXPECT_EQ(profile::LastError(), EACCES);
  EXPECT_EQ(Get(file, "S", "k"), "v");
}

}  // namespace
