#include "gui/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "gui/GuiText.h"
#include "platform/CodePage.h"

namespace vg::gui {
namespace {

struct TBoxWait {
  std::mutex Mutex;
  std::condition_variable Done;
  bool Finished = false;
};

std::mutex gMutex;
bool gClosed = false;
std::vector<std::shared_ptr<TBoxWait>> gWaiting;
std::vector<QPointer<QMessageBox>> gOpen;  // GUI thread only

bool OnGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void WriteStandardError(const std::string& caption, const std::string& text) {
  const std::string line = platform::Cp1251ToUtf8(caption) + ": " + platform::Cp1251ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

QMessageBox::Icon IconOf(platform::MessageBoxKind kind) {
  switch (kind) {
    case platform::MessageBoxKind::Error: return QMessageBox::Critical;
    case platform::MessageBoxKind::Warning: return QMessageBox::Warning;
    case platform::MessageBoxKind::Information: break;
  }
  return QMessageBox::Information;
}

QMessageBox* MakeBox(const std::string& caption, const std::string& text, platform::MessageBoxKind kind) {
  auto* box = new QMessageBox(IconOf(kind), FromCp1251(caption), FromCp1251(text), QMessageBox::Ok);
  box->setObjectName("MessageBox");
  box->setWindowFlag(Qt::WindowStaysOnTopHint);
  gOpen.erase(std::remove_if(gOpen.begin(), gOpen.end(), [](const auto& p) { return p.isNull(); }), gOpen.end());
  gOpen.emplace_back(box);
  return box;
}

bool Closed() {
  std::lock_guard<std::mutex> guard(gMutex);
  return gClosed;
}

void Present(const std::string& caption, const std::string& text, platform::MessageBoxKind kind) {
  WriteStandardError(caption, text);
  if (Closed() || !QCoreApplication::instance()) return;
  if (OnGuiThread()) {
    // A box of the GUI thread is modal; its own loop keeps the tray and hand-overs served.
    QMessageBox* box = MakeBox(caption, text, kind);
    box->exec();
    delete box;
    return;
  }
  auto wait = std::make_shared<TBoxWait>();
  {
    std::lock_guard<std::mutex> guard(gMutex);
    if (gClosed) return;
    gWaiting.push_back(wait);
  }
  auto finish = [wait] {
    std::lock_guard<std::mutex> guard(wait->Mutex);
    wait->Finished = true;
    wait->Done.notify_all();
  };
  QMetaObject::invokeMethod(
      qApp,
      [caption, text, kind, finish] {
        if (Closed()) {
          finish();
          return;
        }
        QMessageBox* box = MakeBox(caption, text, kind);
        QObject::connect(box, &QMessageBox::finished, box, [box, finish] {
          finish();
          box->deleteLater();
        });
        QObject::connect(box, &QObject::destroyed, [finish] { finish(); });
        box->show();
        box->raise();
        box->activateWindow();
      },
      Qt::QueuedConnection);
  {
    std::unique_lock<std::mutex> lock(wait->Mutex);
    wait->Done.wait(lock, [&] { return wait->Finished; });
  }
  std::lock_guard<std::mutex> guard(gMutex);
  gWaiting.erase(std::remove(gWaiting.begin(), gWaiting.end(), wait), gWaiting.end());
}

}  // namespace

void InstallWindowMessageBoxes() { platform::SetMessageBoxPresenter(Present); }

void RemoveWindowMessageBoxes() { platform::SetMessageBoxPresenter(nullptr); }

void CloseAllMessageBoxes() {
  std::vector<std::shared_ptr<TBoxWait>> waiting;
  {
    std::lock_guard<std::mutex> guard(gMutex);
    gClosed = true;
    waiting = gWaiting;
  }
  for (const auto& wait : waiting) {
    std::lock_guard<std::mutex> guard(wait->Mutex);
    wait->Finished = true;
    wait->Done.notify_all();
  }
  if (!OnGuiThread()) return;
  for (const QPointer<QMessageBox>& box : gOpen)
    if (box) box->done(QMessageBox::Ok);
  gOpen.clear();
}

void ReopenMessageBoxes() {
  std::lock_guard<std::mutex> guard(gMutex);
  gClosed = false;
}

int OpenMessageBoxCount() {
  int count = 0;
  for (const QPointer<QMessageBox>& box : gOpen)
    if (box && box->isVisible()) ++count;
  return count;
}

}  // namespace vg::gui
