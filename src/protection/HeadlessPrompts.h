#pragma once
// Prompts for programs without windows: the password is asked on the controlling terminal,
// the key-medium prompt is a line on standard error.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/Terminal.h"
#include "protection/PromptService.h"

namespace vg {

class THeadlessPromptService : public TPromptService {
 public:
  // Shows prompt (UTF-8) and reads one hidden line (UTF-8); gives up when cancel is set.
  using TLineReader = std::function<platform::TerminalRead(const std::string& prompt, std::string& line,
                                                           const std::atomic<bool>* cancel)>;
  // Writes UTF-8 text to the standard error stream.
  using TErrorWriter = std::function<void(const std::string& utf8)>;
  // Receives a Windows-1251 notice about a refused request, in the manner of a service log line.
  using TNoticeSink = std::function<void(const std::string& text)>;

  // The controlling terminal, standard error, and notices on standard error.
  THeadlessPromptService();
  THeadlessPromptService(TLineReader reader, TErrorWriter errorWriter, TNoticeSink notice);

  bool AskPassword(std::string& password) override;
  void ShowKeyMediumPrompt() override;
  void HideKeyMediumPrompt() override;

  // Ends a password question that waits on the terminal (as if input ended) and refuses the
  // next ones, so that a program can unload while nobody answers.
  void Cancel() { cancelled_ = true; }

  // The notice line written on standard error by default: date and time, then the text.
  static std::string StampedNotice(const std::string& text);

 private:
  TLineReader reader_;
  TErrorWriter errorWriter_;
  TNoticeSink notice_;
  std::atomic<bool> cancelled_{false};
};

// Installs THeadlessPromptService as the process's prompt service, served by its own threads;
// returns it so that the program can cancel a waiting question when it unloads.
std::shared_ptr<THeadlessPromptService> InstallHeadlessPrompts();

}  // namespace vg
