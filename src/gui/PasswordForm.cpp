#include "gui/PasswordForm.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>

#include "gui/GuiText.h"
#include "platform/SysUtils.h"

namespace vg::gui {
namespace {

// Password edits show every character as "X" instead of the style's dot.
class TMaskStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return 'X';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

// The window is 266 x 117 with a usual frame; the client area keeps the controls' margins.
TfPassword::TfPassword(QWidget* parent) : QDialog(parent) {
  setObjectName("TfPassword");
  setWindowTitle("QS-Veilgate");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  setModal(true);
  setFixedSize(258, 90);

  lPassword_ = new QLabel(FromCp1251(VGT("Пожалуйста, введите пароль секретного ключа")), this);
  lPassword_->setObjectName("lPassword");
  // The line must fit above the edit whatever the desktop's font: a smaller size rather than a cut text.
  QFont font = lPassword_->font();
  while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(lPassword_->text()) > 241)
    font.setPointSizeF(font.pointSizeF() - 0.5);
  lPassword_->setFont(font);
  lPassword_->setGeometry(8, 8, 241, 16);

  edtPassword_ = new QLineEdit(this);
  edtPassword_->setObjectName("edtPassword");
  edtPassword_->setGeometry(8, 24, 241, 21);
  edtPassword_->setEchoMode(QLineEdit::Password);
  auto* mask = new TMaskStyle;
  mask->setParent(edtPassword_);
  edtPassword_->setStyle(mask);

  btnOk_ = new QPushButton("Ok", this);
  btnOk_->setObjectName("btnOk");
  btnOk_->setGeometry(80, 56, 81, 25);
  btnOk_->setDefault(true);
  connect(btnOk_, &QPushButton::clicked, this, &QDialog::accept);

  btnCancel_ = new QPushButton("Cancel", this);
  btnCancel_->setObjectName("btnCancel");
  btnCancel_->setGeometry(168, 56, 81, 25);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

TfPassword::~TfPassword() = default;

void TfPassword::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  // The engine asked from the background: come to the front and take the typing.
  raise();
  activateWindow();
  edtPassword_->setFocus(Qt::ActiveWindowFocusReason);
}

}  // namespace vg::gui
