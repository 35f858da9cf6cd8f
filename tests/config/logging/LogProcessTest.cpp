// Records written at once by threads and by another process: POSIX processes made by fork.
#include <sys/wait.h>
#include <unistd.h>

#include <future>

#include "LogSupport.h"

using namespace logtest;
using vg::TLogManager;

TEST_F(LogDirTest, ConcurrentThreadsAndProcessesNeverInterleave) {
  const std::string body(4096, 'x');
  auto writer = [&body](int n) {
    TLogManager log;
    for (int i = 0; i < n; ++i)
      if (!log.WriteTraffic(1, body)) return false;
    return true;
  };
  fs::create_directories(dir_);
  const pid_t child = ::fork();
  if (child == 0) _exit(writer(100) ? 0 : 1);
  auto a = std::async(std::launch::async, writer, 100);
  auto b = std::async(std::launch::async, writer, 100);
  EXPECT_TRUE(a.get());
  EXPECT_TRUE(b.get());
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string content;
  for (const auto& e : fs::directory_iterator(dir_)) content += ReadFile(e.path());
  EXPECT_EQ(CountWholeRecords(content, body), 300);
}
