#pragma once
// The controlling terminal of the process, for asking the user a secret without a window.
#include <atomic>
#include <string>

namespace vg::platform {

enum class TerminalRead {
  Ok,          // a line was read (possibly empty)
  NoTerminal,  // the process has no controlling terminal
  Closed,      // end of input before anything was typed, or the read was cancelled
};

// Writes prompt (UTF-8) to the controlling terminal, reads one line with echo switched off and
// restores the terminal's settings. The line comes back without its line end, as typed (UTF-8).
// When cancel is given, the wait looks at it every 100 ms and gives up (Closed) once it is set.
TerminalRead ReadHiddenLine(const std::string& prompt, std::string& line, const std::atomic<bool>* cancel = nullptr);

}  // namespace vg::platform
