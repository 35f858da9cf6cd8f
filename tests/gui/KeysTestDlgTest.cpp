// The keys test window over the emulation engine: a run started from the window writes the
// report, shows it and closes the window; an engine that cannot be opened shows its box.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <cstdlib>

#include "GuiSupport.h"
#include "gui/KeysTestDlg.h"
#include "platform/CodePage.h"
#include "support/RelaySupport.h"

using namespace guitest;

namespace {

TEST(KeysTestWindow, RunsTheTestFromItsButtonsAndReports) {
  relaytest::TempDir dir;
  vg::TCryptoParams params;
  params.SetEngineType("Emulation/1.0");
  params.AddParam(0, "client-1");
  params.AddParam(1, "gate-1");
  params.AddParam(5, "client-1;gate-1");
  vg::gui::TKeysTestDlg dialog(params);
  EXPECT_EQ(dialog.windowTitle(), "Тест ключей");
  EXPECT_EQ(dialog.size(), QSize(621, 172));
  EXPECT_TRUE(dialog.findChild<QCheckBox*>("ShowKeysTestReportCheckBox")->isChecked());
  EXPECT_FALSE(dialog.findChild<QPushButton*>("BreakTestBitBtn")->isEnabled());
  EXPECT_TRUE(dialog.findChild<QLineEdit*>("KeysTestReportEdit")->text().endsWith("KeysTest.log"));

  const QString report = QString::fromStdString(dir.File("KeysTest.log"));
  QString shown;
  dialog.ShowReport = [&](const QString& path) { shown = path; };
  dialog.EndingPause = [] {};
  dialog.findChild<QLineEdit*>("KeysTestReportEdit")->setText(report);
  dialog.findChild<QCheckBox*>("KeysTestExtReportCheckBox")->setChecked(true);
  dialog.show();
  dialog.findChild<QPushButton*>("OK_BitBtn")->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(shown, report);
  EXPECT_EQ(dialog.LastErrorCount(), 0);
  const std::string text = relaytest::ReadFileText(report.toStdString());
  EXPECT_NE(text.find(vg::platform::Utf8ToCp1251("        ТЕСТ  ЗАВЕРШЕН ")), std::string::npos)
      << vg::platform::Cp1251ToUtf8(text);
  EXPECT_NE(text.find(vg::platform::Utf8ToCp1251("РАСШИРЕННЫЙ  ТЕСТ")), std::string::npos);

  // An engine type nobody serves: the box, the error count on the window, then it closes.
  vg::TCryptoParams unknown;
  unknown.SetEngineType("No such engine");
  vg::gui::TKeysTestDlg failing(unknown);
  failing.ShowReport = [](const QString&) {};
  failing.EndingPause = [] {};
  failing.findChild<QLineEdit*>("KeysTestReportEdit")->setText(report);
  BoxAnswerer boxes;
  failing.show();
  failing.findChild<QPushButton*>("OK_BitBtn")->click();
  ASSERT_EQ(boxes.Seen.size(), 1u);
  EXPECT_EQ(boxes.Seen[0].text, "ОШИБКА в InitCryptoEngine !");
  EXPECT_EQ(failing.LastErrorCount(), 1);
  EXPECT_EQ(failing.result(), QDialog::Accepted);

  // One failing step: the error panel appears with the count while the run goes on. With
  // VG_GUI_SHOTS set the window is also pictured as the run ends (scripts/screenshots.sh).
  params.AddParam(2, "Verify");
  vg::gui::TKeysTestDlg oneError(params);
  oneError.ShowReport = [](const QString&) {};
  bool panelShown = false;
  oneError.EndingPause = [&] {
    panelShown = oneError.findChild<QWidget*>("ErrorPanel")->isVisible();
    EXPECT_EQ(oneError.findChild<QLineEdit*>("ErrCntEdit")->text(), "1");
    if (const char* shots = std::getenv("VG_GUI_SHOTS")) oneError.grab().save(QString(shots) + "/keys-test.png");
  };
  oneError.findChild<QLineEdit*>("KeysTestReportEdit")->setText(report);
  oneError.show();
  oneError.findChild<QPushButton*>("OK_BitBtn")->click();
  EXPECT_TRUE(panelShown);
  EXPECT_EQ(oneError.LastErrorCount(), 1);
}

}  // namespace
