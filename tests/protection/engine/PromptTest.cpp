// The prompt callbacks and their hand-over to the thread that owns the prompts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <set>
#include <thread>

#include "ScriptedPrompts.h"
#include "protection/PasswF.h"
#include "protection/PromptService.h"
#include "protection/TMReq.h"

namespace {

using namespace std::chrono_literals;
using enginetest::Gate;
using enginetest::InstalledPrompts;
using enginetest::ScriptedPrompts;
using Events = std::vector<std::string>;

// Stands in for a GUI thread's event loop: wake posts, the loop serves.
class GuiLoop {
 public:
  std::function<void()> Waker() {
    return [this] {
      std::lock_guard<std::mutex> guard(mutex_);
      woken_ = true;
      cv_.notify_all();
    };
  }
  // Serves prompt requests on the calling thread until done() holds or the limit passes.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, 10ms, [&] { return woken_; });
        woken_ = false;
      }
      vg::ServePromptRequests();
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
};

bool Ready(const std::future<int32_t>& f) { return f.wait_for(0ms) == std::future_status::ready; }

TEST(PasswordPrompt, NoBufferOrNoRoomAsksNobody) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  prompts->Answer("secret");
  InstalledPrompts installed(prompts);
  char buffer[8] = "keep";
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, 0), 0);
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, -5), 0);
  EXPECT_EQ(vg::PasswordRequestFunc(nullptr, 8), 0);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_TRUE(prompts->Events().empty());
}

TEST(PasswordPrompt, AnswerIsCutToTheBuffer) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  prompts->Answer("0123456789");
  prompts->Answer("");
  InstalledPrompts installed(prompts);
  char buffer[10];
  std::memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, 8), -1);
  EXPECT_EQ(std::string(buffer, 7), "0123456");
  EXPECT_EQ(buffer[7], '\0');
  EXPECT_EQ(buffer[8], 'Z');

  EXPECT_EQ(vg::PasswordRequestFunc(buffer, 1), -1);  // room for the NUL only: an empty password
  EXPECT_EQ(buffer[0], '\0');
}

TEST(PasswordPrompt, CancelOrNoServiceLeavesTheBufferAlone) {
  char buffer[16] = "unchanged";
  {
    auto prompts = std::make_shared<ScriptedPrompts>();
    prompts->Answer(std::nullopt);
    InstalledPrompts installed(prompts);
    EXPECT_EQ(vg::PasswordRequestFunc(buffer, sizeof buffer), 0);
    EXPECT_EQ(prompts->Events(), Events{"ask"});
  }
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "unchanged");
}

TEST(PasswordPrompt, ConcurrentRequestsAreAskedOneAtATimeEachWithItsOwnAnswer) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  for (int i = 1; i <= 4; ++i) prompts->Answer("answer-" + std::to_string(i));
  prompts->OnAsk = [] { std::this_thread::sleep_for(20ms); };
  InstalledPrompts installed(prompts);

  Gate start;
  std::vector<std::future<std::string>> results;
  std::set<std::thread::id> callers;
  std::mutex callersMutex;
  for (int i = 0; i < 4; ++i) {
    results.push_back(std::async(std::launch::async, [&] {
      {
        std::lock_guard<std::mutex> guard(callersMutex);
        callers.insert(std::this_thread::get_id());
      }
      start.Wait();
      char buffer[32] = {};
      return vg::PasswordRequestFunc(buffer, sizeof buffer) == -1 ? std::string(buffer) : std::string("<refused>");
    }));
  }
  start.Open();
  std::set<std::string> answers;
  for (auto& result : results) {
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    answers.insert(result.get());
  }
  EXPECT_EQ(answers, (std::set<std::string>{"answer-1", "answer-2", "answer-3", "answer-4"}));
  EXPECT_EQ(prompts->MaxConcurrentAsks(), 1);
  const auto threads = prompts->Threads();
  ASSERT_EQ(threads.size(), 4u);
  for (const auto& id : threads) {
    EXPECT_EQ(id, threads[0]);  // always the same prompt thread
    EXPECT_EQ(callers.count(id), 0u);
  }
}

