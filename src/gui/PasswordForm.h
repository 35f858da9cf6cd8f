#pragma once
// The window that asks for the password of a secret key.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vg::gui {

// Object names: TfPassword, lPassword, edtPassword, btnOk, btnCancel. Stays on top, centred on
// the screen; every typed character shows as "X".
class TfPassword : public QDialog {
  Q_OBJECT
 public:
  explicit TfPassword(QWidget* parent = nullptr);
  ~TfPassword() override;

  QLineEdit* Edit() const { return edtPassword_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* lPassword_;
  QLineEdit* edtPassword_;
  QPushButton* btnOk_;
  QPushButton* btnCancel_;
};

}  // namespace vg::gui
