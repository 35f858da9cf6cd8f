#pragma once
// The tunnel setup dialog: a view over TSetupRules. TQSVeilgateSetupForm has the pages
// "Настройки" and "Защищаемые сервера"; TQSClientSetupForm, the dialog the tray shows, adds
// "Ограничение доступа". The dialog edits the rules' settings copy only.
#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "dialogs/SetupRules.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;

namespace vg::gui {

class TWebServerForm;

// A message box of the dialogs (object name "MessageBox"), modal over parent.
enum class TBoxIcon { None, Warning, Error };
void ShowDialogBox(QWidget* parent, const std::string& text, TBoxIcon icon = TBoxIcon::None);
// Runs a handler of a dialog's control; an error it raises is shown in a box over the dialog
// rather than leaving the Qt handler.
void Guarded(QWidget* dialog, const std::function<void()>& handler);
// Brings the control's page (and every enclosing page) to the front and focuses it.
void FocusControl(QWidget* dialog, const std::string& objectName);

class TQSVeilgateSetupForm : public QDialog {
  Q_OBJECT
 public:
  explicit TQSVeilgateSetupForm(QWidget* parent = nullptr);
  ~TQSVeilgateSetupForm() override;

  // The first call clones the live settings, later calls assign them to the copy.
  void SetSettings(TQSConfig& live) { rules_->SetSettings(live); }
  TSetupRules& Rules() { return *rules_; }

  // Controls from the copy, with the enabling rules applied.
  void LoadControls();
  // Validates and writes back; false (box shown, control focused) on a bad value.
  bool SaveControls();

  // The directory chooser ("Обзор"); tests put their own in.
  std::function<QString(const QString& prompt, const QString& start)> ChooseDirectory;

 protected:
  TQSVeilgateSetupForm(std::unique_ptr<TSetupRules> rules, QWidget* parent);
  virtual TWebServerForm* CreateServerDialog(const std::string& name, const std::string& engine);
  virtual void ReadControls(TSetupControls& controls);
  virtual void WriteControls(const TSetupControls& controls);
  virtual void ApplyEnabling();
  void showEvent(QShowEvent* event) override;
  QTabWidget* Pages() const { return pages_; }

 private:
  void Build();
  void OkButtonClick();
  void FillServerGrid();
  void OpenServerDialog(const std::string& name, const std::string& engine);
  TServerRow CurrentServerRow() const;

  std::unique_ptr<TSetupRules> rules_;
  QTabWidget* pages_ = nullptr;
  QLineEdit* selfPort_ = nullptr;
  QCheckBox* proxyEnabled_ = nullptr;
  QCheckBox* bypass_ = nullptr;
  QLabel* proxyHostLabel_ = nullptr;
  QLineEdit* proxyHost_ = nullptr;
  QLabel* proxyPortLabel_ = nullptr;
  QLineEdit* proxyPort_ = nullptr;
  QCheckBox* orpc_ = nullptr;
  QSpinBox* maxLength_ = nullptr;
  QLineEdit* logDir_ = nullptr;
  QLineEdit* logDays_ = nullptr;
  QTabWidget* logPages_ = nullptr;
  QWidget* outPage_ = nullptr;
  QWidget* inPage_ = nullptr;
  QCheckBox* logOut_ = nullptr;
  QCheckBox* logIn_ = nullptr;
  QCheckBox* logErr_ = nullptr;
  QRadioButton* outModes_[3] = {};
  QRadioButton* inModes_[3] = {};
  QCheckBox* trace_ = nullptr;
  QTableWidget* servers_ = nullptr;
};

class TQSClientSetupForm : public TQSVeilgateSetupForm {
  Q_OBJECT
 public:
  explicit TQSClientSetupForm(QWidget* parent = nullptr);
  TClientSetupRules& ClientRules() { return static_cast<TClientSetupRules&>(Rules()); }

  // Name resolution for "Добавить" and the proxy check; tests put their own in.
  void SetResolver(THostResolver resolve);

 protected:
  TWebServerForm* CreateServerDialog(const std::string& name, const std::string& engine) override;
  void ReadControls(TSetupControls& controls) override;
  void WriteControls(const TSetupControls& controls) override;
  void ApplyEnabling() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AddHostClick();
  void DeleteHostClick();
  std::vector<std::string> HostLines() const;

  THostResolver resolve_;
  QRadioButton* access_[3] = {};
  QLabel* hostsLabel_ = nullptr;
  QListWidget* hosts_ = nullptr;
  QLabel* addHostLabel_ = nullptr;
  QLineEdit* addHost_ = nullptr;
  QPushButton* addHostButton_ = nullptr;
  QPushButton* deleteHostButton_ = nullptr;
  QPushButton* okButton_ = nullptr;
};

}  // namespace vg::gui
