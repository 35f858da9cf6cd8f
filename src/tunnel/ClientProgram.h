#pragma once
// The start and end of the client part, shared by the headless program and the tray program:
// one instance per desktop, the main window with its creation step (settings, listener, labels),
// the earlier-release check, and at the end every connection ended before the window goes.
#include <functional>
#include <memory>
#include <string>

#include "platform/Instance.h"
#include "tunnel/Abt_Clnt.h"

namespace vg {

class TClientProgram {
 public:
  enum class TStart { Running, EarlierRelease };

  // view: the desktop shell of the main window (it must outlive this object), or null when
  // the program runs without windows. configFile: a settings file in place of the default.
  TClientProgram(TAboutFormView* view, std::string configFile);
  // Ends every connection, destroys the main window and gives the instance up.
  ~TClientProgram();
  TClientProgram(const TClientProgram&) = delete;
  TClientProgram& operator=(const TClientProgram&) = delete;

  // Takes the main window's class name on this desktop; false when another instance (windowed
  // or not) holds it, and the program should end without a word, or when the runtime directory
  // cannot be used, and InstanceProblem() tells the user why. onQuit runs on a thread of the
  // instance channel when the quit message arrives; the caller hands it to its own loop.
  bool ClaimInstance(std::function<void()> onQuit);
  const std::string& InstanceProblem() const { return instance_.Problem(); }

  // Points the settings at their file (the given one, else the file beside the program or the
  // user's own), creates the main window and runs its creation step, then the earlier-release check, whose
  // box is shown before EarlierRelease is returned. onTerminate: what unloading does last.
  // created: called with the new window before its creation step, so that a shell can route
  // its handlers to it (boxes of the creation step run event loops).
  TStart Create(std::function<void()> onTerminate, const std::function<void(TQSVeilgateAboutForm&)>& created = nullptr);

  // Null before Create.
  TQSVeilgateAboutForm* Form() { return form_.get(); }

 private:
  // A service log line naming the settings file and the log directory, so the user finds both.
  void LogFilesInUse();

  TAboutFormView* view_;
  std::string configFile_;
  platform::WindowClassInstance instance_;
  std::unique_ptr<TQSVeilgateAboutForm> form_;
};

}  // namespace vg
