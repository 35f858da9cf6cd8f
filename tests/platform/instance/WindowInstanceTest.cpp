// The instance window as other programs see it: found by FindWindowA, ended by PostMessageA.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Instance.h"

using namespace vg::platform;

namespace {

// Posted messages arrive on the window's own thread; waits until count reaches want.
bool WaitFor(const std::atomic<int>& count, int want) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (count.load() < want && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return count.load() == want;
}

}  // namespace

TEST(WindowInstance, ARealTopLevelWindowTakesTheName) {
  EXPECT_FALSE(FindWindowByClass("TTestForm"));
  WindowClassInstance first("TTestForm");
  ASSERT_TRUE(first.Register(nullptr));
  EXPECT_TRUE(first.IsRegistered());
  const HWND window = ::FindWindowA("TTestForm", nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(::GetParent(window), nullptr);
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_TRUE(FindWindowByClass("TTestForm"));
  EXPECT_FALSE(FindWindowByClass("TOtherForm"));

  WindowClassInstance second("TTestForm");
  EXPECT_FALSE(second.Register(nullptr));
  EXPECT_FALSE(second.IsRegistered());

  first.Unregister();
  EXPECT_FALSE(FindWindowByClass("TTestForm"));
  // The name is free again, also within the same process.
  EXPECT_TRUE(second.Register(nullptr));
  EXPECT_TRUE(FindWindowByClass("TTestForm"));
}

TEST(WindowInstance, QuitMessagesReachTheHandlerAndTheWindowStays) {
  std::atomic<int> quits{0};
  WindowClassInstance window("TQuitForm");
  ASSERT_TRUE(window.Register([&] { ++quits; }));
  EXPECT_TRUE(PostQuitToWindow("TQuitForm"));
  EXPECT_TRUE(WaitFor(quits, 1));
  // What another program does: the quit message, or a close request.
  ASSERT_TRUE(::PostMessageA(::FindWindowA("TQuitForm", nullptr), WM_QUIT, 0, 0));
  EXPECT_TRUE(WaitFor(quits, 2));
  ASSERT_TRUE(::PostMessageA(::FindWindowA("TQuitForm", nullptr), WM_CLOSE, 0, 0));
  EXPECT_TRUE(WaitFor(quits, 3));
  // It goes only when its owner unregisters it.
  EXPECT_TRUE(FindWindowByClass("TQuitForm"));
  EXPECT_FALSE(PostQuitToWindow("TNobodyForm"));
  window.Unregister();
  EXPECT_FALSE(PostQuitToWindow("TQuitForm"));
  EXPECT_EQ(quits.load(), 3);
}
