#include "platform/Display.h"

namespace vg::platform {

// An interactive Windows program always runs on a desktop.
DisplayProbe ProbeDisplay(std::chrono::milliseconds) { return {true, ""}; }

}  // namespace vg::platform
