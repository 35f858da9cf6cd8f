#pragma once
// A prompt service that answers from a script and records what it was asked, on which thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protection/PromptService.h"

namespace enginetest {

class ScriptedPrompts : public vg::TPromptService {
 public:
  // Answers in order; nullopt cancels. With the script empty every request is cancelled.
  void Answer(std::optional<std::string> answer) {
    std::lock_guard<std::mutex> guard(mutex_);
    answers_.push_back(std::move(answer));
  }

  bool AskPassword(std::string& password) override {
    Enter();
    std::optional<std::string> answer;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      events_.push_back("ask");
      threads_.push_back(std::this_thread::get_id());
      if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
      }
      changed_.notify_all();
    }
    if (OnAsk) OnAsk();
    Leave();
    if (!answer) return false;
    password = *answer;
    return true;
  }

  void ShowKeyMediumPrompt() override {
    Record("show");
    if (OnShow) OnShow();
  }
  void HideKeyMediumPrompt() override { Record("hide"); }

  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
  }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return threads_;
  }
  int MaxConcurrentAsks() const { return maxActive_; }

  // Waits until the recorded events number at least count.
  bool WaitForEvents(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
  }

  std::function<void()> OnAsk;   // runs inside AskPassword
  std::function<void()> OnShow;  // runs inside ShowKeyMediumPrompt

 private:
  void Record(const char* event) {
    std::lock_guard<std::mutex> guard(mutex_);
    events_.push_back(event);
    threads_.push_back(std::this_thread::get_id());
    changed_.notify_all();
  }
  void Enter() {
    const int now = ++active_;
    int seen = maxActive_;
    while (now > seen && !maxActive_.compare_exchange_weak(seen, now)) {
    }
  }
  void Leave() {
    --active_;
    std::lock_guard<std::mutex> guard(mutex_);
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::optional<std::string>> answers_;
  std::vector<std::string> events_;
  std::vector<std::thread::id> threads_;
  std::atomic<int> active_{0};
  std::atomic<int> maxActive_{0};
};

// Installs a service for the life of a test and removes it afterwards.
class InstalledPrompts {
 public:
  explicit InstalledPrompts(std::shared_ptr<vg::TPromptService> service) {
    vg::InstallPromptService(std::move(service));
  }
  InstalledPrompts(std::shared_ptr<vg::TPromptService> service, std::function<void()> wake) {
    vg::InstallPromptService(std::move(service), std::move(wake));
  }
  ~InstalledPrompts() { vg::RemovePromptService(); }
  InstalledPrompts(const InstalledPrompts&) = delete;
  InstalledPrompts& operator=(const InstalledPrompts&) = delete;
};

// A one-shot gate that threads wait at until it opens.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  bool Wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

}  // namespace enginetest
