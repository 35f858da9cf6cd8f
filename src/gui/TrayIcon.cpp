#include "gui/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace vg::gui {

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), icon_(new QSystemTrayIcon(this)) {
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
      case QSystemTrayIcon::Trigger:
        if (OnClick) OnClick();
        break;
      case QSystemTrayIcon::DoubleClick:
        if (OnDblClick) OnDblClick();
        break;
      case QSystemTrayIcon::Context:
        // The menu itself is shown by the tray host.
        if (OnRightClick) OnRightClick();
        break;
      default: break;
    }
  });
}

TTrayIcon::~TTrayIcon() { icon_->hide(); }

void TTrayIcon::SetActive(bool active) { icon_->setVisible(active); }

bool TTrayIcon::Active() const { return icon_->isVisible(); }

void TTrayIcon::SetIcon(const QIcon& icon) { icon_->setIcon(icon); }

void TTrayIcon::SetToolTip(const QString& tip) { icon_->setToolTip(tip.left(kToolTipLength)); }

QString TTrayIcon::ToolTip() const { return icon_->toolTip(); }

void TTrayIcon::SetPopupMenu(QMenu* menu) { icon_->setContextMenu(menu); }

}  // namespace vg::gui
