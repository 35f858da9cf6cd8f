#include "gui/AboutWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/GuiText.h"
#include "platform/ProcessMemory.h"
#include "platform/SysUtils.h"

namespace vg::gui {
namespace {

QString Kilobytes(uint64_t bytes) { return QLocale(QLocale::Russian).toString(static_cast<qulonglong>(bytes / 1024)); }

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // A shield with a "V" on it.
  QPainterPath shield;
  shield.moveTo(s * 0.5, s * 0.04);
  shield.lineTo(s * 0.92, s * 0.2);
  shield.cubicTo(s * 0.92, s * 0.62, s * 0.72, s * 0.84, s * 0.5, s * 0.97);
  shield.cubicTo(s * 0.28, s * 0.84, s * 0.08, s * 0.62, s * 0.08, s * 0.2);
  shield.closeSubpath();
  painter.setPen(QPen(QColor(20, 50, 110), s / 16));
  painter.setBrush(QColor(40, 100, 190));
  painter.drawPath(shield);
  painter.setPen(QPen(Qt::white, s / 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPolyline(QPolygonF({QPointF(s * 0.3, s * 0.32), QPointF(s * 0.5, s * 0.72), QPointF(s * 0.7, s * 0.32)}));
  return pixmap;
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
  return icon;
}

TAboutWindow::TAboutWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("TQSVeilgateAboutForm");
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  auto* iconLabel = new QLabel(this);
  iconLabel->setObjectName("ProgramIcon");
  iconLabel->setPixmap(DrawIcon(48));
  product_ = new QLabel(this);
  product_->setObjectName("ProductLabel");
  QFont bold = product_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  product_->setFont(bold);
  version_ = new QLabel(this);
  version_->setObjectName("VersionLabel");
  build_ = new QLabel(this);
  build_->setObjectName("BuildLabel");
  memory_ = new QLabel(this);
  memory_->setObjectName("MemoryLabel");

  auto* texts = new QVBoxLayout;
  texts->addWidget(product_);
  texts->addWidget(version_);
  texts->addWidget(build_);
  texts->addWidget(memory_);
  auto* top = new QHBoxLayout;
  top->addWidget(iconLabel, 0, Qt::AlignTop);
  top->addSpacing(8);
  top->addLayout(texts, 1);

  commands_ = new QWidget(this);
  commands_->setObjectName("MenuCommands");
  auto* note = new QLabel(
      FromCp1251(VGT("Область уведомлений не найдена, поэтому команды значка программы находятся здесь.")), commands_);
  note->setObjectName("NoTrayLabel");
  note->setWordWrap(true);
  auto* setup = new QPushButton(FromCp1251(VGT("Настройки")), commands_);
  setup->setObjectName("SetupButton");
  auto* unload = new QPushButton(FromCp1251(VGT("Выгрузить")), commands_);
  unload->setObjectName("UnloadButton");
  connect(setup, &QPushButton::clicked, this, [this] {
    if (OnSetup) OnSetup();
  });
  connect(unload, &QPushButton::clicked, this, [this] {
    if (OnUnload) OnUnload();
  });
  auto* commandRow = new QHBoxLayout;
  commandRow->addWidget(setup);
  commandRow->addWidget(unload);
  commandRow->addStretch(1);
  auto* commandBox = new QVBoxLayout(commands_);
  commandBox->setContentsMargins(0, 0, 0, 0);
  commandBox->addWidget(note);
  commandBox->addLayout(commandRow);
  commands_->hide();

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("CancelButton");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] {
    if (OnOk) OnOk();
  });
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(ok);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(commands_);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setMinimumWidth(340);

  memoryTimer_ = new QTimer(this);
  memoryTimer_->setInterval(1000);
  connect(memoryTimer_, &QTimer::timeout, this, &TAboutWindow::RefreshMemory);
  RefreshMemory();
}

void TAboutWindow::SetProduct(const QString& text) {
  product_->setText(text);
  setWindowTitle(text);
}

void TAboutWindow::SetVersionHint(const QString& text) {
  version_->setText(FromCp1251(VGT("Версия ")) + text);
  version_->setToolTip(text);
}

void TAboutWindow::SetBuildLabel(const QString& text) { build_->setText(FromCp1251(VGT("Сборка: ")) + text); }

void TAboutWindow::SetMenuCommandsVisible(bool visible) { commands_->setVisible(visible); }

bool TAboutWindow::MenuCommandsVisible() const { return !commands_->isHidden(); }

void TAboutWindow::RefreshMemory() {
  const platform::ProcessMemory used = platform::CurrentProcessMemory();
  memory_->setText(FromCp1251(VGT("Память: ")) + Kilobytes(used.resident) + FromCp1251(VGT(" КБ в работе, ")) +
                   Kilobytes(used.total) + FromCp1251(VGT(" КБ всего")));
}

void TAboutWindow::closeEvent(QCloseEvent* event) {
  if (!OnCloseQuery || OnCloseQuery()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TAboutWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshMemory();
  memoryTimer_->start();
}

void TAboutWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  memoryTimer_->stop();
}

}  // namespace vg::gui
