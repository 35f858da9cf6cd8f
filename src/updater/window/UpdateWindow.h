#pragma once
// The updater's window: the caption, the progress bar and the status line of the procedure,
// which starts 200 ms after the window shows and closes it when it ends.
#include <string>

#include "updater/MainUn.h"

namespace vg {

// Runs the procedure in the window; folder answers given on the command line are used instead
// of asking (empty: ask). tunnelPid: the tunnel started at the end, or -1.
TUpdateResult RunUpdateWindow(int& argc, char** argv, const TUpdateOptions& options, const std::string& installDir,
                              const std::string& medium, int& tunnelPid);

}  // namespace vg
