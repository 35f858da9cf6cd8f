#include "gui/SetupFrm.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <climits>

#include "gui/GuiText.h"
#include "gui/websfrm.h"
#include "platform/MessageBox.h"

namespace vg::gui {
namespace {

QString T(const std::string& text) { return FromCp1251(text); }

// A disabled edit or list shows the button face, as the platform's own dialogs do.
void ButtonFaceWhenDisabled(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Disabled, QPalette::Base, palette.color(QPalette::Active, QPalette::Button));
  widget->setPalette(palette);
}

QWidget* Page(QTabWidget* tabs, const char* name, const std::string& caption) {
  auto* page = new QWidget;
  page->setObjectName(name);
  tabs->addTab(page, FromCp1251(caption));
  return page;
}

}  // namespace

void ShowDialogBox(QWidget* parent, const std::string& text, TBoxIcon icon) {
  const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Warning, QMessageBox::Critical};
  QMessageBox box(icons[static_cast<int>(icon)], FromCp1251(platform::ApplicationTitle()), FromCp1251(text),
                  QMessageBox::Ok, parent);
  box.setObjectName("MessageBox");
  box.exec();
}

void Guarded(QWidget* dialog, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowDialogBox(dialog, e.what(), TBoxIcon::Error);
  }
}

void FocusControl(QWidget* dialog, const std::string& objectName) {
  auto* control = dialog->findChild<QWidget*>(QString::fromStdString(objectName));
  if (!control) return;
  // A tab page sits in the tab widget's stack; every page on the way up comes to the front.
  for (QWidget* w = control; w && w != dialog; w = w->parentWidget()) {
    auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget());
    if (!stack) continue;
    if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) tabs->setCurrentWidget(w);
  }
  control->setFocus(Qt::OtherFocusReason);
}

TQSVeilgateSetupForm::TQSVeilgateSetupForm(QWidget* parent)
    : TQSVeilgateSetupForm(std::make_unique<TSetupRules>(), parent) {}

TQSVeilgateSetupForm::TQSVeilgateSetupForm(std::unique_ptr<TSetupRules> rules, QWidget* parent)
    : QDialog(parent), rules_(std::move(rules)) {
  setObjectName("TQSVeilgateSetupForm");
  setWindowTitle(T(VGT("Настройки QS-Veilgate")));
  ChooseDirectory = [this](const QString& prompt, const QString& start) {
    return QFileDialog::getExistingDirectory(this, prompt, start);
  };
  Build();
}

TQSVeilgateSetupForm::~TQSVeilgateSetupForm() = default;