TEST(PasswordPrompt, RemovingTheServiceRefusesWaitingRequests) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  prompts->Answer("first");
  prompts->Answer("second");
  Gate release;
  prompts->OnAsk = [&] { release.Wait(); };
  vg::InstallPromptService(prompts);

  auto first = std::async(std::launch::async, [] {
    char buffer[16] = {};
    return vg::PasswordRequestFunc(buffer, sizeof buffer);
  });
  ASSERT_TRUE(prompts->WaitForEvents(1));  // the first is being asked
  auto second = std::async(std::launch::async, [] {
    char buffer[16] = {};
    return vg::PasswordRequestFunc(buffer, sizeof buffer);
  });
  std::this_thread::sleep_for(50ms);  // let the second queue up behind the first
  auto removal = std::async(std::launch::async, [] { vg::RemovePromptService(); });
  ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(second.get(), 0);
  release.Open();
  EXPECT_EQ(first.get(), -1);
  removal.get();
  EXPECT_EQ(prompts->Events(), Events{"ask"});
}

TEST(KeyMediumPrompt, NestedRequestsShowOnePrompt) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  InstalledPrompts installed(prompts);
  ASSERT_EQ(vg::KeyMediumNesting(), 0);
  EXPECT_EQ(vg::TMRequestFunc(0), 13);
  EXPECT_EQ(prompts->Events(), Events{"show"});  // up by the time the request returns
  EXPECT_EQ(vg::TMRequestFunc(0), 13);
  EXPECT_EQ(vg::KeyMediumNesting(), 2);
  EXPECT_EQ(vg::TMRequestFunc(1), 13);
  EXPECT_EQ(vg::KeyMediumNesting(), 1);
  EXPECT_EQ(vg::TMRequestFunc(1), 13);
  EXPECT_EQ(vg::KeyMediumNesting(), 0);
  ASSERT_TRUE(prompts->WaitForEvents(2));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(prompts->Events(), (Events{"show", "hide"}));
}

TEST(KeyMediumPrompt, OtherCodesAndUnbalancedHidesDoNothing) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  InstalledPrompts installed(prompts);
  EXPECT_EQ(vg::TMRequestFunc(2), 13);
  EXPECT_EQ(vg::TMRequestFunc(255), 13);
  EXPECT_EQ(vg::TMRequestFunc(1), 13);  // nothing to withdraw
  EXPECT_EQ(vg::KeyMediumNesting(), 0);
  // The stray hide must not swallow the next request's prompt.
  EXPECT_EQ(vg::TMRequestFunc(0), 13);
  EXPECT_EQ(prompts->Events(), Events{"show"});
  EXPECT_EQ(vg::TMRequestFunc(1), 13);
  ASSERT_TRUE(prompts->WaitForEvents(2));
  EXPECT_EQ(prompts->Events(), (Events{"show", "hide"}));
}

TEST(KeyMediumPrompt, HideFromAnotherThreadIsNotHeldUpByAWaitingShow) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  Gate showMayFinish;
  prompts->OnShow = [&] { showMayFinish.Wait(); };
  InstalledPrompts installed(prompts);

  auto show = std::async(std::launch::async, [] { return vg::TMRequestFunc(0); });
  ASSERT_TRUE(prompts->WaitForEvents(1));  // the prompt is being put up, the show waits
  EXPECT_FALSE(Ready(show));
  auto hide = std::async(std::launch::async, [] { return vg::TMRequestFunc(1); });
  ASSERT_EQ(hide.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(hide.get(), 13);
  EXPECT_EQ(vg::KeyMediumNesting(), 0);

  showMayFinish.Open();
  EXPECT_EQ(show.get(), 13);
  ASSERT_TRUE(prompts->WaitForEvents(2));
  EXPECT_EQ(prompts->Events(), (Events{"show", "hide"}));
}

