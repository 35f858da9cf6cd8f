#pragma once
// The notification-area icon: an icon, a tooltip (at most 62 characters), a popup menu, and
// click events. Activating it shows the icon; deactivating or destroying it removes it.
#include <QObject>
#include <QString>
#include <functional>

class QIcon;
class QMenu;
class QSystemTrayIcon;

namespace vg::gui {

class TTrayIcon : public QObject {
  Q_OBJECT
 public:
  static constexpr int kToolTipLength = 62;

  explicit TTrayIcon(QObject* parent = nullptr);
  ~TTrayIcon() override;

  void SetActive(bool active);
  bool Active() const;
  void SetIcon(const QIcon& icon);
  void SetToolTip(const QString& tip);
  QString ToolTip() const;
  void SetPopupMenu(QMenu* menu);

  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  std::function<void()> OnRightClick;

 private:
  QSystemTrayIcon* icon_;
};

}  // namespace vg::gui
