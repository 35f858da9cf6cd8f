#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Instance.h"

using namespace vg::platform;

TEST(EventLoop, PostedTasksRunOnTheLoopThreadUntilQuit) {
  EventLoop loop;
  std::atomic<bool> ranOnLoop{false};
  std::thread other([&] {
    loop.Post([&] { ranOnLoop = loop.IsLoopThread(); });
    loop.Post([&] { loop.Quit(7); });
  });
  EXPECT_EQ(loop.Run(), 7);
  other.join();
  EXPECT_TRUE(ranOnLoop.load());
}
