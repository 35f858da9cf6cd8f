#pragma once
// The protected server dialog "Настройки защищаемого сервера": a view over TWebServerRules.
// TWebServerForm is the general dialog; TWebServerClientFrom, which the client setup dialog
// opens, adds the reserve channel and hides the certificates page.
#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "dialogs/ServerRules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;
class QTableWidget;
class QFormLayout;

namespace vg::gui {

class TWebServerForm : public QDialog {
  Q_OBJECT
 public:
  // copy: the setup dialog's settings copy; name and engine: the grid row (empty for a new server).
  TWebServerForm(TQSConfig& copy, const std::string& name, const std::string& engine, QWidget* parent = nullptr);
  ~TWebServerForm() override;

  TWebServerRules& Rules() { return *rules_; }
  // Cancel: a fresh record is dropped.
  void reject() override;

  // The directory chooser ("Обзор"); tests put their own in.
  std::function<QString(const QString& prompt, const QString& start)> ChooseDirectory;
  // Runs the keys test with the parameters; by default its window, modally.
  std::function<void(const TCryptoParams& params)> RunKeysTest;

 protected:
  TWebServerForm(std::unique_ptr<TWebServerRules> rules, QWidget* parent);
  virtual void ReadControls(TServerControls& controls);
  virtual void WriteControls(const TServerControls& controls);
  void showEvent(QShowEvent* event) override;
  QTabWidget* Pages() const { return pages_; }
  QFormLayout* ConnectionForm() const { return connectionForm_; }
  QWidget* CertificatesPage() const { return certPage_; }

 private:
  void Build();
  void FormShow();
  void OkButtonClick();
  void FillParamGrid();
  void UpdateMarks();
  void RefreshDerived();
  void EngineTypeChanged(const QString& type);
  void KeysTestClick();

  std::unique_ptr<TWebServerRules> rules_;
  bool shown_ = false;
  bool hasRecord_ = false;
  bool filling_ = false;
  QTabWidget* pages_ = nullptr;
  QFormLayout* connectionForm_ = nullptr;
  QLineEdit* name_ = nullptr;
  QLineEdit* address_ = nullptr;
  QLineEdit* port_ = nullptr;
  QComboBox* compress_ = nullptr;
  QComboBox* engine_ = nullptr;
  QTableWidget* params_ = nullptr;
  QCheckBox* clearBuffer_ = nullptr;
  QWidget* certPage_ = nullptr;
  QLineEdit* certDir_ = nullptr;
  QCheckBox* include_ = nullptr;
  QCheckBox* withdraw_ = nullptr;
  QLabel* derived_[3] = {};
};

class TWebServerClientFrom : public TWebServerForm {
  Q_OBJECT
 public:
  TWebServerClientFrom(TQSConfig& copy, const std::string& name, const std::string& engine, QWidget* parent = nullptr);

 protected:
  void ReadControls(TServerControls& controls) override;
  void WriteControls(const TServerControls& controls) override;
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* reserveAddress_ = nullptr;
  QLineEdit* reservePort_ = nullptr;
};

}  // namespace vg::gui
