#include "protection/PromptService.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vg {
namespace {

using prompt_detail::TPromptBody;

struct TPromptTask {
  TPromptBody Body;
  std::promise<bool> Done;
};

std::shared_future<bool> Finished(bool ran) {
  std::promise<bool> promise;
  promise.set_value(ran);
  return promise.get_future().share();
}

// One installed service with the threads or the GUI thread that serve it.
class TPromptHost {
 public:
  TPromptHost(std::shared_ptr<TPromptService> service, std::function<void()> wake)
      : service_(std::move(service)), wake_(std::move(wake)), gui_(static_cast<bool>(wake_)),
        guiThread_(std::this_thread::get_id()) {
    if (!gui_) {
      for (int kind = 0; kind < 2; ++kind) workers_[kind] = std::thread([this, kind] { WorkerLoop(kind); });
    }
  }

  ~TPromptHost() { Stop(); }

  std::shared_future<bool> Post(TPromptKind kind, TPromptBody body) {
    const int k = Index(kind);
    if (OnGuiThread()) {
      if (kind == TPromptKind::Password) {
        if (inPassword_) return Finished(false);
        inPassword_ = true;
        RunBody(body);
        inPassword_ = false;
      } else {
        RunBody(body);
      }
      return Finished(true);
    }
    auto task = std::make_shared<TPromptTask>();
    task->Body = std::move(body);
    std::shared_future<bool> done = task->Done.get_future().share();
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (stopping_) return Finished(false);
      queues_[k].push_back(task);
    }
    if (gui_) {
      wake_();
    } else {
      wakeWorkers_.notify_all();
    }
    return done;
  }

  void Serve() {
    if (!OnGuiThread()) return;
    for (;;) {
      std::shared_ptr<TPromptTask> task;
      bool password = false;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        auto& keyMedium = queues_[Index(TPromptKind::KeyMedium)];
        auto& passwords = queues_[Index(TPromptKind::Password)];
        if (!keyMedium.empty()) {
          task = keyMedium.front();
          keyMedium.pop_front();
        } else if (!inPassword_ && !passwords.empty()) {
          task = passwords.front();
          passwords.pop_front();
          password = true;
        } else {
          return;
        }
      }
      if (password) inPassword_ = true;
      RunBody(task->Body);
      if (password) inPassword_ = false;
      task->Done.set_value(true);
    }
  }

  void Stop() {
    std::deque<std::shared_ptr<TPromptTask>> refused;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (stopping_) return;
      stopping_ = true;
      for (auto& queue : queues_) {
        refused.insert(refused.end(), queue.begin(), queue.end());
        queue.clear();
      }
    }
    wakeWorkers_.notify_all();
    for (auto& task : refused) task->Done.set_value(false);
    for (auto& worker : workers_)
      if (worker.joinable() && worker.get_id() != std::this_thread::get_id()) worker.join();
  }

 private:
  static int Index(TPromptKind kind) { return kind == TPromptKind::Password ? 0 : 1; }

  bool OnGuiThread() const { return gui_ && std::this_thread::get_id() == guiThread_; }

  void RunBody(const TPromptBody& body) {
    // A failing prompt must not take the serving thread down; the request then gets no answer.
    try {
      body(service_);
    } catch (...) {
    }
  }

  void WorkerLoop(int kind) {
    for (;;) {
      std::shared_ptr<TPromptTask> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wakeWorkers_.wait(lock, [&] { return stopping_ || !queues_[kind].empty(); });
        if (stopping_) return;
        task = queues_[kind].front();
        queues_[kind].pop_front();
      }
      RunBody(task->Body);
      task->Done.set_value(true);
    }
  }

  const std::shared_ptr<TPromptService> service_;
  const std::function<void()> wake_;
  const bool gui_;
  const std::thread::id guiThread_;
  bool inPassword_ = false;  // GUI thread only

  std::mutex mutex_;
  std::condition_variable wakeWorkers_;
  bool stopping_ = false;
  std::deque<std::shared_ptr<TPromptTask>> queues_[2];
  std::thread workers_[2];
};

std::mutex gHostMutex;
std::shared_ptr<TPromptHost> gHost;

std::shared_ptr<TPromptHost> CurrentHost() {
  std::lock_guard<std::mutex> guard(gHostMutex);
  return gHost;
}

void Replace(std::shared_ptr<TPromptHost> host) {
  std::shared_ptr<TPromptHost> old;
  {
    std::lock_guard<std::mutex> guard(gHostMutex);
    old = std::move(gHost);
    gHost = std::move(host);
  }
  if (old) old->Stop();
}

}  // namespace

void InstallPromptService(std::shared_ptr<TPromptService> service) {
  RemovePromptService();
  if (service) Replace(std::make_shared<TPromptHost>(std::move(service), std::function<void()>()));
}

void InstallPromptService(std::shared_ptr<TPromptService> service, std::function<void()> wake) {
  RemovePromptService();
  if (service) Replace(std::make_shared<TPromptHost>(std::move(service), std::move(wake)));
}

void RemovePromptService() { Replace(nullptr); }

void ServePromptRequests() {
  if (auto host = CurrentHost()) host->Serve();
}

namespace prompt_detail {
std::shared_future<bool> PostToPromptThread(TPromptKind kind, TPromptBody body) {
  auto host = CurrentHost();
  if (!host) return Finished(false);
  return host->Post(kind, std::move(body));
}
}  // namespace prompt_detail

}  // namespace vg
