#include "gui/websfrm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/GuiText.h"
#include "gui/KeysTestDlg.h"
#include "gui/SetupFrm.h"

namespace vg::gui {
namespace {

QString T(const std::string& text) { return FromCp1251(text); }

}  // namespace

TWebServerForm::TWebServerForm(TQSConfig& copy, const std::string& name, const std::string& engine, QWidget* parent)
    : TWebServerForm(std::make_unique<TWebServerRules>(copy, name, engine), parent) {}

TWebServerForm::TWebServerForm(std::unique_ptr<TWebServerRules> rules, QWidget* parent)
    : QDialog(parent), rules_(std::move(rules)) {
  setObjectName("TWebServerForm");
  setWindowTitle(T(VGT("Настройки защищаемого сервера")));
  setMinimumSize(590, 390);
  ChooseDirectory = [this](const QString& prompt, const QString& start) {
    return QFileDialog::getExistingDirectory(this, prompt, start);
  };
  RunKeysTest = [this](const TCryptoParams& params) {
    TKeysTestDlg dialog(params, this);
    dialog.exec();
  };
  Build();
}

TWebServerForm::~TWebServerForm() = default;

void TWebServerForm::Build() {
  pages_ = Named(new QTabWidget(this), "PageControl");

  auto* connection = Named(new QWidget, "tsConnection");
  pages_->addTab(connection, T(VGT("Соединение")));
  name_ = Named(new QLineEdit, "WebLocationEdit");
  address_ = Named(new QLineEdit, "VeilgateAddressEdit");
  port_ = Named(new QLineEdit, "VeilgatePortEdit");
  port_->setMaxLength(10);
  port_->setMaximumWidth(100);
  compress_ = Named(new QComboBox, "CompressMethod");
  for (const std::string& item : TWebServerRules::CompressNames()) compress_->addItem(T(item));
  auto* form = connectionForm_ = new QFormLayout(connection);
  form->addRow(Named(new QLabel(T(VGT("Имя сервера"))), "WebLocationLabel"), name_);
  form->addRow(Named(new QLabel(T(VGT("Адрес перенаправления"))), "VeilgateAddressLabel"), address_);
  form->addRow(Named(new QLabel(T(VGT("Порт перенаправления"))), "VeilgatePortLabel"), port_);
  form->addRow(Named(new QLabel(T(VGT("Степень сжатия данных"))), "CompressMethodLabel"), compress_);

  auto* crypto = Named(new QWidget, "tsCrypto");
  pages_->addTab(crypto, T(VGT("Криптография")));
  engine_ = Named(new QComboBox, "CryptoEngineTypeEdit");
  for (const std::string& type : TWebServerRules::EngineTypes()) engine_->addItem(T(type));
  engine_->setCurrentIndex(-1);
  params_ = Named(new QTableWidget(0, 3), "CryptoParametersGrid");
  params_->setHorizontalHeaderLabels({"", T(VGT("Имя")), T(VGT("Значение"))});
  params_->verticalHeader()->hide();
  params_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
  params_->setColumnWidth(0, 20);
  params_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  params_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  params_->setSelectionMode(QAbstractItemView::SingleSelection);
  params_->setEditTriggers(QAbstractItemView::AllEditTriggers);
  auto* keysTest = Named(new QPushButton(T(VGT("Тест ключей"))), "KeysTestButton");
  keysTest->setAutoDefault(false);
  clearBuffer_ = Named(new QCheckBox(T(VGT("Очистить буфер"))), "ClearBufferCheckBox");
  auto* typeRow = new QHBoxLayout;
  typeRow->addWidget(Named(new QLabel(T(VGT("Тип криптографии"))), "CryptoEngineTypeLabel"));
  typeRow->addWidget(engine_, 1);
  auto* cryptoButtons = new QHBoxLayout;
  cryptoButtons->addWidget(clearBuffer_);
  cryptoButtons->addStretch(1);
  cryptoButtons->addWidget(keysTest);
  auto* cryptoLayout = new QVBoxLayout(crypto);
  cryptoLayout->addLayout(typeRow);
  cryptoLayout->addWidget(params_, 1);
  cryptoLayout->addLayout(cryptoButtons);

  certPage_ = Named(new QWidget, "tsCertificates");
  pages_->addTab(certPage_, T(VGT("Сертификаты")));
  certDir_ = Named(new QLineEdit, "ScanCertRootPathEdit");
  auto* browse = Named(new QPushButton(T(VGT("Обзор"))), "ScanCertBrowseButton");
  browse->setAutoDefault(false);
  include_ = Named(new QCheckBox(T(VGT("Автоматическое включение сертификатов"))), "SertScanIncludeCheckBox");
  withdraw_ = Named(new QCheckBox(T(VGT("Автоматический отзыв сертификатов"))), "SertScanWithdrawCheckBox");
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(certDir_, 1);
  dirRow->addWidget(browse);
  auto* certLayout = new QVBoxLayout(certPage_);
  certLayout->addWidget(Named(new QLabel(T(VGT("Путь к каталогу файлов сертификатов"))), "ScanCertRootPathLabel"));
  certLayout->addLayout(dirRow);
  certLayout->addWidget(include_);
  certLayout->addWidget(withdraw_);
  const std::string fixed[] = {VGT("Для импорта сертификаты поместите в каталог:"),
                               VGT("Для импорта CRL поместите в каталог:"),
                               VGT("Ошибочные объекты будут сохранены в каталог:")};
  const char* names[] = {"IncludeDirLabel", "WithdrawDirLabel", "BadDirLabel"};
  for (int i = 0; i < 3; ++i) {
    certLayout->addWidget(new QLabel(T(fixed[i])));
    derived_[i] = Named(new QLabel, names[i]);
    derived_[i]->setStyleSheet("color: navy");
    derived_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    certLayout->addWidget(derived_[i]);
  }
  certLayout->addStretch(1);

  auto* ok = Named(new QPushButton(T(VGT("OK"))), "OkButton");
  ok->setDefault(true);
  auto* cancel = Named(new QPushButton(T(VGT("Отмена"))), "CancelButton");
  cancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_, 1);
  layout->addLayout(buttons);

