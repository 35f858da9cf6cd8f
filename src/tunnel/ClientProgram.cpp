#include "tunnel/ClientProgram.h"

#include "config/fLogMngr.h"
#include "platform/CodePage.h"
#include "platform/MessageBox.h"
#include "platform/Net.h"
#include "settings/Cfg_Clnt.h"
#include "sockets/fEntry.h"
#include "tunnel/fThrList.h"

namespace vg {

TClientProgram::TClientProgram(TAboutFormView* view, std::string configFile)
    : view_(view), configFile_(std::move(configFile)), instance_(kMainWindowClass) {}

TClientProgram::~TClientProgram() {
  ThreadList().TerminateAll();
  form_.reset();
  instance_.Unregister();
}

bool TClientProgram::ClaimInstance(std::function<void()> onQuit) { return instance_.Register(std::move(onQuit)); }

TClientProgram::TStart TClientProgram::Create(std::function<void()> onTerminate,
                                              const std::function<void(TQSVeilgateAboutForm&)>& created) {
  platform::SetApplicationTitle(ClientPartCaption());
  const platform::SettingsPlace place = ProgramSettingsPlace(configFile_, true);
  UseSettingsPlace(Settings(), place);
  if (!place.Error.empty())
    platform::ShowMessageBox(ClientPartCaption(), platform::Utf8ToCp1251(place.Error), platform::MessageBoxKind::Error);
  InitOwnAddresses();
  // Each connection holds descriptors; the default soft limit would cap them at a few hundred.
  platform::RaiseDescriptorLimit();
  form_ = std::make_unique<TQSVeilgateAboutForm>(view_);
  form_->SetOnTerminate(std::move(onTerminate));
  if (created) created(*form_);
  form_->FormCreate();
  LogFilesInUse();
  if (EarlierReleaseInstalled()) {
    platform::ShowMessageBox(EarlierReleaseCaption(), EarlierReleaseText(), platform::MessageBoxKind::Error);
    return TStart::EarlierRelease;
  }
  return TStart::Running;
}

void TClientProgram::LogFilesInUse() {
  std::string file, logs;
  uint32_t flags = 0;
  {
    TConfigLock lock(Settings());
    file = Settings().FileName();
    logs = Settings().LogDirectoryPath();
    flags = Settings().LogFlags();
  }
  if (!(flags & logflags::kService)) return;
  form_->LogManager().WriteService(Format(VGT("Файл настроек \"%s\", каталог журналов \"%s\""),
                                          {platform::Utf8ToCp1251(file), platform::Utf8ToCp1251(logs)}));
}

}  // namespace vg
