#include "platform/MessageBox.h"

#include <mutex>

#include "platform/SystemMessageBox.h"

namespace vg::platform {
namespace {
std::mutex& Mutex() {
  static std::mutex m;
  return m;
}
MessageBoxPresenter& Presenter() {
  static MessageBoxPresenter p;
  return p;
}
std::string& Title() {
  static std::string t = "QS-Veilgate";
  return t;
}
}  // namespace

void ShowMessageBox(const std::string& caption, const std::string& text, MessageBoxKind kind) {
  MessageBoxPresenter presenter;
  {
    std::lock_guard<std::mutex> lock(Mutex());
    presenter = Presenter();
  }
  if (presenter) {
    presenter(caption, text, kind);
    return;
  }
  ShowSystemMessageBox(caption, text, kind);
}

void SetMessageBoxPresenter(MessageBoxPresenter presenter) {
  std::lock_guard<std::mutex> lock(Mutex());
  Presenter() = std::move(presenter);
}

std::string ApplicationTitle() {
  std::lock_guard<std::mutex> lock(Mutex());
  return Title();
}

void SetApplicationTitle(const std::string& title) {
  std::lock_guard<std::mutex> lock(Mutex());
  Title() = title;
}

}  // namespace vg::platform
