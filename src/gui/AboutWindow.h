#pragma once
// The about window of the main window TQSVeilgateAboutForm: product, version (its hint the file
// version), build label, a live memory-use display and the OK button. Without a tray it also
// carries the tray menu's commands, so the program stays reachable.
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace vg::gui {

class TAboutWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TAboutWindow(QWidget* parent = nullptr);

  void SetProduct(const QString& text);
  void SetVersionHint(const QString& text);
  void SetBuildLabel(const QString& text);
  // Shows or hides the tray menu's commands and the note why they are here.
  void SetMenuCommandsVisible(bool visible);
  bool MenuCommandsVisible() const;
  // Updates the memory-use display now (the timer does it every second while visible).
  void RefreshMemory();

  std::function<void()> OnOk;
  // Answers whether the window may really close; the handler hides it or keeps it.
  std::function<bool()> OnCloseQuery;
  std::function<void()> OnSetup;
  std::function<void()> OnUnload;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QLabel* product_;
  QLabel* version_;
  QLabel* build_;
  QLabel* memory_;
  QWidget* commands_;
  QTimer* memoryTimer_;
};

// The program's icon, drawn so that no image file has to travel with the program.
QIcon ProgramIcon();

}  // namespace vg::gui
