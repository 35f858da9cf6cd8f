#include "updater/ConsoleView.h"

#include <cstdio>

#include "platform/CodePage.h"

namespace vg {
namespace {

void WriteLine(FILE* stream, const std::string& utf8) {
  const std::string line = utf8 + "\n";
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

// Message texts break lines the Windows way.
std::string ForTerminal(const std::string& cp1251) {
  std::string text = platform::Cp1251ToUtf8(cp1251);
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n  ");
  return text;
}

}  // namespace

TConsoleUpdateView::TConsoleUpdateView(std::string installDirAnswer, std::string mediumAnswer)
    : installDirAnswer_(std::move(installDirAnswer)), mediumAnswer_(std::move(mediumAnswer)) {}

void TConsoleUpdateView::SetStatus(const std::string& text) {
  char position[16];
  std::snprintf(position, sizeof position, "[%2d/%d] ", progress_, kUpdateProgressMax);
  WriteLine(stdout, position + ForTerminal(text));
}

void TConsoleUpdateView::SetProgress(int position) { progress_ = position; }

void TConsoleUpdateView::ShowMessage(const std::string& caption, const std::string& text, TUpdateMessageKind) {
  WriteLine(stderr, ForTerminal(caption) + ": " + ForTerminal(text));
}

std::optional<std::string> TConsoleUpdateView::ChooseFolder(TFolderQuestion question, const std::string& title) {
  const std::string& answer = question == TFolderQuestion::InstallDir ? installDirAnswer_ : mediumAnswer_;
  const char* option = question == TFolderQuestion::InstallDir ? "--install-dir" : "--medium";
  if (answer.empty()) {
    WriteLine(stderr, ForTerminal(title) + ": " + option + " not given, no folder chosen");
    return std::nullopt;
  }
  WriteLine(stdout, ForTerminal(title) + ": " + answer);
  return answer;
}

}  // namespace vg
