#pragma once
// The update procedure on a terminal: status lines on standard output, messages on standard
// error, folder questions answered from the command line (or cancelled when not given).
#include <optional>
#include <string>

#include "updater/MainUn.h"

namespace vg {

class TConsoleUpdateView : public IUpdateView {
 public:
  // Empty answers stand for a cancelled choice.
  TConsoleUpdateView(std::string installDirAnswer, std::string mediumAnswer);
  void SetStatus(const std::string& text) override;
  void SetProgress(int position) override;
  void ShowMessage(const std::string& caption, const std::string& text, TUpdateMessageKind kind) override;
  std::optional<std::string> ChooseFolder(TFolderQuestion question, const std::string& title) override;

 private:
  std::string installDirAnswer_;
  std::string mediumAnswer_;
  int progress_ = 0;
};

}  // namespace vg