void TQSVeilgateSetupForm::Build() {
  pages_ = Named(new QTabWidget(this), "PageControl");
  QWidget* settings = Page(pages_, "tsSettings", VGT("Настройки"));

  selfPort_ = Named(new QLineEdit("1030"), "SelfPortEdit");
  selfPort_->setMaxLength(10);
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(Named(new QLabel(T(VGT("Номер открываемого TCP порта"))), "SelfPortLabel"));
  portRow->addWidget(selfPort_);
  portRow->addStretch(1);

  auto* proxyGroup = Named(new QGroupBox(T(VGT("Настройки proxy"))), "ProxyGroupBox");
  proxyEnabled_ = Named(new QCheckBox(T(VGT("использовать proxy"))), "ProxyEnabledCB");
  bypass_ = Named(new QCheckBox(T(VGT("только для внешних адресов"))), "cbBypass4Local");
  proxyHostLabel_ = Named(new QLabel(T(VGT("Адрес"))), "ProxyHostLabel");
  proxyHost_ = Named(new QLineEdit, "ProxyHostEdit");
  proxyPortLabel_ = Named(new QLabel(T(VGT("Порт"))), "ProxyPortLabel");
  proxyPort_ = Named(new QLineEdit, "ProxyPortEdit");
  proxyPort_->setMaximumWidth(80);
  orpc_ = Named(new QCheckBox(T(VGT("один запрос на соединение"))), "ProxyORPCCB");
  auto* proxyGrid = new QGridLayout(proxyGroup);
  proxyGrid->addWidget(proxyEnabled_, 0, 0, 1, 2);
  proxyGrid->addWidget(bypass_, 0, 2, 1, 2);
  proxyGrid->addWidget(proxyHostLabel_, 1, 0);
  proxyGrid->addWidget(proxyHost_, 1, 1);
  proxyGrid->addWidget(proxyPortLabel_, 1, 2);
  proxyGrid->addWidget(proxyPort_, 1, 3);
  proxyGrid->addWidget(orpc_, 2, 0, 1, 4);

  maxLength_ = Named(new QSpinBox, "seMaxHTTPDataLen");
  maxLength_->setRange(1024, INT_MAX);
  maxLength_->setValue(TQSConfig::kDefaultMaxHttpDataLength);
  auto* lengthRow = new QHBoxLayout;
  lengthRow->addWidget(Named(new QLabel(T(VGT("Макс. длина HTTP докум. (в байтах)"))), "MaxHTTPDataLenLabel"));
  lengthRow->addWidget(maxLength_);
  lengthRow->addStretch(1);

  logDir_ = Named(new QLineEdit, "LogDirEdit");
  auto* browse = Named(new QPushButton(T(VGT("Обзор"))), "LogDirBrowseButton");
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(logDir_, 1);
  dirRow->addWidget(browse);
  logDays_ = Named(new QLineEdit("60"), "LogDaysEdit");
  logDays_->setMaxLength(10);
  logDays_->setMaximumWidth(80);
  auto* daysRow = new QHBoxLayout;
  daysRow->addWidget(Named(new QLabel(T(VGT("Срок хранения журнала (в днях)"))), "LogDaysLabel"));
  daysRow->addWidget(logDays_);
  daysRow->addStretch(1);

  logPages_ = Named(new QTabWidget, "LogPageControl");
  QWidget* common = Page(logPages_, "tsLogCommon", VGT("Общее"));
  logOut_ = Named(new QCheckBox(T(VGT("записывать ответы"))), "LogOutReqCB");
  logIn_ = Named(new QCheckBox(T(VGT("записывать запросы"))), "LogInReqCB");
  logErr_ = Named(new QCheckBox(T(VGT("сохранять сбои сервиса"))), "LogErrDescCB");
  auto* commonLayout = new QVBoxLayout(common);
  commonLayout->addWidget(logOut_);
  commonLayout->addWidget(logIn_);
  commonLayout->addWidget(logErr_);
  commonLayout->addStretch(1);
  outPage_ = Page(logPages_, "tsLogOut", VGT("Исходящие"));
  const char* outNames[] = {"OutNoneLogRB", "OutErrLogRB", "OutFullLogRB"};
  const std::string outCaptions[] = {VGT("не записывать запросы"), VGT("записывать только плохие"),
                                     VGT("записывать все запросы")};
  auto* outLayout = new QVBoxLayout(outPage_);
  for (int i = 0; i < 3; ++i)
    outLayout->addWidget(outModes_[i] = Named(new QRadioButton(FromCp1251(outCaptions[i])), outNames[i]));
  outLayout->addStretch(1);
  inPage_ = Page(logPages_, "tsLogIn", VGT("Входящие"));
  const char* inNames[] = {"InNoneLogRB", "InErrLogRB", "InFullLogRB"};
  const std::string inCaptions[] = {VGT("не записывать ответы"), VGT("записывать только плохие"),
                                    VGT("записывать все ответы")};
  auto* inLayout = new QVBoxLayout(inPage_);
  for (int i = 0; i < 3; ++i)
    inLayout->addWidget(inModes_[i] = Named(new QRadioButton(FromCp1251(inCaptions[i])), inNames[i]));
  inLayout->addStretch(1);
  QWidget* tracePage = Page(logPages_, "tsTrace", VGT("Слежение"));
  trace_ = Named(new QCheckBox(T(VGT("Режим слежения за ошибками"))), "TraceCB");
  auto* note = Named(new QLabel(T(VGT("Внимание! Используйте этот ")) + "\n" + T(VGT("режим только в целях отладки."))),
                     "TraceNoteLabel");
  auto* traceLayout = new QVBoxLayout(tracePage);
  traceLayout->addWidget(trace_);
  traceLayout->addWidget(note);
  traceLayout->addStretch(1);

  auto* settingsLayout = new QVBoxLayout(settings);
  settingsLayout->addLayout(portRow);
  settingsLayout->addWidget(proxyGroup);
  settingsLayout->addLayout(lengthRow);
  settingsLayout->addWidget(Named(new QLabel(T(VGT("Путь к каталогу файлов журнала"))), "LogDirLabel"));
  settingsLayout->addLayout(dirRow);
  settingsLayout->addLayout(daysRow);
  settingsLayout->addWidget(logPages_, 1);

  QWidget* serversPage = Page(pages_, "tsServers", VGT("Защищаемые сервера"));
  servers_ = Named(new QTableWidget(0, 2), "ServersGrid");
  servers_->setHorizontalHeaderLabels({T(VGT("Имя сервера")), T(VGT("Криптография"))});
  servers_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  servers_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  servers_->verticalHeader()->hide();
  servers_->setSelectionBehavior(QAbstractItemView::SelectRows);
  servers_->setSelectionMode(QAbstractItemView::SingleSelection);
  servers_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  auto* addServer = Named(new QPushButton(T(VGT("Добавить"))), "AddServerButton");
  auto* editServer = Named(new QPushButton(T(VGT("Изменить"))), "EditServerButton");
  auto* deleteServer = Named(new QPushButton(T(VGT("Удалить"))), "DeleteServerButton");
  auto* serverButtons = new QVBoxLayout;
  serverButtons->addWidget(addServer);
  serverButtons->addWidget(editServer);
  serverButtons->addWidget(deleteServer);
  serverButtons->addStretch(1);
  auto* serversLayout = new QHBoxLayout(serversPage);
  serversLayout->addWidget(servers_, 1);
  serversLayout->addLayout(serverButtons);

  auto* ok = Named(new QPushButton(T(VGT("OK"))), "OkButton");
  ok->setDefault(true);
  auto* cancel = Named(new QPushButton(T(VGT("Отмена"))), "CancelButton");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_, 1);
  layout->addLayout(buttons);

  for (QWidget* w : std::initializer_list<QWidget*>{selfPort_, proxyHost_, proxyPort_, maxLength_, logDir_, logDays_})
    ButtonFaceWhenDisabled(w);

  connect(proxyEnabled_, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(logOut_, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(logIn_, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir = ChooseDirectory(T(VGT("Укажите каталог для журнала")), logDir_->text());
    if (!dir.isEmpty()) logDir_->setText(dir);
  });
  connect(addServer, &QPushButton::clicked, this, [this] { Guarded(this, [this] { OpenServerDialog({}, {}); }); });
  connect(editServer, &QPushButton::clicked, this, [this] {
    const TServerRow row = CurrentServerRow();
    if (!row.Name.empty()) Guarded(this, [&] { OpenServerDialog(row.Name, row.Engine); });
  });
  connect(servers_, &QTableWidget::cellDoubleClicked, this, [this] {
    const TServerRow row = CurrentServerRow();
    if (!row.Name.empty()) Guarded(this, [&] { OpenServerDialog(row.Name, row.Engine); });
  });
  connect(deleteServer, &QPushButton::clicked, this, [this] {
    const TServerRow row = CurrentServerRow();
    if (row.Name.empty()) return;
    rules_->DeleteServer(row);
    FillServerGrid();
  });
  connect(ok, &QPushButton::clicked, this, &TQSVeilgateSetupForm::OkButtonClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  resize(560, 520);
}

void TQSVeilgateSetupForm::showEvent(QShowEvent* event) {
  // Every showing starts from the copy as it stands.
  LoadControls();
  pages_->setCurrentIndex(0);
  QDialog::showEvent(event);
}

void TQSVeilgateSetupForm::LoadControls() {
  if (!rules_->HasCopy()) return;
  TSetupControls controls;
  rules_->LoadControls(controls);
  WriteControls(controls);
  FillServerGrid();
  ApplyEnabling();
}

bool TQSVeilgateSetupForm::SaveControls() {
  TSetupControls controls;
  ReadControls(controls);
  try {
    rules_->SaveControls(controls);
    return true;
  } catch (const ESaveSettingsException& e) {
    FocusControl(this, e.Control());
    ShowDialogBox(this, e.Message());
    FocusControl(this, e.Control());
    return false;
  }
}

void TQSVeilgateSetupForm::OkButtonClick() {
  Guarded(this, [this] {
    if (SaveControls()) accept();
  });
}

void TQSVeilgateSetupForm::ReadControls(TSetupControls& c) {
  c.SelfPort = ToCp1251(selfPort_->text().trimmed());
  c.ProxyEnabled = proxyEnabled_->isChecked();
  c.BypassForLocal = bypass_->isChecked();
  c.ProxyHost = ToCp1251(proxyHost_->text().trimmed());
  c.ProxyPort = ToCp1251(proxyPort_->text().trimmed());
  c.ProxyORPC = orpc_->isChecked();
  c.MaxHttpDataLength = maxLength_->value();
  c.LogDirectory = ToCp1251(logDir_->text());
  c.LogDays = ToCp1251(logDays_->text().trimmed());
  c.LogOutReq = logOut_->isChecked();
  c.LogInReq = logIn_->isChecked();
  c.LogErrDesc = logErr_->isChecked();
  const TLogMode modes[] = {TLogMode::None, TLogMode::OnlyBad, TLogMode::All};
  for (int i = 0; i < 3; ++i) {
    if (outModes_[i]->isChecked()) c.OutMode = modes[i];
    if (inModes_[i]->isChecked()) c.InMode = modes[i];
  }
  c.Trace = trace_->isChecked();
}

void TQSVeilgateSetupForm::WriteControls(const TSetupControls& c) {
  selfPort_->setText(FromCp1251(c.SelfPort));
  proxyEnabled_->setChecked(c.ProxyEnabled);
  bypass_->setChecked(c.BypassForLocal);
  proxyHost_->setText(FromCp1251(c.ProxyHost));
  proxyPort_->setText(FromCp1251(c.ProxyPort));
  orpc_->setChecked(c.ProxyORPC);
  maxLength_->setValue(c.MaxHttpDataLength);
  logDir_->setText(FromCp1251(c.LogDirectory));
  logDays_->setText(FromCp1251(c.LogDays));
  logOut_->setChecked(c.LogOutReq);
  logIn_->setChecked(c.LogInReq);
  logErr_->setChecked(c.LogErrDesc);
  outModes_[static_cast<int>(c.OutMode)]->setChecked(true);
  inModes_[static_cast<int>(c.InMode)]->setChecked(true);
  trace_->setChecked(c.Trace);
}

void TQSVeilgateSetupForm::ApplyEnabling() {
  TSetupControls controls;
  ReadControls(controls);
  const TSetupEnabling e = SetupEnabling(controls, false);
  for (QWidget* w :
       std::initializer_list<QWidget*>{bypass_, proxyHostLabel_, proxyHost_, proxyPortLabel_, proxyPort_, orpc_})
    w->setEnabled(e.Proxy);
  logPages_->setTabVisible(logPages_->indexOf(outPage_), e.OutPage);
  logPages_->setTabVisible(logPages_->indexOf(inPage_), e.InPage);
}

void TQSVeilgateSetupForm::FillServerGrid() {
  const std::vector<TServerRow> rows = rules_->ServerRows();
  servers_->setRowCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    servers_->setItem(i, 0, new QTableWidgetItem(FromCp1251(rows[i].Name)));
    servers_->setItem(i, 1, new QTableWidgetItem(FromCp1251(rows[i].Engine)));
  }
  servers_->setCurrentCell(0, 0);
}

