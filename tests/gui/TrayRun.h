#pragma once
// The tray program's start in the test process, as RunTrayProgram does it, with a tray whose
// presence the test decides.
#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "gui/MessageBoxes.h"
#include "gui/TrayProgram.h"
#include "gui/WindowPrompts.h"
#include "tunnel/ClientProgram.h"

namespace guitest {

class TrayRun {
 public:
  ~TrayRun() { Stop(); }

  // False when another instance holds the desktop.
  bool Start(const std::string& config, bool trayAvailable = true) {
    vg::gui::TTrayShell::TOptions options;
    options.TrayWait = std::chrono::milliseconds(100);
    options.TrayPoll = std::chrono::milliseconds(20);
    options.TrayAvailable = [trayAvailable] { return trayAvailable; };
    shell = std::make_unique<vg::gui::TTrayShell>(options);
    program = std::make_unique<vg::TClientProgram>(shell.get(), config);
    vg::gui::TTrayShell* s = shell.get();
    if (!program->ClaimInstance([s] {
          QMetaObject::invokeMethod(
              s, [s] { s->Unload(); }, Qt::QueuedConnection);
        }))
      return false;
    vg::gui::InstallWindowMessageBoxes();
    prompts = vg::gui::InstallWindowPrompts();
    shell->SetPrompts(prompts);
    start = program->Create([this] { ++terminated; }, [s](vg::TQSVeilgateAboutForm& form) { s->SetForm(&form); });
    return true;
  }

  void Stop() {
    if (prompts) prompts->CloseAll();
    vg::RemovePromptService();
    vg::gui::CloseAllMessageBoxes();
    if (shell) shell->SetForm(nullptr);
    program.reset();
    shell.reset();
    prompts.reset();
    vg::gui::RemoveWindowMessageBoxes();
    vg::gui::ReopenMessageBoxes();
  }

  std::unique_ptr<vg::gui::TTrayShell> shell;
  std::unique_ptr<vg::TClientProgram> program;
  std::shared_ptr<vg::gui::TWindowPromptService> prompts;
  vg::TClientProgram::TStart start = vg::TClientProgram::TStart::Running;
  std::atomic<int> terminated{0};
};

}  // namespace guitest
