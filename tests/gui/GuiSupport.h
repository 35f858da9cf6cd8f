#pragma once
// Helpers for tests of the windows: waiting while the GUI thread serves its events, finding
// top-level windows by object name, typing (Cyrillic too) and answering message boxes.
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QWidget>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace guitest {

// Serves events until done() holds or the limit passes; the last answer of done().
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// The visible top-level window of that class and object name, or null.
template <class T>
T* VisibleWindow(const char* objectName) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->objectName() == objectName)
      if (T* t = qobject_cast<T*>(w)) return t;
  return nullptr;
}

inline int VisibleCount(const char* objectName) {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->objectName() == objectName) ++n;
  return n;
}

// Types text into the widget as key presses (QTest's own typing handles Latin-1 only).
inline void Type(QWidget* target, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(target, &press);
  }
}

// Steps run in order from a timer, so they also run inside the loops of modal windows (a
// test waiting with WaitUntil is held in such a loop until the window closes). A step returns
// true when it is done; the next one then runs.
class Script : public QObject {
 public:
  Script() { timer_ = startTimer(20); }
  ~Script() override { killTimer(timer_); }
  Script& Then(std::function<bool()> step) {
    steps_.push_back(std::move(step));
    return *this;
  }
  bool Done() const { return next_ == steps_.size(); }

 protected:
  void timerEvent(QTimerEvent*) override {
    while (next_ < steps_.size() && steps_[next_]()) ++next_;
  }

 private:
  int timer_;
  std::vector<std::function<bool()>> steps_;
  size_t next_ = 0;
};

template <class F>
bool Ready(const F& future) {
  return future.valid() && future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

struct ShownBox {
  std::string caption;  // UTF-8
  std::string text;     // UTF-8
  QMessageBox::Icon icon;
};

// Message boxes seen and dismissed with OK while the test waits (boxes run their own loops, so
// the answering happens from a timer).
class BoxAnswerer : public QObject {
 public:
  BoxAnswerer() { timer_ = startTimer(20); }
  ~BoxAnswerer() override { killTimer(timer_); }
  std::vector<ShownBox> Seen;
  bool Answer = true;

 protected:
  void timerEvent(QTimerEvent*) override {
    if (!Answer) return;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible()) continue;
      Seen.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon()});
      box->done(QMessageBox::Ok);
    }
  }

 private:
  int timer_;
};

}  // namespace guitest