TServerRow TQSVeilgateSetupForm::CurrentServerRow() const {
  const int row = servers_->currentRow();
  if (row < 0) return {};
  const QTableWidgetItem* name = servers_->item(row, 0);
  const QTableWidgetItem* engine = servers_->item(row, 1);
  return {name ? ToCp1251(name->text()) : std::string(), engine ? ToCp1251(engine->text()) : std::string()};
}

TWebServerForm* TQSVeilgateSetupForm::CreateServerDialog(const std::string& name, const std::string& engine) {
  return new TWebServerForm(rules_->Copy(), name, engine, this);
}

void TQSVeilgateSetupForm::OpenServerDialog(const std::string& name, const std::string& engine) {
  std::unique_ptr<TWebServerForm> dialog(CreateServerDialog(name, engine));
  dialog->exec();
  dialog.reset();
  FillServerGrid();
}

// ---- client part -------------------------------------------------------------------------------

TQSClientSetupForm::TQSClientSetupForm(QWidget* parent)
    : TQSVeilgateSetupForm(std::make_unique<TClientSetupRules>(), parent) {
  setObjectName("TQSClientSetupForm");
  setWindowTitle(T(VGT("Настройки QS-Veilgate (клиентская часть)")));
  resolve_ = Rules().Resolver();

  QWidget* page = Page(Pages(), "tsAccess", VGT("Ограничение доступа"));
  auto* group = Named(new QGroupBox(T(VGT("Разрешить доступ"))), "rgAccessType");
  const char* names[] = {"rbAccessAny", "rbAccessLocal", "rbAccessListed"};
  const std::string captions[] = {VGT("Всем без ограничений"), VGT("Только с этого компьютера"),
                                  VGT("Только допустимым узлам из списка")};
  auto* groupLayout = new QVBoxLayout(group);
  for (int i = 0; i < 3; ++i) {
    access_[i] = Named(new QRadioButton(FromCp1251(captions[i])), names[i]);
    groupLayout->addWidget(access_[i]);
    connect(access_[i], &QRadioButton::toggled, this, [this] { ApplyEnabling(); });
  }
  hostsLabel_ = Named(new QLabel(T(VGT("Разрешенные адреса"))), "AllowedHostsLabel");
  hosts_ = Named(new QListWidget, "lbAllowedHosts");
  hosts_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  hosts_->installEventFilter(this);
  addHostLabel_ = Named(new QLabel(T(VGT("Адрес или имя хоста"))), "AddHostLabel");
  addHost_ = Named(new QLineEdit, "edtAddHost");
  addHost_->installEventFilter(this);
  addHostButton_ = Named(new QPushButton(T(VGT("Добавить"))), "AddHostButton");
  addHostButton_->setAutoDefault(false);
  deleteHostButton_ = Named(new QPushButton(T(VGT("Удалить"))), "DeleteHostButton");
  deleteHostButton_->setAutoDefault(false);
  ButtonFaceWhenDisabled(hosts_);
  ButtonFaceWhenDisabled(addHost_);

  auto* grid = new QGridLayout;
  grid->addWidget(hostsLabel_, 0, 0);
  grid->addWidget(hosts_, 1, 0, 3, 1);
  grid->addWidget(addHostLabel_, 0, 1);
  grid->addWidget(addHost_, 1, 1);
  auto* hostButtons = new QHBoxLayout;
  hostButtons->addWidget(addHostButton_);
  hostButtons->addWidget(deleteHostButton_);
  grid->addLayout(hostButtons, 2, 1);
  grid->setRowStretch(3, 1);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(group);
  layout->addLayout(grid, 1);

  okButton_ = findChild<QPushButton*>("OkButton");
  connect(addHostButton_, &QPushButton::clicked, this, &TQSClientSetupForm::AddHostClick);
  connect(deleteHostButton_, &QPushButton::clicked, this, &TQSClientSetupForm::DeleteHostClick);
  connect(hosts_, &QListWidget::itemSelectionChanged, this, [this] { ApplyEnabling(); });
  connect(hosts_, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { addHost_->setText(item->text()); });
}

