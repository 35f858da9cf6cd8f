#pragma once
// The keys test window: the report file, the choice of the extended test, start, break and
// exit, a status bar with the current step and a progress bar, and the error count once there
// is one. The run itself is TKeysTest; this window is its view.
#include <QDialog>

#include "protection/KeysTest.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace vg::gui {

class TKeysTestDlg : public QDialog, public IKeysTestView {
  Q_OBJECT
 public:
  // params stays owned by the caller and must outlive the window.
  TKeysTestDlg(const TCryptoParams& params, QWidget* parent = nullptr);

  // What the run shows.
  void Status(const std::string& text, int position) override;
  void StatusStep(const std::string& text) override;
  void ProgressRange(int maximum) override;
  void ErrorCount(int count) override;
  void Busy(bool busy) override;
  void Message(const std::string& text) override;
  void BreakEnabled(bool enabled) override;
  bool BreakRequested() override { return breakRequested_; }
  void ProcessEvents() override;

  // Opens the finished report; by default the desktop's viewer for text files.
  std::function<void(const QString& path)> ShowReport;
  // The pause before the report is shown and the window closes (tests make it instant).
  std::function<void()> EndingPause;

  // The error count of the last run.
  int LastErrorCount() const { return lastErrors_; }

 private:
  void OK_BitBtnClick();

  const TCryptoParams& params_;
  QWidget* reportPanel_;
  QLineEdit* reportEdit_;
  QCheckBox* showReport_;
  QCheckBox* extended_;
  QPushButton* okButton_;
  QPushButton* breakButton_;
  QPushButton* cancelButton_;
  QWidget* errorPanel_;
  QLineEdit* errorCount_;
  QLabel* statusText_;
  QProgressBar* progress_;
  bool breakRequested_ = false;
  int lastErrors_ = 0;
};

}  // namespace vg::gui
