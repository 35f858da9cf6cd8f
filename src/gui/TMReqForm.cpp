#include "gui/TMReqForm.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <algorithm>

#include "gui/GuiText.h"
#include "platform/SysUtils.h"

namespace vg::gui {

// The window is 256 x 133 with a usual frame; the label fills the client area.
TfmTMReq::TfmTMReq(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("TfmTMReq");
  setWindowTitle("QS-Veilgate");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
  setFixedSize(248, 106);
  auto* label = new QLabel(FromCp1251(VGT("Используйте touch-memory")), this);
  label->setObjectName("lMessage");
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(rect());
}

void TfmTMReq::closeEvent(QCloseEvent* event) {
  if (MayClose) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TfmTMReq::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Above the middle of the screen, so that a password window (centred) leaves it visible.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center().x() - width() / 2, std::max(area.top(), area.center().y() - 60 - height() - 40));
  }
  raise();
}

}  // namespace vg::gui
