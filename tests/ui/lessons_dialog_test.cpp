// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/lessons_dialog.h"

#include <gtest/gtest.h>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "lesson/lesson_list.h"
#include "platform/file_system.h"
#include "tests/ui/accessibility_test_support.h"
#include "tests/ui/ui_test_support.h"

namespace voxtar::ui {
namespace {

using testing::ActiveModal;
using testing::WhenModal;

class LessonsDialogTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd{dir.path()};
  std::u16string lastChosen;
};

TEST_F(LessonsDialogTest, ControlsArePlacedFromTheOuterSize) {
  TLessonsDialog chooser(lastChosen);
  // 274 x 267 dialog units in the system font's units (8, 16).
  EXPECT_EQ(chooser.size(), QSize(548, 534));
  const int cx = 548 + 2 * kFrameBorder;
  const int cy = 534 + kCaptionHeight + 2 * kFrameBorder;
  const int q = cx / 4;
  EXPECT_EQ(chooser.lessonList()->geometry(), QRect(QPoint(10, 15), QPoint(cx - 31, cy - 71)));
  EXPECT_EQ(chooser.okButton()->geometry(),
            QRect(QPoint(q - 30, cy - 70), QPoint(q + 49, cy - 51)));
  EXPECT_EQ(chooser.cancelButton()->geometry(),
            QRect(QPoint(3 * q - 50, cy - 70), QPoint(3 * q + 49, cy - 51)));
  EXPECT_EQ(chooser.okButton()->text(), QStringLiteral("Ok"));
  EXPECT_EQ(chooser.cancelButton()->text(), QStringLiteral("Cancel"));
  EXPECT_EQ(chooser.lessonList()->font().pixelSize(), 16);
  EXPECT_EQ(chooser.GetDlgItem(111), chooser.lessonList());
  EXPECT_TRUE(chooser.windowTitle().isEmpty());
}

TEST_F(LessonsDialogTest, ChoosingRemembersTheLessonForTheNextRun) {
  testing::WriteBytes(dir / "Ini/lessons.ini", "Greetings\nlesson1.ini\nNumbers\nlesson2.ini\n");
  {
    TLessonsDialog chooser(lastChosen);
    ASSERT_EQ(chooser.lessonList()->count(), 2);
    EXPECT_EQ(chooser.lessonList()->item(0)->text(), QStringLiteral("lesson1.ini (Greetings)"));
    EXPECT_TRUE(chooser.lessonList()->selectedItems().isEmpty());
    WhenModal([&] {
      if (ActiveModal<TLessonsDialog>() != &chooser) {
        return false;
      }
      QListWidget* list = chooser.lessonList();
      QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                        list->visualItemRect(list->item(1)).center());
      QTest::mouseClick(chooser.okButton(), Qt::LeftButton);
      return true;
    });
    EXPECT_EQ(chooser.DoModal(), 0);
    EXPECT_EQ(chooser.chosenPath(), platform::CurrentDirectory() + u"/Ini/lesson2.ini");
  }
  EXPECT_EQ(lastChosen, u"lesson2.ini");
  TLessonsDialog again(lastChosen);
  ASSERT_EQ(again.lessonList()->selectedItems().size(), 1);
  EXPECT_EQ(again.lessonList()->currentRow(), 1);
  // Enter takes the selected entry.
  WhenModal([&] {
    if (ActiveModal<TLessonsDialog>() != &again) {
      return false;
    }
    QTest::keyClick(again.lessonList(), Qt::Key_Return);
    return true;
  });
  EXPECT_EQ(again.DoModal(), 0);
  EXPECT_EQ(again.chosenPath(), platform::CurrentDirectory() + u"/Ini/lesson2.ini");
}

TEST_F(LessonsDialogTest, OkWithoutSelectionStaysOpenAndCancelReturnsOne) {
  testing::WriteBytes(dir / "Ini/Lesson1.IDX", "");
  testing::WriteBytes(dir / "Ini/b.idx", "");
  lastChosen = u"lesson1.ini";
  TLessonsDialog chooser(lastChosen);
  EXPECT_EQ(chooser.lessonList()->count(), 2);
  EXPECT_TRUE(chooser.lessonList()->selectedItems().isEmpty());
  bool stayedOpen = false;
  WhenModal([&] {
    if (ActiveModal<TLessonsDialog>() != &chooser) {
      return false;
    }
    QTest::mouseClick(chooser.okButton(), Qt::LeftButton);
    stayedOpen = chooser.isVisible();
    QTest::keyClick(chooser.lessonList(), Qt::Key_Escape);
    return true;
  });
  EXPECT_EQ(chooser.DoModal(), 1);
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(chooser.chosenPath().empty());
  EXPECT_EQ(lastChosen, u"lesson1.ini");
}

TEST_F(LessonsDialogTest, CloseBoxAndCancelButtonCancel) {
  TLessonsDialog chooser(lastChosen);
  EXPECT_EQ(chooser.lessonList()->count(), 0);
  WhenModal([&] {
    if (ActiveModal<TLessonsDialog>() != &chooser) {
      return false;
    }
    chooser.close();
    return true;
  });
  EXPECT_EQ(chooser.DoModal(), 1);
  WhenModal([&] {
    if (ActiveModal<TLessonsDialog>() != &chooser) {
      return false;
    }
    QTest::mouseClick(chooser.cancelButton(), Qt::LeftButton);
    return true;
  });
  EXPECT_EQ(chooser.DoModal(), 1);
}

TEST_F(LessonsDialogTest, TheWindowTheListAndTheButtonsAreNamed) {
  testing::WriteBytes(dir / "Ini/unit01.idx", "");
  TLessonsDialog chooser(lastChosen);
  using testing::AccessibleText;
  EXPECT_EQ(AccessibleText(&chooser), QStringLiteral("Lessons"));
  EXPECT_TRUE(chooser.windowTitle().isEmpty());
  EXPECT_EQ(AccessibleText(chooser.lessonList()), QStringLiteral("Lessons"));
  EXPECT_EQ(testing::AccessibleRole(chooser.lessonList()), QAccessible::List);
  EXPECT_EQ(AccessibleText(chooser.okButton()), QStringLiteral("Ok"));
  EXPECT_EQ(AccessibleText(chooser.cancelButton()), QStringLiteral("Cancel"));
  // The entries are read as shown.
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(chooser.lessonList());
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->childCount(), 1);
  EXPECT_EQ(list->child(0)->text(QAccessible::Name), QStringLiteral("unit01.idx"));
}

}  // namespace
}  // namespace voxtar::ui