  connect(certDir_, &QLineEdit::textChanged, this, [this] { RefreshDerived(); });
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir = ChooseDirectory(T(VGT("Укажите каталог для сканирования")), certDir_->text());
    if (!dir.isEmpty()) certDir_->setText(dir);
  });
  connect(engine_, &QComboBox::textActivated, this,
          [this](const QString& type) { Guarded(this, [&] { EngineTypeChanged(type); }); });
  connect(params_, &QTableWidget::cellChanged, this, [this](int, int column) {
    if (!filling_ && column == 2) UpdateMarks();
  });
  connect(keysTest, &QPushButton::clicked, this, [this] { Guarded(this, [this] { KeysTestClick(); }); });
  connect(ok, &QPushButton::clicked, this, [this] { Guarded(this, [this] { OkButtonClick(); }); });
  connect(cancel, &QPushButton::clicked, this, &TWebServerForm::reject);
  resize(590, 390);
}

void TWebServerForm::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    Guarded(this, [this] { FormShow(); });
  }
  QDialog::showEvent(event);
}

void TWebServerForm::FormShow() {
  hasRecord_ = rules_->Open();
  if (hasRecord_) {
    TServerControls controls;
    rules_->LoadControls(controls);
    WriteControls(controls);
  }
  FillParamGrid();
  RefreshDerived();
}

void TWebServerForm::ReadControls(TServerControls& c) {
  c.Name = ToCp1251(name_->text().trimmed());
  c.RedirectAddress = ToCp1251(address_->text().trimmed());
  c.RedirectPort = ToCp1251(port_->text().trimmed());
  c.Compress = ToCp1251(compress_->currentText());
  c.EngineType = ToCp1251(engine_->currentText());
  c.Params.clear();
  for (int row = 0; row < params_->rowCount(); ++row) {
    const QTableWidgetItem* name = params_->item(row, 1);
    const QTableWidgetItem* value = params_->item(row, 2);
    c.Params.emplace_back(name ? ToCp1251(name->text()) : std::string(),
                          value ? ToCp1251(value->text()) : std::string());
  }
  c.CertDirectory = ToCp1251(certDir_->text());
  c.Include = include_->isChecked();
  c.Withdraw = withdraw_->isChecked();
  c.ClearBuffer = clearBuffer_->isChecked();
}

void TWebServerForm::WriteControls(const TServerControls& c) {
  name_->setText(T(c.Name));
  address_->setText(T(c.RedirectAddress));
  port_->setText(T(c.RedirectPort));
  compress_->setCurrentText(T(c.Compress));
  // A type the library no longer offers still shows, so that the record is not changed unseen.
  if (!c.EngineType.empty() && engine_->findText(T(c.EngineType)) < 0) engine_->addItem(T(c.EngineType));
  engine_->setCurrentIndex(c.EngineType.empty() ? -1 : engine_->findText(T(c.EngineType)));
  certDir_->setText(T(c.CertDirectory));
  include_->setChecked(c.Include);
  withdraw_->setChecked(c.Withdraw);
  clearBuffer_->setChecked(false);
}