TEST(GuiPrompts, RequestsFromOtherThreadsRunOnTheGuiThread) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  prompts->Answer("one");
  prompts->Answer("two");
  GuiLoop loop;
  InstalledPrompts installed(prompts, loop.Waker());

  auto ask = [] {
    char buffer[16] = {};
    return vg::PasswordRequestFunc(buffer, sizeof buffer) == -1 ? std::string(buffer) : std::string();
  };
  auto a = std::async(std::launch::async, ask);
  auto b = std::async(std::launch::async, ask);
  auto medium = std::async(std::launch::async, [] {
    const int32_t shown = vg::TMRequestFunc(0);
    vg::TMRequestFunc(1);
    return shown;
  });
  auto allDone = [&] {
    return a.wait_for(0ms) == std::future_status::ready && b.wait_for(0ms) == std::future_status::ready &&
           medium.wait_for(0ms) == std::future_status::ready;
  };
  ASSERT_TRUE(loop.RunUntil(allDone));
  ASSERT_TRUE(loop.RunUntil([&] { return prompts->Events().size() >= 4; }));
  EXPECT_EQ((std::set<std::string>{a.get(), b.get()}), (std::set<std::string>{"one", "two"}));
  EXPECT_EQ(medium.get(), 13);
  for (const auto& id : prompts->Threads()) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(GuiPrompts, RequestOnTheGuiThreadItselfRunsAtOnce) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  prompts->Answer("direct");
  GuiLoop loop;
  InstalledPrompts installed(prompts, loop.Waker());
  char buffer[16] = {};
  // Nobody serves the loop here: a request that waited for it would never return.
  auto result = std::async(std::launch::deferred, [&] { return vg::PasswordRequestFunc(buffer, sizeof buffer); });
  EXPECT_EQ(result.get(), -1);
  EXPECT_STREQ(buffer, "direct");
  EXPECT_EQ(vg::TMRequestFunc(0), 13);
  EXPECT_EQ(vg::TMRequestFunc(1), 13);
  EXPECT_EQ(prompts->Events(), (Events{"ask", "show", "hide"}));
}

TEST(GuiPrompts, InsideAPasswordPromptOnlyKeyMediumRequestsAreServed) {
  auto prompts = std::make_shared<ScriptedPrompts>();
  prompts->Answer("outer");
  prompts->Answer("queued");
  GuiLoop loop;
  InstalledPrompts installed(prompts, loop.Waker());

  std::future<int32_t> medium;
  std::future<std::string> other;
  int32_t nested = 1;
  bool nestedServed = false;
  prompts->OnAsk = [&] {
    if (medium.valid()) return;  // only the outer prompt does this
    // While the dialog is up its event loop keeps running; requests arrive meanwhile.
    medium = std::async(std::launch::async, [] { return vg::TMRequestFunc(0); });
    other = std::async(std::launch::async, [] {
      char buffer[16] = {};
      return vg::PasswordRequestFunc(buffer, sizeof buffer) == -1 ? std::string(buffer) : std::string();
    });
    char again[16] = {};
    nested = vg::PasswordRequestFunc(again, sizeof again);  // a second dialog on top: refused
    nestedServed = loop.RunUntil([&] { return Ready(medium); }, 5s);
    std::this_thread::sleep_for(30ms);
    loop.RunUntil([] { return false; }, 30ms);  // the queued password must still wait
  };
  char buffer[16] = {};
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, sizeof buffer), -1);
  EXPECT_STREQ(buffer, "outer");
  EXPECT_EQ(nested, 0);
  EXPECT_TRUE(nestedServed);
  EXPECT_EQ(prompts->Events(), (Events{"ask", "show"}));

  ASSERT_TRUE(loop.RunUntil([&] { return other.wait_for(0ms) == std::future_status::ready; }));
  EXPECT_EQ(other.get(), "queued");
  EXPECT_EQ(medium.get(), 13);
  EXPECT_EQ(vg::TMRequestFunc(1), 13);
  EXPECT_EQ(prompts->Events(), (Events{"ask", "show", "ask", "hide"}));
}

}  // namespace
