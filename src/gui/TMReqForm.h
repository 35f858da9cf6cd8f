#pragma once
// The notice shown while an engine waits for the user's key medium.
#include <QWidget>

class QLabel;

namespace vg::gui {

// Object names: TfmTMReq and its label lMessage. No buttons; the user cannot close it while
// MayClose is false.
class TfmTMReq : public QWidget {
  Q_OBJECT
 public:
  explicit TfmTMReq(QWidget* parent = nullptr);

  bool MayClose = false;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
};

}  // namespace vg::gui
