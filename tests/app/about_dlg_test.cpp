// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/about_dlg.h"

#include <gtest/gtest.h>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "tests/ui/accessibility_test_support.h"

namespace voxtar::app {
namespace {

TEST(AboutBox, ShowsIconTextAndDefaultOk) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About Voxtar"));
  // 170 x 62 dialog units in the 8-point dialog font.
  const ui::BaseUnits units = ui::DialogBaseUnits(ui::DialogFont(8));
  EXPECT_EQ(about.size(), DialogUnitsToPixels(QSize(170, 62), units));
  auto* icon = static_cast<QLabel*>(about.iconLabel());
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_EQ(icon->pos(), DialogUnitsToPixels(QRect(14, 14, 20, 20), units).topLeft());
  EXPECT_EQ(static_cast<QLabel*>(about.textLabel())->text(), QStringLiteral("Voxtar, version 2.5"));
  auto* ok = static_cast<QPushButton*>(about.GetDlgItem(1));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("OK"));
  EXPECT_TRUE(ok->isDefault());
}

TEST(AboutBox, EnterEscapeAndTheCloseBoxCloseIt) {
  for (int way = 0; way < 4; ++way) {
    CAboutDlg about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    QSignalSpy finished(&about, &QDialog::finished);
    switch (way) {
      case 0:
        QTest::keyClick(&about, Qt::Key_Return);
        break;
      case 1:
        QTest::keyClick(&about, Qt::Key_Escape);
        break;
      case 2:
        about.close();
        break;
      case 3:
        QTest::mouseClick(static_cast<QPushButton*>(about.GetDlgItem(1)), Qt::LeftButton);
        break;
    }
    EXPECT_EQ(finished.count(), 1) << way;
    EXPECT_FALSE(about.isVisible()) << way;
  }
}

TEST(AboutBox, AScreenReaderReadsItsText) {
  CAboutDlg about;
  using testing::AccessibleText;
  EXPECT_EQ(AccessibleText(&about), QStringLiteral("About Voxtar"));
  EXPECT_EQ(AccessibleText(&about, QAccessible::Description),
            QStringLiteral("Voxtar, version 2.5"));
  EXPECT_EQ(AccessibleText(about.textLabel()), QStringLiteral("Voxtar, version 2.5"));
  EXPECT_EQ(testing::AccessibleRole(about.textLabel()), QAccessible::StaticText);
  EXPECT_EQ(AccessibleText(about.iconLabel()), QStringLiteral("Voxtar"));
  EXPECT_EQ(AccessibleText(about.GetDlgItem(1)), QStringLiteral("OK"));
}

}  // namespace
}  // namespace voxtar::app
