// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialog_controls.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <string>

namespace voxtar::ui {

MultiLineEdit::MultiLineEdit(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setTabChangesFocus(true);
}

void MultiLineEdit::keyPressEvent(QKeyEvent* event) {
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                event->key() == Qt::Key_Escape)) {
    // No "want return": Enter is the dialog's OK, Escape its Cancel.
    event->ignore();
    return;
  }
  if (wordBreak_ != nullptr) {
    struct WordMove {
      QKeySequence::StandardKey keys;
      bool right;
      bool select;
    };
    static constexpr WordMove kWordMoves[] = {
        {QKeySequence::MoveToNextWord, true, false},
        {QKeySequence::MoveToPreviousWord, false, false},
        {QKeySequence::SelectNextWord, true, true},
        {QKeySequence::SelectPreviousWord, false, true},
    };
    for (const WordMove& move : kWordMoves) {
      if (event->matches(move.keys)) {
        MoveWord(move.right, move.select);
        return;
      }
    }
  }
  QPlainTextEdit::keyPressEvent(event);
}

void MultiLineEdit::MoveWord(bool right, bool select) {
  QTextCursor cursor = textCursor();
  const QTextBlock block = cursor.block();
  const int lineStart = block.position();
  const QString line = block.text();
  const int column = cursor.position() - lineStart;
  int target = cursor.position();
  if (right) {
    if (column >= line.size()) {
      // At the end of a line the step goes to the start of the next one.
      if (block.next().isValid()) {
        target = block.next().position();
      }
    } else {
      target = lineStart + wordBreak_(line.toStdU16String(), column, kWordBreakRight);
    }
  } else {
    if (column == 0) {
      if (block.previous().isValid()) {
        const QTextBlock previous = block.previous();
        target = previous.position() + previous.length() - 1;
      }
    } else {
      target = lineStart + wordBreak_(line.toStdU16String(), column, kWordBreakLeft);
    }
  }
  cursor.setPosition(target, select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
  setTextCursor(cursor);
}

void MultiLineEdit::mouseDoubleClickEvent(QMouseEvent* event) {
  if (wordBreak_ == nullptr || event->button() != Qt::LeftButton) {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    return;
  }
  QTextCursor cursor = cursorForPosition(event->position().toPoint());
  const QTextBlock block = cursor.block();
  const std::u16string line = block.text().toStdU16String();
  const int column = cursor.position() - block.position();
  const int start = wordBreak_(line, column, kWordBreakLeft);
  const int end = wordBreak_(line, column, kWordBreakRight);
  cursor.setPosition(block.position() + start);
  cursor.setPosition(block.position() + end, QTextCursor::KeepAnchor);
  setTextCursor(cursor);
  event->accept();
}

DialogButton::DialogButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setAutoDefault(false);
}

void DialogButton::keyPressEvent(QKeyEvent* event) {
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    // A focused button takes Enter as its own press.
    if (isEnabled()) {
      click();
    }
    return;
  }
  QPushButton::keyPressEvent(event);
}

}  // namespace voxtar::ui
