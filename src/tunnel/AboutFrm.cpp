#include "tunnel/AboutFrm.h"

#include <chrono>

#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/ProgramInfo.h"
#include "platform/SysUtils.h"
#include "settings/Cfg_Clnt.h"
#include "tunnel/fThrList.h"

namespace vg {

namespace {
std::string MessageOf(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
  return e.what();
}
}  // namespace

TAboutForm::TAboutForm(TAboutFormView* view) : view_(view ? view : &defaultView_) {
  serverSock_.SetOnGetThread([this](platform::ClientSocket&& accepted) { MServerSockGetThread(std::move(accepted)); });
  serverSock_.SetOnAcceptFailure([this](int code) {
    LogListenerEvent(Format(VGT("Соединение не принято: %s (%d)"), {platform::NetErrorText(code), code}));
  });
}

TAboutForm::~TAboutForm() {
  // The derived window has gone already; only the listener itself is stopped here.
  if (listening_) {
    serverSock_.Close();
    listening_ = false;
  }
  logManager_.reset();
}

void TAboutForm::FormCreate() {
  logManager_ = std::make_unique<TLogManager>();
  if (LoadSettings()) StartListener();
  if (!HasView()) return;
  const platform::FileVersion version = platform::ReadFileVersion(platform::ProgramPath());
  view_->SetVersionHint(Format("%d.%d.%d.%d", {version.parts[0], version.parts[1], version.parts[2], version.parts[3]}));
}

bool TAboutForm::LoadSettings() {
  TQSClientConfig& config = Settings();
  TConfigLock lock(config);
  return LoadShowingErrors(config);
}

bool TAboutForm::LoadShowingErrors(TQSClientConfig& config) {
  const std::string& failure = VGT("Ошибка при чтении конфигурации");
  try {
    if (config.Load()) return true;
    // Which records were dropped, and why, tells the user what to mend.
    std::string details;
    for (const TConfigNote& note : config.Notes())
      details += (details.empty() ? "" : "; ") + note.Section + ": " + note.Text;
    ShowError(details.empty() ? failure : failure + " (" + details + ")");
  } catch (const std::exception& e) {
    // The text of what is missing helps the user to mend the file.
    ShowError(failure + " (" + MessageOf(e) + ")");
  }
  return false;
}

bool TAboutForm::ReloadSettings() {
  TQSClientConfig& settings = Settings();
  std::unique_ptr<TConfig> fresh;
  {
    TConfigLock lock(settings);
    fresh = settings.CreateEmpty();
  }
  // Loaded aside first: settings that fail to load leave the running ones in place.
  if (!LoadShowingErrors(static_cast<TQSClientConfig&>(*fresh))) return false;
  StopListener();
  {
    TConfigLock lock(settings);
    settings.Assign(*fresh);
  }
  StartListener();
  return listening_;
}

void TAboutForm::StartListener() {
  if (listening_) return;
  std::string logDirectory;
  int32_t interval = 0;
  int32_t port = 0;
  {
    TQSClientConfig& config = Settings();
    TConfigLock lock(config);
    interval = config.LogInterval();
    logDirectory = config.LogDirectoryPath();
    port = config.SelfTcpPort();
  }
  PurgeLogFiles(logDirectory, interval, platform::Clock::System().Local());
  serverSock_.SetPort(port);
  try {
    serverSock_.Open();
    listening_ = true;
  } catch (const std::exception& e) {
    ShowError(MessageOf(e));
  }
}

void TAboutForm::StopListener() {
  if (!listening_) return;
  try {
    serverSock_.Close();
  } catch (const std::exception& e) {
    ShowError(MessageOf(e));
  }
  listening_ = false;
}

void TAboutForm::ShowError(const std::string& message) const {
  platform::ShowMessageBox(platform::ApplicationTitle(), Format("%s : %s", {Caption(), message}),
                           platform::MessageBoxKind::Error);
}

void TAboutForm::LogListenerEvent(const std::string& text) {
  const int64_t now =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
  int64_t last = lastListenerEventMs_.load();
  if (last != INT64_MIN && now - last < 1000) return;
  if (!lastListenerEventMs_.compare_exchange_strong(last, now)) return;
  uint32_t flags = 0;
  {
    TQSClientConfig& config = Settings();
    TConfigLock lock(config);
    flags = config.LogFlags();
  }
  if (!(flags & logflags::kService)) return;
  // Out of descriptors, the log file could not be opened without the one kept in reserve.
  std::lock_guard<std::mutex> lock(listenerEventMutex_);
  spareDescriptor_.Release();
  const bool written = TLogManager().WriteService(text);
  spareDescriptor_.Restore();
  if (!written) TLogManager::ShowLogError(text);
}

void TAboutForm::SetupItemClick() { view_->RunSetupDialog(); }

void TAboutForm::AboutItemClick() { view_->ShowAboutWindow(); }

void TAboutForm::CancelButtonClick() { view_->HideAboutWindow(); }

bool TAboutForm::FormCloseQuery() {
  view_->HideAboutWindow();
  return false;
}

void TAboutForm::UnloadItemClick() {
  ThreadList().TerminateAll();
  if (onTerminate_) onTerminate_();
}

}  // namespace vg
