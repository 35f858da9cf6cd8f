#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/Instance.h"

using namespace vg::platform;
namespace fs = std::filesystem;

namespace {

class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vg-instance-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// Runs f in a child process and returns its exit code.
template <typename F>
int InChild(F f) {
  const pid_t pid = ::fork();
  if (pid == 0) _exit(f());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(InstanceTest, OneInstancePerDesktopAndOthersFindIt) {
  EXPECT_FALSE(FindWindowByClass("TTestForm"));
  WindowClassInstance first("TTestForm");
  ASSERT_TRUE(first.Register(nullptr));
  EXPECT_TRUE(FindWindowByClass("TTestForm"));
  EXPECT_FALSE(FindWindowByClass("TOtherForm"));
  // Another process sees the window and cannot take the name.
  EXPECT_EQ(InChild([] {
              WindowClassInstance second("TTestForm");
              return FindWindowByClass("TTestForm") && !second.Register(nullptr) ? 0 : 1;
            }),
            0);
  first.Unregister();
  EXPECT_FALSE(FindWindowByClass("TTestForm"));
}

TEST_F(InstanceTest, QuitPostedFromAnotherProcessReachesTheHandler) {
  std::atomic<int> quits{0};
  WindowClassInstance window("TQuitForm");
  ASSERT_TRUE(window.Register([&] { ++quits; }));
  EXPECT_EQ(InChild([] { return PostQuitToWindow("TQuitForm") ? 0 : 1; }), 0);
  EXPECT_EQ(quits.load(), 1);
  EXPECT_FALSE(PostQuitToWindow("TNobodyForm"));
}

TEST_F(InstanceTest, AnInstanceThatDiedLeavesTheNameFree) {
  EXPECT_EQ(InChild([] {
              auto* leaked = new WindowClassInstance("TCrashForm");
              return leaked->Register(nullptr) ? 0 : 1;  // exits without unregistering
            }),
            0);
  EXPECT_FALSE(FindWindowByClass("TCrashForm"));
  std::atomic<int> quits{0};
  WindowClassInstance again("TCrashForm");
  ASSERT_TRUE(again.Register([&] { ++quits; }));
  EXPECT_TRUE(PostQuitToWindow("TCrashForm"));
  EXPECT_EQ(quits.load(), 1);
}

TEST(EventLoop, TerminationSignalEndsTheLoop) {
  EXPECT_EQ(InChild([] {
              EventLoop::BlockTerminationSignals();
              EventLoop loop;
              std::thread killer([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ::kill(::getpid(), SIGTERM);
              });
              const int code = loop.Run();
              killer.join();
              return code == 0 ? 0 : 1;
            }),
            0);
}
