// vgupdate: updates the installed tunnel from the package directory it is started in. With a
// display it shows its window (when built with one); with --headless, or without a display,
// it reports on the terminal and its exit status tells how far the update came.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Display.h"
#include "platform/ProgramInfo.h"
#include "updater/ConsoleView.h"
#include "updater/MainUn.h"
#ifdef VG_UPDATE_WINDOW
#include "updater/window/UpdateWindow.h"
#endif

namespace {

const char kUsage[] =
    "usage: vgupdate [NUD] [--headless] [--install-dir DIR] [--medium DIR]\n"
    "  run in the directory holding the new files (the update package)\n"
    "  NUD                leave the installation medium alone (any letter case)\n"
    "  --headless         no window (also when no display answers)\n"
    "  --install-dir DIR  the installation, when the registry does not name it\n"
    "  --medium DIR       the installation medium, when no removable drive holds it\n"
    "exit status: 0 updated (medium too, unless NUD), 3 installation updated but the medium\n"
    "not refreshed, 1 not updated, 2 usage error\n";

int ExitStatus(vg::TUpdateResult result) {
  switch (result) {
    case vg::TUpdateResult::Completed: return 0;
    case vg::TUpdateResult::InstallationOnly: return 3;
    case vg::TUpdateResult::NotUpdated: break;
  }
  return 1;
}

// Without a display that answers the update runs on the terminal.
bool HaveDisplay() {
  const vg::platform::DisplayProbe probe = vg::platform::ProbeDisplay();
  if (!probe.problem.empty()) std::fprintf(stderr, "vgupdate: %s; running without windows\n", probe.problem.c_str());
  return probe.available;
}

// Scripts and tests stop the restarted tunnel by this id.
void ReportTunnel(int pid) {
  if (pid > 0) std::printf("vgupdate: vgproxy started, process %d\n", pid);
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  std::string installDir;
  std::string medium;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--headless") {
      headless = true;
    } else if ((arg == "--install-dir" || arg == "--medium") && i + 1 < argc) {
      (arg == "--install-dir" ? installDir : medium) = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg.rfind("--", 0) == 0) {
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      positional.push_back(arg);
    }
  }

  vg::TUpdateOptions options;
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) == nullptr) {
    std::perror("vgupdate: current directory");
    return 1;
  }
  options.packageDir = cwd;
  options.updaterName = vg::platform::ProgramFileName();
  options.noMediumUpdate = !positional.empty() && vg::IsNoMediumArgument(positional.front());

#ifdef VG_UPDATE_WINDOW
  if (!headless && HaveDisplay()) {
    int tunnelPid = -1;
    const vg::TUpdateResult result = vg::RunUpdateWindow(argc, argv, options, installDir, medium, tunnelPid);
    ReportTunnel(tunnelPid);
    return ExitStatus(result);
  }
#else
  (void)headless;
  (void)HaveDisplay;
#endif
  options.tunnelHeadless = true;
  try {
    vg::TConsoleUpdateView view(installDir, medium);
    vg::TUpdateProcedure procedure(view, options);
    const vg::TUpdateResult result = procedure.Run();
    ReportTunnel(procedure.StartedTunnelPid());
    return ExitStatus(result);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vgupdate: %s\n", e.what());
    return 1;
  }
}
