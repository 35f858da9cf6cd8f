#pragma once
// The program's main window: owner of the listener and of a log manager. It never shows itself
// at start; a desktop shell gives it a face (tray icon, about window) through TAboutFormView,
// and without one the same object runs the tunnel headless.
#include <atomic>
#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "config/fLogMngr.h"
#include "platform/Net.h"
#include "tunnel/ServerSock.h"

namespace vg {

class TQSClientConfig;

// What a desktop shell does for the main window; every operation does nothing by default.
class TAboutFormView {
 public:
  virtual ~TAboutFormView() = default;
  virtual void ActivateTrayIcon(const std::string& toolTip) {}
  virtual void DeactivateTrayIcon() {}
  virtual void SetVersionHint(const std::string& text) {}
  virtual void SetBuildLabel(const std::string& text) {}
  virtual void ShowAboutWindow() {}
  virtual void HideAboutWindow() {}
  // Runs the settings dialog and its flow (stop the listener, save, start it again).
  virtual void RunSetupDialog() {}
};

class TAboutForm {
 public:
  // The view, when given, must outlive the window.
  explicit TAboutForm(TAboutFormView* view = nullptr);
  // Stops the listener and frees the log manager.
  virtual ~TAboutForm();
  TAboutForm(const TAboutForm&) = delete;
  TAboutForm& operator=(const TAboutForm&) = delete;

  // The creation step: log manager, settings loaded under the settings lock, the listener
  // started when they loaded, and the version hint.
  virtual void FormCreate();

  // The settings file read again, as the settings dialog's flow does on confirmation: when it
  // loads, the listener stops (session keys go), the settings are replaced and the listener
  // starts again. False, with the message shown, when the file did not load (the running
  // settings stay) or the listener could not start.
  bool ReloadSettings();

  virtual void StartListener();
  virtual void StopListener();
  virtual bool MayListen() { return true; }

  virtual std::string Caption() const = 0;
  bool Listening() const { return listening_; }
  // The port the listener is bound to while listening.
  int ListeningPort() const { return serverSock_.BoundPort(); }
  TLogManager& LogManager() { return *logManager_; }
  TServerSocket& ServerSock() { return serverSock_; }

  // Menu and window handlers for the shell.
  void SetupItemClick();
  void AboutItemClick();
  void CancelButtonClick();
  // Closing the about window only hides it; the answer is whether it may close (never).
  bool FormCloseQuery();
  // Ends every connection, then asks the application to terminate.
  void UnloadItemClick();
  void SetOnTerminate(std::function<void()> handler) { onTerminate_ = std::move(handler); }

  // Shows "caption : message" in a message box.
  void ShowError(const std::string& message) const;

  // A service log line about a connection the listener could not take or refused, at most one
  // a second: a flood of them must not keep the accept thread writing the log.
  void LogListenerEvent(const std::string& text);

 protected:
  // Loads the settings; false (with the message shown) when they cannot be used.
  virtual bool LoadSettings();
  // Loads config (locked by the caller or private to it), showing why when it fails.
  bool LoadShowingErrors(TQSClientConfig& config);
  // The thread factory: a connection thread for the accepted socket, started at once.
  virtual void MServerSockGetThread(platform::ClientSocket&& accepted) = 0;
  TAboutFormView& View() { return *view_; }
  // A shell shows labels; without one there is nothing to fill in.
  bool HasView() const { return view_ != &defaultView_; }

 private:
  TAboutFormView defaultView_;
  TAboutFormView* view_;
  TServerSocket serverSock_;
  bool listening_ = false;
  std::unique_ptr<TLogManager> logManager_;
  std::function<void()> onTerminate_;
  std::atomic<int64_t> lastListenerEventMs_{INT64_MIN};
  std::mutex listenerEventMutex_;
  platform::SpareDescriptor spareDescriptor_;
};

}  // namespace vg
