#include "platform/Instance.h"

#include <windows.h>

#include <cctype>
#include <future>
#include <vector>

#include "platform/Files.h"
#include "platform/win/WinError.h"

namespace vg::platform {
namespace {

// Posted to the window by its own procedure on WM_CLOSE, and by Unregister to end its thread.
constexpr UINT kQuitRequest = WM_APP + 1;
constexpr UINT kStopServing = WM_APP + 2;

std::string SanitizedName(const std::string& name) {
  std::string out;
  for (char c : name) out.push_back((isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_');
  return out;
}

LRESULT CALLBACK InstanceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Closing the window is a quit request too; the window itself stays until Unregister.
  if (message == WM_CLOSE) {
    ::PostMessageA(window, kQuitRequest, 0, 0);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

// The hidden top-level window of the class, made on the calling thread; null when it cannot be.
HWND CreateInstanceWindow(const std::string& className) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = InstanceWindowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = className.c_str();
  if (!::RegisterClassA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  // A top-level window (not a message-only one), since only those are found by class name.
  return ::CreateWindowExA(WS_EX_TOOLWINDOW, className.c_str(), "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

// Ctrl+C, Ctrl+Break and the console's closing, handed to the running loops and the watchers.
struct Termination {
  std::mutex mutex;
  std::condition_variable changed;
  bool handlerInstalled = false;
  bool pending = false;  // a request that no loop or watcher has taken yet
  unsigned long requests = 0;
  int watchers = 0;
  std::vector<EventLoop*> loops;
};

Termination& Terminations() {
  static Termination t;
  return t;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  Termination& t = Terminations();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    ++t.requests;
    if (t.loops.empty() && t.watchers == 0) t.pending = true;
    for (EventLoop* loop : t.loops) loop->Quit(0);
  }
  t.changed.notify_all();
  // The system ends the process as soon as this returns from a close event: the program's own
  // exit (or the system's time limit) ends this thread instead, after its orderly shutdown.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

std::string DesktopRuntimeDir(std::string* problem) {
  std::string dir = TempDirectory();
  if (dir.empty() && problem) *problem = "the temporary directory cannot be read";
  return dir;
}

WindowClassInstance::WindowClassInstance(std::string className) : className_(std::move(className)) {}

WindowClassInstance::~WindowClassInstance() { Unregister(); }

bool WindowClassInstance::Register(std::function<void()> onQuit) {
  if (nameLock_) return true;
  problem_.clear();
  // The named lock makes taking the name one step for every process of this session; a window
  // of the class made by a program that takes no lock counts as well.
  const std::string lockName = "Local\\qs-veilgate-" + SanitizedName(className_);
  ::SetLastError(ERROR_SUCCESS);
  HANDLE lock = ::CreateMutexA(nullptr, FALSE, lockName.c_str());
  if (!lock) {
    problem_ = "cannot create the instance lock \"" + lockName + "\": " + win::Win32ErrorText(::GetLastError());
    return false;
  }
  if (::GetLastError() == ERROR_ALREADY_EXISTS || ::FindWindowA(className_.c_str(), nullptr)) {
    ::CloseHandle(lock);
    return false;
  }
  nameLock_ = lock;
  onQuit_ = std::move(onQuit);
  std::promise<HWND> created;
  std::future<HWND> window = created.get_future();
  server_ = std::thread([this, created = std::move(created)]() mutable {
    const HWND w = CreateInstanceWindow(className_);
    created.set_value(w);
    if (w) Serve();
  });
  window_ = window.get();
  // Without a window the lock still holds the name; only other programs' searches miss it.
  if (!window_) server_.join();
  return true;
}

// The window's message loop. WM_QUIT posted to the window ends GetMessage, which here means a
// quit request rather than the end of the loop: the window stays to be found until Unregister.
void WindowClassInstance::Serve() {
  MSG msg;
  for (;;) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got < 0) return;
    if (got == 0 || msg.message == kQuitRequest) {
      if (onQuit_) onQuit_();
      continue;
    }
    if (msg.message == kStopServing) {
      ::DestroyWindow(msg.hwnd);
      ::UnregisterClassA(className_.c_str(), ::GetModuleHandleA(nullptr));
      return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

bool WindowClassInstance::IsRegistered() const { return nameLock_ != nullptr; }

void WindowClassInstance::Unregister() {
  if (server_.joinable()) {
    ::PostMessageA(static_cast<HWND>(window_), kStopServing, 0, 0);
    server_.join();
  }
  window_ = nullptr;
  if (nameLock_) {
    ::CloseHandle(nameLock_);
    nameLock_ = nullptr;
  }
}

bool FindWindowByClass(const std::string& className) { return ::FindWindowA(className.c_str(), nullptr) != nullptr; }

bool PostQuitToWindow(const std::string& className) {
  const HWND window = ::FindWindowA(className.c_str(), nullptr);
  return window && ::PostMessageA(window, WM_QUIT, 0, 0);
}

void EventLoop::BlockTerminationSignals(bool /*hangup: there is no hang-up on Windows*/) {
  Termination& t = Terminations();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (!t.handlerInstalled) t.handlerInstalled = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

EventLoop::EventLoop() = default;

EventLoop::~EventLoop() = default;

int EventLoop::Run() {
  loopThread_ = std::this_thread::get_id();
  Termination& t = Terminations();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    if (t.pending) {
      t.pending = false;
      Quit(0);
    }
    t.loops.push_back(this);
  }
  int code = 0;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
      while (!tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
      }
      if (quit_) {
        code = code_;
        break;
      }
    }
  }
  // Out of the loop's lock: the console handler takes the two locks in the other order.
  std::lock_guard<std::mutex> lock(t.mutex);
  std::erase(t.loops, this);
  return code;
}

void EventLoop::Quit(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!quit_) code_ = code;
  quit_ = true;
  wake_.notify_all();
}

void EventLoop::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.push_back(std::move(task));
  wake_.notify_all();
}

bool EventLoop::IsLoopThread() const { return std::this_thread::get_id() == loopThread_; }

TerminationSignalWatcher::TerminationSignalWatcher(std::function<void()> onSignal) {
  Termination& t = Terminations();
  // Counted here rather than on the thread, so that no request falls between the two.
  std::unique_lock<std::mutex> lock(t.mutex);
  ++t.watchers;
  const unsigned long seen = t.requests;
  lock.unlock();
  thread_ = std::thread([this, &t, seen, onSignal = std::move(onSignal)] {
    std::unique_lock<std::mutex> lock(t.mutex);
    t.changed.wait(lock, [&] { return stopping_ || t.requests != seen || t.pending; });
    --t.watchers;
    t.pending = false;
    const bool fire = !stopping_;
    lock.unlock();
    if (fire && onSignal) onSignal();
  });
}

TerminationSignalWatcher::~TerminationSignalWatcher() {
  Termination& t = Terminations();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    stopping_ = true;
  }
  t.changed.notify_all();
  thread_.join();
}

}  // namespace vg::platform
