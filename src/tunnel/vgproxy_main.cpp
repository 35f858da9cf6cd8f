// vgproxy: the tunnel program. With a display it is a tray program; with --headless, without
// a display or in a build without the tray program (VG_NO_TRAY) it runs the tunnel, its listener and a message loop,
// ended by SIGINT, SIGTERM or a quit posted to its main window; SIGHUP reloads its settings. A headless tunnel that
// cannot start (settings, port, runtime directory) ends with status 1 and says why on standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "config/fLogMngr.h"
#ifndef VG_NO_TRAY
#include "gui/TrayProgram.h"
#endif
#include "platform/CodePage.h"
#include "platform/Display.h"
#include "platform/MessageBox.h"
#include "protection/HeadlessPrompts.h"
#include "protection/PromptService.h"
#include "settings/Cfg_Clnt.h"
#include "tunnel/ClientProgram.h"
#include "tunnel/ReleaseMark.h"

// The updater looks for this in the executable's data.
extern const std::array<uint8_t, vg::kReleaseMarkerSize> vgReleaseMarker;
[[gnu::used]] const std::array<uint8_t, vg::kReleaseMarkerSize> vgReleaseMarker =
    vg::MakeReleaseMarker(vg::kReleaseBlockVersion);

namespace {

void PrintError(const std::string& text) {
  const std::string line = "vgproxy: " + vg::platform::Cp1251ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

const char kUsage[] =
    "usage: vgproxy [--headless] [--config FILE]\n"
    "  --headless     run without tray icon and windows (also when no display answers)\n"
    "  --config FILE  the settings file to use instead of veilgate.cfg beside the program\n"
    "                 (or, when that one is not writable, the user's own copy)\n";

// Exit statuses of the headless program, for a service manager.
constexpr int kExitStartFailed = 1;  // settings, listener, runtime directory, earlier release
constexpr int kExitUsage = 2;

int Run(const std::string& configFile) {
  vg::platform::EventLoop::BlockTerminationSignals(true);

  vg::platform::EventLoop loop;
  vg::TClientProgram program(nullptr, configFile);
  if (!program.ClaimInstance([&loop] { loop.Quit(0); })) {
    if (program.InstanceProblem().empty()) return 0;
    PrintError(vg::platform::Utf8ToCp1251(program.InstanceProblem()));
    return kExitStartFailed;
  }

  // Without windows a message box is a line on standard error and in the service log.
  vg::platform::SetMessageBoxPresenter(
      [](const std::string& caption, const std::string& text, vg::platform::MessageBoxKind) {
        const std::string line = vg::platform::Cp1251ToUtf8(caption) + ": " + vg::platform::Cp1251ToUtf8(text) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        vg::TLogManager().WriteService(caption + ": " + text);
      });
  // Engines that need a key password ask on the terminal.
  const auto prompts = vg::InstallHeadlessPrompts();

  // SIGHUP: the settings file again and a fresh listener; a tunnel left without one ends, so
  // that its service manager sees the failure.
  loop.SetHangupHandler([&program, &loop] {
    if (vg::TQSVeilgateAboutForm* form = program.Form(); form && !form->ReloadSettings() && !form->Listening())
      loop.Quit(kExitStartFailed);
  });
  int code = kExitStartFailed;
  if (program.Create([&loop] { loop.Quit(0); }) == vg::TClientProgram::TStart::Running) {
    // Without settings or a listener there is nothing to wait for (the tray program stays to
    // let its settings dialog mend them).
    code = program.Form()->Listening() ? loop.Run() : kExitStartFailed;
  }
  // A connection waiting for a password typed on the terminal must not hold the unload up.
  prompts->Cancel();
  vg::RemovePromptService();
  return code;
}

// Windows need a display; without one that answers the program runs headless.
bool DisplayAvailable() {
  const vg::platform::DisplayProbe probe = vg::platform::ProbeDisplay();
  if (!probe.problem.empty()) PrintError(vg::platform::Utf8ToCp1251(probe.problem + "; running without windows"));
  return probe.available;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string configFile;
  try {
    configFile = vg::TakeConfigOption(args);
  } catch (const std::exception& e) {
    PrintError(e.what());
    return kExitUsage;
  }
  bool headless = false;
  for (const std::string& arg : args) {
    if (arg == "--headless") {
      headless = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  try {
#ifndef VG_NO_TRAY
    if (!headless && DisplayAvailable()) return vg::gui::RunTrayProgram(configFile, argc, argv);
#else
    // A build without the tray program (the Windows one) runs headless, asked or not.
    (void)headless;
    (void)DisplayAvailable;
#endif
    return Run(configFile);
  } catch (const std::exception& e) {
    PrintError(e.what());
    return kExitStartFailed;
  }
}
