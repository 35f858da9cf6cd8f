#pragma once
// Whether a window system answers. A program that shows windows checks this first, because a
// display variable left behind by a session that has ended would otherwise stop it inside the
// GUI toolkit's start-up; without an answer it runs without windows instead.
#include <chrono>
#include <optional>
#include <string>

namespace vg::platform {

struct DisplayProbe {
  bool available = false;
  // Why not, for the user (UTF-8): the display that was tried and the system's answer; empty
  // when no display is named at all.
  std::string problem;
};

// On Linux: QT_QPA_PLATFORM naming a platform of its own (offscreen, for one) counts as a display;
// otherwise the Wayland socket (WAYLAND_DISPLAY) or the X display (DISPLAY: a local socket, or
// TCP port 6000+n on a named host) must accept a connection within the wait. On Windows the
// program always has its desktop.
DisplayProbe ProbeDisplay(std::chrono::milliseconds wait = std::chrono::milliseconds(2000));

// Where an X display name ("[host]:n[.screen]", or a socket path) is served: a local socket
// (socketPath; the abstract name of the same text is tried first) or TCP port 6000+n on host.
struct XDisplayPlace {
  std::string socketPath;
  std::string host;
  int port = 0;
};
// Nothing for a name that is not a display name (or whose TCP port would be beyond 65535).
std::optional<XDisplayPlace> ParseXDisplay(const std::string& name);

}  // namespace vg::platform
