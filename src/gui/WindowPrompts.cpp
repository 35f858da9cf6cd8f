#include "gui/WindowPrompts.h"

#include <QApplication>
#include <QLineEdit>
#include <algorithm>

#include "gui/GuiText.h"

namespace vg::gui {

TWindowPromptService::TWindowPromptService() = default;

TWindowPromptService::~TWindowPromptService() = default;

bool TWindowPromptService::AskPassword(std::string& password) {
  if (!password_) password_ = std::make_unique<TfPassword>();
  password_->Edit()->clear();
  const bool entered = password_->exec() == QDialog::Accepted;
  if (entered) password = ToCp1251(password_->Edit()->text());
  // The dialog is kept for the next request; the typed text is not.
  password_->Edit()->clear();
  return entered;
}

void TWindowPromptService::ShowKeyMediumPrompt() {
  if (keyMedium_) return;
  keyMedium_ = std::make_unique<TfmTMReq>();
  keyMedium_->MayClose = false;
  keyMedium_->show();
}

void TWindowPromptService::HideKeyMediumPrompt() {
  if (!keyMedium_) return;
  keyMedium_->MayClose = true;
  keyMedium_->close();
  keyMedium_.reset();
}

void TWindowPromptService::CloseAll() {
  if (password_ && password_->isVisible()) password_->reject();
  HideKeyMediumPrompt();
}

std::shared_ptr<TWindowPromptService> InstallWindowPrompts() {
  auto service = std::make_shared<TWindowPromptService>();
  QObject* app = QCoreApplication::instance();
  InstallPromptService(service, [app] {
    QMetaObject::invokeMethod(
        app, [] { ServePromptRequests(); }, Qt::QueuedConnection);
  });
  return service;
}

}  // namespace vg::gui
