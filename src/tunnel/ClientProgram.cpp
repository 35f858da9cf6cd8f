#include "tunnel/ClientProgram.h"

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
  if (!configFile_.empty()) {
    TConfigLock lock(Settings());
    Settings().SetFileName(configFile_);
  }
  InitOwnAddresses();
  // Each connection holds descriptors; the default soft limit would cap them at a few hundred.
  platform::RaiseDescriptorLimit();
  form_ = std::make_unique<TQSVeilgateAboutForm>(view_);
  form_->SetOnTerminate(std::move(onTerminate));
  if (created) created(*form_);
  form_->FormCreate();
  if (EarlierReleaseInstalled()) {
    platform::ShowMessageBox(EarlierReleaseCaption(), EarlierReleaseText(), platform::MessageBoxKind::Error);
    return TStart::EarlierRelease;
  }
  return TStart::Running;
}

}  // namespace vg
