#include "platform/SystemMessageBox.h"

#include <cstdio>

#include "platform/CodePage.h"

namespace vg::platform {

// No window system is assumed: the text goes to standard error, converted for the terminal.
void ShowSystemMessageBox(const std::string& caption, const std::string& text, MessageBoxKind) {
  const std::string line = Cp1251ToUtf8(caption) + ": " + Cp1251ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace vg::platform
