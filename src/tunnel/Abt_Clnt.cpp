#include "tunnel/Abt_Clnt.h"

#include "platform/ProgramInfo.h"
#include "platform/Registry.h"
#include "platform/SysUtils.h"
#include "protection/ConKey.h"
#include "tunnel/ClntThrd.h"

namespace vg {

const std::string& ClientPartCaption() { return VGT("QS-Veilgate (клиентская часть)"); }

TQSVeilgateAboutForm::TQSVeilgateAboutForm(TAboutFormView* view) : TAboutForm(view) {}

TQSVeilgateAboutForm::~TQSVeilgateAboutForm() { StopListener(); }

std::string TQSVeilgateAboutForm::Caption() const { return ClientPartCaption(); }

void TQSVeilgateAboutForm::FormCreate() {
  View().ActivateTrayIcon(Caption());
  TAboutForm::FormCreate();
  if (!HasView()) return;
  const platform::FileVersion version = platform::ReadFileVersion(platform::ProgramPath());
  std::string build = "0";
  if (version.present) build = version.text.empty() ? "not defined" : version.text;
  View().SetBuildLabel(build);
}

void TQSVeilgateAboutForm::StopListener() {
  TAboutForm::StopListener();
  ConnectionKeys().Clear();
}

void TQSVeilgateAboutForm::MServerSockGetThread(platform::ClientSocket&& accepted) {
  const std::string refusal = TClientRequestThread::RefusalAtAccept(accepted);
  if (!refusal.empty()) {
    accepted.Close();
    LogListenerEvent(refusal);
    return;
  }
  // A connection whose thread cannot be made is dropped; the log says why.
  try {
    (new TClientRequestThread(std::move(accepted)))->Start(&ServerSock().Threads());
  } catch (const std::exception& e) {
    LogListenerEvent(Format(VGT("Соединение не принято: %s"), {e.what()}));
  }
}

const std::string& EarlierReleaseKey() {
  static const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QS-Veilgate";
  return key;
}

bool EarlierReleaseInstalled() {
  namespace reg = platform::registry;
  reg::Root root = reg::Root::kLocalMachine;
  std::string path;
  if (!reg::SplitKeyText(EarlierReleaseKey(), root, path)) {
    root = reg::Root::kLocalMachine;
    path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QS-Veilgate";
  }
  reg::Key key;
  return reg::OpenKey(reg::Key::RootKey(root), path, reg::Access::kRead, key) == reg::kSuccess;
}

const std::string& EarlierReleaseText() {
  return VGT(
      "Обнаружена установленная ранее версия системы QS-Veilgate (релиз 15). Для корректной работы "
      "новой версии систему необходимо установить заново (релиз 017).");
}

const std::string& EarlierReleaseCaption() {
  static const std::string caption = "Versions error!";
  return caption;
}

}  // namespace vg