void TQSClientSetupForm::SetResolver(THostResolver resolve) {
  resolve_ = resolve;
  Rules().SetResolver(std::move(resolve));
}

TWebServerForm* TQSClientSetupForm::CreateServerDialog(const std::string& name, const std::string& engine) {
  return new TWebServerClientFrom(Rules().Copy(), name, engine, this);
}

std::vector<std::string> TQSClientSetupForm::HostLines() const {
  std::vector<std::string> lines;
  for (int i = 0; i < hosts_->count(); ++i) lines.push_back(ToCp1251(hosts_->item(i)->text()));
  return lines;
}

void TQSClientSetupForm::ReadControls(TSetupControls& c) {
  TQSVeilgateSetupForm::ReadControls(c);
  for (int i = 0; i < 3; ++i)
    if (access_[i] && access_[i]->isChecked()) c.AccessItem = i;
  if (hosts_) c.Hosts = HostLines();
}

void TQSClientSetupForm::WriteControls(const TSetupControls& c) {
  TQSVeilgateSetupForm::WriteControls(c);
  access_[c.AccessItem]->setChecked(true);
  hosts_->clear();
  for (const std::string& line : c.Hosts) hosts_->addItem(FromCp1251(line));
}

void TQSClientSetupForm::ApplyEnabling() {
  TQSVeilgateSetupForm::ApplyEnabling();
  if (!hosts_) return;  // still being built
  TSetupControls controls;
  ReadControls(controls);
  const TSetupEnabling e = SetupEnabling(controls, !hosts_->selectedItems().isEmpty());
  for (QWidget* w : std::initializer_list<QWidget*>{hostsLabel_, hosts_, addHostLabel_, addHost_, addHostButton_})
    w->setEnabled(e.Hosts);
  deleteHostButton_->setEnabled(e.DeleteHost);
}

