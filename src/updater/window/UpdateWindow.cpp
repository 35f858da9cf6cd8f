#include "updater/window/UpdateWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdlib>

#include "platform/CodePage.h"
#include "platform/SysUtils.h"

namespace vg {
namespace {

QString ToQt(const std::string& cp1251) { return QString::fromStdString(platform::Cp1251ToUtf8(cp1251)); }

// The form "fmMain"; it is the procedure's view.
class TfmMain : public QWidget, public IUpdateView {
 public:
  TfmMain(TUpdateOptions options, std::string installDir, std::string medium)
      : options_(std::move(options)), installDir_(std::move(installDir)), medium_(std::move(medium)) {
    setObjectName("fmMain");
    setWindowTitle(ToQt(VGT("Обновление клиентской части QS-Veilgate")));
    auto* layout = new QVBoxLayout(this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, kUpdateProgressMax);
    progress_->setValue(0);
    status_ = new QLabel(this);
    status_->setMinimumHeight(status_->fontMetrics().height() * 2);
    status_->setWordWrap(true);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    setFixedWidth(400);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.left() + (area.width() - 400) / 2, area.top() + area.height() / 3);
    }
    grabFile_ = std::getenv("VG_UPDATE_GRAB") ? std::getenv("VG_UPDATE_GRAB") : "";
    if (const char* at = std::getenv("VG_UPDATE_GRAB_AT")) grabAt_ = std::atoi(at);
    // A one-shot timer: the procedure runs once, 200 ms after the window shows.
    timer_.setSingleShot(true);
    timer_.setInterval(200);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { TimerTimer(); });
  }

  TUpdateResult Result() const { return result_; }
  int TunnelPid() const { return tunnelPid_; }

  void SetStatus(const std::string& text) override {
    status_->setText(ToQt(text));
    Repaint();
  }
  void SetProgress(int position) override {
    progress_->setValue(position);
    Repaint();
    if (!grabFile_.empty() && position == grabAt_) grab().save(QString::fromStdString(grabFile_));
  }
  void ShowMessage(const std::string& caption, const std::string& text, TUpdateMessageKind kind) override {
    QString body = ToQt(text);
    body.replace("\r\n", "\n");
    if (kind == TUpdateMessageKind::Error)
      QMessageBox::critical(this, ToQt(caption), body);
    else
      QMessageBox::warning(this, ToQt(caption), body);
  }
  std::optional<std::string> ChooseFolder(TFolderQuestion question, const std::string& title) override {
    const std::string& preset = question == TFolderQuestion::InstallDir ? installDir_ : medium_;
    if (!preset.empty()) return preset;
    const QString dir = QFileDialog::getExistingDirectory(this, ToQt(title), QString(), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QWidget::showEvent(event);
    if (!started_) timer_.start();
  }

 private:
  void TimerTimer() {
    timer_.stop();
    started_ = true;
    try {
      TUpdateProcedure procedure(*this, options_);
      result_ = procedure.Run();
      tunnelPid_ = procedure.StartedTunnelPid();
    } catch (const std::exception& e) {
      ShowMessage(VGT("Ошибка"), e.what(), TUpdateMessageKind::Error);
    }
    close();
  }
  void Repaint() {
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }

  TUpdateOptions options_;
  std::string installDir_, medium_;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer timer_;
  bool started_ = false;
  TUpdateResult result_ = TUpdateResult::NotUpdated;
  int tunnelPid_ = -1;
  std::string grabFile_;
  int grabAt_ = -1;
};

}  // namespace

TUpdateResult RunUpdateWindow(int& argc, char** argv, const TUpdateOptions& options, const std::string& installDir,
                              const std::string& medium, int& tunnelPid) {
  QApplication app(argc, argv);
  TfmMain form(options, installDir, medium);
  form.show();
  app.exec();
  tunnelPid = form.TunnelPid();
  return form.Result();
}

}  // namespace vg