void TWebServerForm::FillParamGrid() {
  filling_ = true;
  const std::vector<TParamRow> rows = rules_->ParamRows();
  const bool hasParams = rules_->Link().ParamCount() > 0;
  params_->setRowCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    auto* mark = new QTableWidgetItem(T(rows[i].Mark));
    mark->setFlags(Qt::ItemIsEnabled);
    auto* name = new QTableWidgetItem(T(rows[i].Name));
    name->setFlags(Qt::ItemIsEnabled);
    auto* value = new QTableWidgetItem(T(rows[i].Value));
    // Only values can be selected and edited, and only when there are parameters.
    value->setFlags(hasParams ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable : Qt::ItemIsEnabled);
    params_->setItem(i, 0, mark);
    params_->setItem(i, 1, name);
    params_->setItem(i, 2, value);
  }
  if (hasParams) params_->setCurrentCell(0, 2);
  filling_ = false;
}

void TWebServerForm::UpdateMarks() {
  TServerControls controls;
  ReadControls(controls);
  const std::vector<std::string> marks = rules_->Marks(controls.Params);
  filling_ = true;
  for (int i = 0; i < static_cast<int>(marks.size()) && i < params_->rowCount(); ++i)
    if (QTableWidgetItem* item = params_->item(i, 0)) item->setText(T(marks[static_cast<size_t>(i)]));
  filling_ = false;
}

void TWebServerForm::RefreshDerived() {
  const std::array<std::string, 3> texts = TWebServerRules::DerivedDirectories(ToCp1251(certDir_->text()));
  for (int i = 0; i < 3; ++i) derived_[i]->setText(T(texts[static_cast<size_t>(i)]));
}

void TWebServerForm::EngineTypeChanged(const QString& type) {
  rules_->SelectEngineType(ToCp1251(type));
  FillParamGrid();
}

void TWebServerForm::KeysTestClick() {
  // The test runs with what the page shows: the chosen type and the values as edited.
  TServerControls controls;
  ReadControls(controls);
  rules_->SelectEngineType(controls.EngineType);
  for (const auto& [name, value] : controls.Params)
    if (!name.empty()) rules_->Link().SetParamByName(name, value);
  auto params = std::make_unique<TCryptoParams>();
  params->Assign(rules_->CurrentParams());
  if (RunKeysTest) RunKeysTest(*params);
}

void TWebServerForm::OkButtonClick() {
  if (!hasRecord_) {
    accept();
    return;
  }
  TServerControls controls;
  ReadControls(controls);
  const TServerSaveResult result = rules_->SaveControls(controls);
  if (result.Ok) {
    accept();
    return;
  }
  FocusControl(this, result.Control);
  ShowDialogBox(this, result.Message);
  FocusControl(this, result.Control);
}

void TWebServerForm::reject() {
  rules_->Cancel();
  QDialog::reject();
}

// ---- client variant ---------------------------------------------------------------------------

TWebServerClientFrom::TWebServerClientFrom(TQSConfig& copy, const std::string& name, const std::string& engine,
                                           QWidget* parent)
    : TWebServerForm(std::make_unique<TWebServerClientRules>(copy, name, engine), parent) {
  setObjectName("TWebServerClientFrom");
  setMinimumSize(590, 441);
  reserveAddress_ = Named(new QLineEdit, "ReservedAddressEdit");
  reservePort_ = Named(new QLineEdit, "ReservedPortEdit");
  reservePort_->setMaxLength(10);
  reservePort_->setMaximumWidth(100);
  ConnectionForm()->addRow(Named(new QLabel(T(VGT("Адрес резервного канала"))), "ReservedAddressLabel"),
                           reserveAddress_);
  ConnectionForm()->addRow(Named(new QLabel(T(VGT("Порт резервного канала"))), "ReservedPortLabel"), reservePort_);
  resize(590, 441);
}

void TWebServerClientFrom::ReadControls(TServerControls& c) {
  TWebServerForm::ReadControls(c);
  c.ReserveAddress = ToCp1251(reserveAddress_->text().trimmed());
  c.ReservePort = ToCp1251(reservePort_->text().trimmed());
}

void TWebServerClientFrom::WriteControls(const TServerControls& c) {
  TWebServerForm::WriteControls(c);
  reserveAddress_->setText(T(c.ReserveAddress));
  reservePort_->setText(T(c.ReservePort));
}

void TWebServerClientFrom::showEvent(QShowEvent* event) {
  TWebServerForm::showEvent(event);
  Pages()->setTabVisible(Pages()->indexOf(CertificatesPage()), false);
}

}  // namespace vg::gui
