#pragma once
// The box a program shows when it has installed no presenter of its own; each system supplies it.
#include <string>

#include "platform/MessageBox.h"

namespace vg::platform {

void ShowSystemMessageBox(const std::string& caption, const std::string& text, MessageBoxKind kind);

}  // namespace vg::platform
