#include "dialogs/SettingsFlow.h"

#include <memory>

#include "platform/SysUtils.h"

namespace vg {
namespace {

struct TSaveOutcome {
  bool Saved = false;
  std::string Message;  // what to show; empty when all went well
};

// Assigns the edited copy to the live settings and saves them, holding the settings lock;
// when the file cannot be written the live settings get their old values back.
TSaveOutcome ApplyAndSave(TQSClientConfig& live, const TQSClientConfig& edited) {
  TConfigLock lock(live);
  const std::unique_ptr<TConfig> before = live.Clone();
  try {
    live.Assign(edited);
    if (live.Save()) return {true, {}};
    // The file was written; only some records could not be.
    std::string details;
    for (const TConfigNote& note : live.Notes())
      details += (details.empty() ? "" : "; ") + note.Section + ": " + note.Text;
    return {true, VGT("Настройки сохранены не полностью") + " (" + details + ")"};
  } catch (const std::exception& e) {
    live.Assign(*before);
    return {false, VGT("Не удалось сохранить настройки") + ": " + e.what()};
  }
}

}  // namespace

TSettingsFlowResult RunSettingsFlow(TAboutForm& form, ISettingsFlowView& view, TQSClientConfig& live, TRList& threads) {
  bool reload = true;
  while (view.RunDialog(live, reload)) {
    if (threads.Count() > 0 &&
        view.AskYesNo(VGT("Предупреждение"), VGT("В данный момент существуют активные соединения. Оборвать?")))
      threads.TerminateAll();
    form.StopListener();
    const TSaveOutcome outcome = ApplyAndSave(live, view.DialogSettings());
    form.StartListener();
    if (!outcome.Message.empty()) view.ShowError(outcome.Message);
    if (outcome.Saved) return TSettingsFlowResult::Applied;
    reload = false;
  }
  return TSettingsFlowResult::Cancelled;
}

}  // namespace vg
