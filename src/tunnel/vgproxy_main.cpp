// vgproxy: the tunnel program. Without a desktop shell it runs headless: the tunnel, its
// listener and the message loop, ended by SIGINT, SIGTERM or a quit posted to its main window.
#include <cstdio>
#include <string>
#include <vector>

#include "config/Cfg_Clnt.h"
#include "config/fLogMngr.h"
#include "platform/CodePage.h"
#include "platform/Instance.h"
#include "platform/MessageBox.h"
#include "platform/Net.h"
#include "platform/SysUtils.h"
#include "tunnel/Abt_Clnt.h"
#include "tunnel/ReleaseMark.h"
#include "tunnel/fEntry.h"
#include "tunnel/fThrList.h"

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
  vg::platform::SetApplicationTitle(vg::ClientPartCaption());

  // One instance per desktop: a second start ends without a word.
  vg::platform::EventLoop loop;
  vg::platform::WindowClassInstance instance(vg::kMainWindowClass);
  if (!instance.Register([&loop] { loop.Quit(0); })) return 0;

  if (!configFile.empty()) {
    vg::TConfigLock lock(vg::Settings());
    vg::Settings().SetFileName(configFile);
  }
  vg::InitOwnAddresses();
  // Each connection holds descriptors; the default soft limit would cap them at a few hundred.
  vg::platform::RaiseDescriptorLimit();
  // Without windows a message box is a line on standard error and in the service log.
  vg::platform::SetMessageBoxPresenter([](const std::string& caption, const std::string& text) {
    const std::string line = vg::platform::Cp1251ToUtf8(caption) + ": " + vg::platform::Cp1251ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    vg::TLogManager().WriteService(caption + ": " + text);
  });

  int code = 0;
  {
    vg::TQSVeilgateAboutForm form;
    form.SetOnTerminate([&loop] { loop.Quit(0); });
    form.FormCreate();
    if (vg::EarlierReleaseInstalled()) {
      vg::platform::ShowMessageBox(vg::EarlierReleaseCaption(), vg::EarlierReleaseText());
      code = 1;
    } else {
      code = loop.Run();
    }
    vg::ThreadList().TerminateAll();
  }
  instance.Unregister();
  return code;
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
  for (const std::string& arg : args) {
    if (arg == "--headless") continue;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::fputs(kUsage, stderr);
    return 2;
  }
  // The desktop shell is not part of this build: the program always runs headless.
  try {
    return Run(configFile);
  } catch (const std::exception& e) {
    PrintError(e.what());
    return 1;
  }
}
