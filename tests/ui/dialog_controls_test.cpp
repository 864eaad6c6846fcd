// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialog_controls.h"

#include <gtest/gtest.h>
#include <QDialog>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

#include "ui/prompt_display.h"

namespace voxtar::ui {
namespace {

class WordBreakKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    edit.SetWordBreakProc(&BackslashWordBreak);
    edit.resize(400, 200);
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
  }
  void Place(int position) {
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(position);
    edit.setTextCursor(cursor);
  }
  int Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
    QTest::keyClick(&edit, key, modifiers);
    return edit.textCursor().position();
  }
  MultiLineEdit edit;
};

TEST_F(WordBreakKeys, CtrlRightAndLeftFollowTheSegments) {
  edit.setPlainText(QStringLiteral("Ini\\L1\\x"));
  const std::pair<int, int> right[] = {{0, 4}, {3, 7}, {4, 7}, {6, 8}};
  for (const auto& [from, to] : right) {
    Place(from);
    EXPECT_EQ(Press(Qt::Key_Right), to) << "right from " << from;
  }
  const std::pair<int, int> left[] = {{8, 7}, {7, 4}, {5, 4}, {4, 0}};
  for (const auto& [from, to] : left) {
    Place(from);
    EXPECT_EQ(Press(Qt::Key_Left), to) << "left from " << from;
  }
  edit.setPlainText(QStringLiteral("a\\\\b"));
  Place(0);
  EXPECT_EQ(Press(Qt::Key_Right), 3);
}

TEST_F(WordBreakKeys, SpacesAreNoWordBreaks) {
  edit.setPlainText(QStringLiteral("Good day to you"));
  Place(0);
  EXPECT_EQ(Press(Qt::Key_Right), 15);
  EXPECT_EQ(Press(Qt::Key_Left), 0);
}

TEST_F(WordBreakKeys, ShiftSelectsWhileStepping) {
  edit.setPlainText(QStringLiteral("Ini\\L1\\x"));
  Place(0);
  Press(Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
  Press(Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(edit.textCursor().selectedText(), QStringLiteral("Ini\\L1\\"));
  Press(Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(edit.textCursor().selectedText(), QStringLiteral("Ini\\"));
}

TEST_F(WordBreakKeys, StepsCrossLineEndsOneAtATime) {
  edit.setPlainText(QStringLiteral("ab\\cd\nef\\gh"));
  Place(3);
  EXPECT_EQ(Press(Qt::Key_Right), 5);  // end of the first line
  EXPECT_EQ(Press(Qt::Key_Right), 6);  // start of the second
  EXPECT_EQ(Press(Qt::Key_Right), 9);
  Place(6);
  EXPECT_EQ(Press(Qt::Key_Left), 5);  // end of the first line
  EXPECT_EQ(Press(Qt::Key_Left), 3);
}

TEST_F(WordBreakKeys, DoubleClickSelectsASegment) {
  edit.setPlainText(QStringLiteral("Ini\\Lesson1\\x"));
  // Position 6 lies inside "Lesson1".
  const QRect caret = [&] {
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(6);
    return edit.cursorRect(cursor);
  }();
  QTest::mouseDClick(edit.viewport(), Qt::LeftButton, Qt::NoModifier, caret.center());
  EXPECT_EQ(edit.textCursor().selectedText(), QStringLiteral("Lesson1\\"));
}

TEST(MultiLineEditKeys, EnterAndEscapeGoToTheDialogTabLeaves) {
  QDialog dialog;
  auto* edit = new MultiLineEdit(&dialog);
  auto* next = new DialogButton(QStringLiteral("Next"), &dialog);
  next->move(0, 120);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  edit->setFocus();
  edit->setPlainText(QStringLiteral("one"));
  QSignalSpy rejected(&dialog, &QDialog::rejected);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(edit->toPlainText(), QStringLiteral("one"));
  QTest::keyClick(edit, Qt::Key_Tab);
  EXPECT_TRUE(next->hasFocus());
  EXPECT_EQ(edit->toPlainText(), QStringLiteral("one"));
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_EQ(rejected.count(), 1);
}

TEST(DialogButtonKeys, AFocusedButtonTakesEnterAsItsPress) {
  QDialog dialog;
  auto* button = new DialogButton(QStringLiteral("Play"), &dialog);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_FALSE(button->autoDefault());
  EXPECT_FALSE(button->isDefault());
  QSignalSpy clicked(button, &QPushButton::clicked);
  button->setFocus();
  QTest::keyClick(button, Qt::Key_Return);
  QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(clicked.count(), 2);
  button->setEnabled(false);
  QTest::keyClick(button, Qt::Key_Return);
  EXPECT_EQ(clicked.count(), 2);
}

}  // namespace
}  // namespace voxtar::ui
