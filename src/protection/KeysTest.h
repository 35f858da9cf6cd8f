#pragma once
// The keys test: opens an engine of a given type with given parameters and checks, step by
// step, that the user's keys work (own identifier, signature and its check, encryption for the
// own identifier and its decryption, encryption for the configured partner and, in the extended
// test, encryption for every subscriber the engine lists). Every step goes to a report file.
//
// The run is plain code; what it shows (status text, progress, error count, message boxes, the
// break button) goes through a small view, so the dialog, the command line and the tests drive
// the same run.
//
// Terms:
//   report     - the text file the run writes; built in a scratch file beside it and put in its
//                place when the run ends, so a run that cannot write keeps the previous report.
//   line+      - a report line followed by an empty line.
//   error text - the library's text for a result code; each lookup counts one error.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cipherhub/cipherhub.h"
#include "config/EasyLog.h"
#include "platform/Clock.h"
#include "protection/fcrypt.h"

namespace vg {

// What the run shows while it works. Every call comes from the thread running the test.
class IKeysTestView {
 public:
  virtual ~IKeysTestView() = default;
  // The status text with the progress bar at position.
  virtual void Status(const std::string& text, int position) = 0;
  // The status text with the progress bar advanced by one step.
  virtual void StatusStep(const std::string& text) = 0;
  // The progress bar's range for what follows (100 for the main test, the subscriber count in
  // the extended test).
  virtual void ProgressRange(int maximum) = 0;
  // The error count so far; called with every status update once it is above 0.
  virtual void ErrorCount(int count) = 0;
  // True around every engine call (the hourglass).
  virtual void Busy(bool busy) = 0;
  // A message box the user confirms (Windows-1251 text).
  virtual void Message(const std::string& text) = 0;
  // The break button is usable only during the extended test.
  virtual void BreakEnabled(bool enabled) = 0;
  virtual bool BreakRequested() = 0;
  // Lets pending events run (the break button can be pressed between subscribers).
  virtual void ProcessEvents() = 0;
};

class TKeysTest {
 public:
  // The test text that is signed and encrypted.
  static std::string TestText();
  // "KeysTest.log" in the log directory, which is created with its parents; the temporary
  // directory when the log directory is empty or cannot be created.
  static std::string DefaultReportPath(const std::string& logDirectory);

  explicit TKeysTest(IKeysTestView& view, const platform::Clock& clock = platform::Clock::System());
  ~TKeysTest();
  TKeysTest(const TKeysTest&) = delete;
  TKeysTest& operator=(const TKeysTest&) = delete;

  // The root path handed to the engine (by default the installation root of the protected
  // server records).
  void SetRootPath(std::string rootPath) { rootPath_ = std::move(rootPath); }
  // Replaces the one-second pause before the report is shown (tests make it instant).
  void SetEndingPause(std::function<void()> pause) { pause_ = std::move(pause); }

  // Runs the whole test for the parameters' engine type and values, writing the report to
  // reportPath. Returns the error count. A report that cannot be written ends the run with a
  // message and counts as an error; the previous report then stays.
  int Run(const TCryptoParams& params, const std::string& reportPath, bool extended);

  int ErrorCount() const { return errors_; }
  // True when the run reached its last step (not ended early at steps 1 to 3).
  bool Completed() const { return completed_; }

 private:
  class Busy;
  struct Failure {
    std::string message;
  };

  void Line(const std::string& text);
  void LinePlus(const std::string& text);
  void Empty();
  void Status(const std::string& text, int position);
  void StatusStep(const std::string& text);
  std::string ErrorText(int32_t code);

  bool MainTest(const TCryptoParams& params, bool extended);
  bool ExtensionCheck();
  void ExtendedTest();
  void EncodeStep(const char* recipient);
  void Ending();

  IKeysTestView& view_;
  const platform::Clock& clock_;
  std::string rootPath_;
  std::function<void()> pause_;
  std::unique_ptr<TEasyLog> log_;
  std::string text_;
  std::string uid_;
  std::vector<std::string> subscribers_;
  int32_t reportSize_ = 0;
  int errors_ = 0;
  bool completed_ = false;
};

}  // namespace vg
