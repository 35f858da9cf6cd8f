#include "gui/KeysTestDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/GuiText.h"
#include "platform/SysUtils.h"
#include "settings/Cfg_Clnt.h"

namespace vg::gui {

TKeysTestDlg::TKeysTestDlg(const TCryptoParams& params, QWidget* parent) : QDialog(parent), params_(params) {
  setObjectName("TKeysTestDlg");
  setWindowTitle(FromCp1251(VGT("Тест ключей")));
  // A fixed frame without system buttons: the window closes through its own buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(621, 172);

  reportPanel_ = new QWidget(this);
  reportPanel_->setObjectName("ReportPanel");
  auto* group = new QGroupBox(FromCp1251(VGT(" Файл отчета ")), reportPanel_);
  reportEdit_ = new QLineEdit(group);
  reportEdit_->setObjectName("KeysTestReportEdit");
  showReport_ = new QCheckBox(FromCp1251(VGT("Показать отчет при завершении")), group);
  showReport_->setObjectName("ShowKeysTestReportCheckBox");
  showReport_->setChecked(true);
  extended_ = new QCheckBox(FromCp1251(VGT("Расширенный тест")), group);
  extended_->setObjectName("KeysTestExtReportCheckBox");
  auto* checks = new QHBoxLayout;
  checks->addWidget(showReport_);
  checks->addWidget(extended_);
  checks->addStretch(1);
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(reportEdit_);
  groupLayout->addLayout(checks);
  auto* reportLayout = new QVBoxLayout(reportPanel_);
  reportLayout->setContentsMargins(0, 0, 0, 0);
  reportLayout->addWidget(group);

  auto* buttonPanel = new QWidget(this);
  buttonPanel->setObjectName("ButtonPanel");
  okButton_ = new QPushButton(FromCp1251(VGT("Запустить тест")), buttonPanel);
  okButton_->setObjectName("OK_BitBtn");
  okButton_->setDefault(true);
  breakButton_ = new QPushButton(FromCp1251(VGT("Прервать")), buttonPanel);
  breakButton_->setObjectName("BreakTestBitBtn");
  breakButton_->setEnabled(false);
  cancelButton_ = new QPushButton(FromCp1251(VGT("Выход")), buttonPanel);
  cancelButton_->setObjectName("CancelBitBtn");
  auto* buttons = new QVBoxLayout(buttonPanel);
  buttons->setContentsMargins(0, 6, 0, 0);
  buttons->addWidget(okButton_);
  buttons->addWidget(breakButton_);
  buttons->addWidget(cancelButton_);
  buttons->addStretch(1);

  errorPanel_ = new QWidget(this);
  errorPanel_->setObjectName("ErrorPanel");
  auto* errLabel = new QLabel(FromCp1251(VGT("Число ошибок :")), errorPanel_);
  errLabel->setObjectName("ErrLabel");
  errorCount_ = new QLineEdit(errorPanel_);
  errorCount_->setObjectName("ErrCntEdit");
  errorCount_->setReadOnly(true);
  errorCount_->setMaximumWidth(80);
  auto* errors = new QHBoxLayout(errorPanel_);
  errors->setContentsMargins(0, 0, 0, 0);
  errors->addWidget(errLabel);
  errors->addWidget(errorCount_);
  errors->addStretch(1);
  errorPanel_->hide();

  auto* statusBar = new QStatusBar(this);
  statusBar->setObjectName("StatusBar1");
  statusBar->setSizeGripEnabled(false);
  statusText_ = new QLabel(statusBar);
  statusText_->setObjectName("StatusText");
  statusText_->setStyleSheet("color: blue");
  progress_ = new QProgressBar(statusBar);
  progress_->setObjectName("ProgressBar1");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  statusBar->addWidget(statusText_, 1);
  statusBar->addPermanentWidget(progress_, 1);

  auto* left = new QVBoxLayout;
  left->addWidget(reportPanel_);
  left->addWidget(errorPanel_);
  left->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addLayout(left, 1);
  top->addWidget(buttonPanel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 0);
  layout->addLayout(top, 1);
  layout->addWidget(statusBar);

  connect(okButton_, &QPushButton::clicked, this, &TKeysTestDlg::OK_BitBtnClick);
  connect(breakButton_, &QPushButton::clicked, this, [this] { breakRequested_ = true; });
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

  std::string logDirectory;
  {
    TConfigLock lock(Settings());
    logDirectory = Settings().LogDirectoryPath();
  }
  reportEdit_->setText(FromCp1251(TKeysTest::DefaultReportPath(logDirectory)));
  ShowReport = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
  EndingPause = [] { QThread::msleep(1000); };

  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TKeysTestDlg::OK_BitBtnClick() {
  breakRequested_ = false;
  reportPanel_->setEnabled(false);
  okButton_->setEnabled(false);
  cancelButton_->setEnabled(false);
  const QString path = reportEdit_->text();
  {
    TKeysTest test(*this);
    test.SetEndingPause(EndingPause);
    lastErrors_ = test.Run(params_, ToCp1251(path), extended_->isChecked());
  }
  if (showReport_->isChecked() && ShowReport) ShowReport(path);
  accept();
}

void TKeysTestDlg::Status(const std::string& text, int position) {
  progress_->setValue(position);
  statusText_->setText(FromCp1251(text));
}

void TKeysTestDlg::StatusStep(const std::string& text) {
  progress_->setValue(progress_->value() + 1);
  statusText_->setText(FromCp1251(text));
}

void TKeysTestDlg::ProgressRange(int maximum) {
  progress_->setRange(0, std::max(1, maximum));
  progress_->setValue(0);
}

void TKeysTestDlg::ErrorCount(int count) {
  if (count <= 0) return;
  errorCount_->setText(QString::number(count));
  errorPanel_->show();
}

void TKeysTestDlg::Busy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void TKeysTestDlg::Message(const std::string& text) { QMessageBox::warning(this, windowTitle(), FromCp1251(text)); }

void TKeysTestDlg::BreakEnabled(bool enabled) { breakButton_->setEnabled(enabled); }

void TKeysTestDlg::ProcessEvents() { QApplication::processEvents(); }

}  // namespace vg::gui
