// vgproxy: the tunnel program. With a display it is a tray program; with --headless or without
// a display it runs the tunnel, its listener and a message loop, ended by SIGINT, SIGTERM or a
// quit posted to its main window.
#include <cstdio>
#include <string>
#include <vector>

#include "config/fLogMngr.h"
#include "gui/TrayProgram.h"
#include "platform/CodePage.h"
#include "platform/Environment.h"
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
    "  --headless     run without tray icon and windows (also when there is no display)\n"
    "  --config FILE  the settings file to use instead of veilgate.cfg beside the program\n";

int Run(const std::string& configFile) {
  vg::platform::EventLoop::BlockTerminationSignals();

  vg::platform::EventLoop loop;
  vg::TClientProgram program(nullptr, configFile);
  if (!program.ClaimInstance([&loop] { loop.Quit(0); })) return 0;

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

  const bool earlier = program.Create([&loop] { loop.Quit(0); }) == vg::TClientProgram::TStart::EarlierRelease;
  const int code = earlier ? 1 : loop.Run();
  // A connection waiting for a password typed on the terminal must not hold the unload up.
  prompts->Cancel();
  vg::RemovePromptService();
  return code;
}

// Windows need a display; without one the program runs headless.
bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const auto value = vg::platform::ReadEnvironmentVariable(name);
    if (value && !value->empty()) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string configFile;
  try {
    configFile = vg::TakeConfigOption(args);
  } catch (const std::exception& e) {
    PrintError(e.what());
    return 2;
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
    return 2;
  }
  try {
    if (!headless && DisplayAvailable()) return vg::gui::RunTrayProgram(configFile, argc, argv);
    return Run(configFile);
  } catch (const std::exception& e) {
    PrintError(e.what());
    return 1;
  }
}
