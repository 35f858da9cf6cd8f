#pragma once
// Stand-ins for the window-system services the programs rely on: a top-level window found by
// its class name (one instance per desktop), the quit message posted to it, and a message loop
// for programs that show no windows.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vg::platform {

// Per-desktop directory for instance locks and control channels ($XDG_RUNTIME_DIR, else
// "vg-runtime-<uid>" in the temporary directory), qualified by the display when one is set.
// Empty when it cannot be used: a missing runtime directory, or one of ours that another user
// owns or may enter; problem (when given) then says why.
// Windows has no such directory: there it is the user's temporary directory, whose problem
// is only that it cannot be read.
std::string DesktopRuntimeDir(std::string* problem = nullptr);

// While registered, the class name is taken on this desktop: FindWindowByClass finds it and
// PostQuitToWindow delivers a quit request to the registered handler (on a thread of its own).
// On Windows this is a hidden top-level window of that class, so that other programs find it
// with FindWindowA and end it by posting WM_QUIT (WM_CLOSE is taken as the same request).
class WindowClassInstance {
 public:
  explicit WindowClassInstance(std::string className);
  ~WindowClassInstance();
  WindowClassInstance(const WindowClassInstance&) = delete;
  WindowClassInstance& operator=(const WindowClassInstance&) = delete;

  // False when another process (or object) holds the name already, or when the runtime
  // directory cannot be used (then Problem() says why).
  bool Register(std::function<void()> onQuit);
  const std::string& Problem() const { return problem_; }
  void Unregister();
  bool IsRegistered() const;

 private:
  void Serve();

  std::string className_;
  std::string problem_;
  std::function<void()> onQuit_;
#ifdef _WIN32
  void* nameLock_ = nullptr;  // a named mutex: taking the name cannot race
  void* window_ = nullptr;
#else
  int lockFd_ = -1;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
#endif
  std::thread server_;
};

bool FindWindowByClass(const std::string& className);
// True when a quit request reached a registered instance.
bool PostQuitToWindow(const std::string& className);

// The message loop of a program without windows: Run returns the code given to Quit, or 0 when
// SIGINT or SIGTERM arrived. Tasks posted from any thread run on the loop's thread, and so does
// the hang-up handler when SIGHUP arrives (a service manager's "reload").
// On Windows Ctrl+C, Ctrl+Break and the closing of the console stand for SIGINT and SIGTERM;
// there is no hang-up there, so the hang-up handler never runs.
class EventLoop {
 public:
  EventLoop();
  ~EventLoop();
  // Must be called before any other thread starts, so that the signals reach only the loop.
  // hangup: SIGHUP goes to the loop too (else it keeps its default action).
  static void BlockTerminationSignals(bool hangup = false);
  // Set before Run.
  void SetHangupHandler(std::function<void()> handler) { onHangup_ = std::move(handler); }

  int Run();
  void Quit(int code = 0);
  void Post(std::function<void()> task);
  bool IsLoopThread() const;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
  int code_ = 0;
  std::atomic<std::thread::id> loopThread_{};
  std::function<void()> onHangup_;
  std::thread signalThread_;
};

// For a program whose loop is not an EventLoop: after EventLoop::BlockTerminationSignals, a thread
// of this object waits for SIGINT or SIGTERM and calls onSignal once for the first of them.
class TerminationSignalWatcher {
 public:
  explicit TerminationSignalWatcher(std::function<void()> onSignal);
  ~TerminationSignalWatcher();
  TerminationSignalWatcher(const TerminationSignalWatcher&) = delete;
  TerminationSignalWatcher& operator=(const TerminationSignalWatcher&) = delete;

 private:
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace vg::platform