bool TQSClientSetupForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == hosts_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
      DeleteHostClick();
      return true;
    }
  }
  // While the host edit has the focus, Enter means "Добавить".
  if (watched == addHost_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
    const bool in = event->type() == QEvent::FocusIn;
    addHostButton_->setDefault(in);
    if (okButton_) okButton_->setDefault(!in);
  }
  if (watched == addHost_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      AddHostClick();
      return true;
    }
  }
  return TQSVeilgateSetupForm::eventFilter(watched, event);
}

void TQSClientSetupForm::AddHostClick() {
  std::vector<std::string> lines = HostLines();
  const THostAddResult result = AddHostLine(ToCp1251(addHost_->text().trimmed()), lines, resolve_);
  switch (result.Kind) {
    case THostAddResult::Unknown: ShowDialogBox(this, result.Message, TBoxIcon::Error); break;
    case THostAddResult::Duplicate:
      hosts_->clearSelection();
      hosts_->setCurrentRow(result.Line);
      ShowDialogBox(this, result.Message, TBoxIcon::Warning);
      break;
    case THostAddResult::Added: hosts_->addItem(FromCp1251(lines.back())); break;
  }
  ApplyEnabling();
  addHost_->setFocus(Qt::OtherFocusReason);
}

void TQSClientSetupForm::DeleteHostClick() {
  for (QListWidgetItem* item : hosts_->selectedItems()) delete item;
  ApplyEnabling();
}

}  // namespace vg::gui
