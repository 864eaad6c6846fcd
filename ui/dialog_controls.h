// SPDX-License-Identifier: GPL-3.0-or-later
// The controls of the dialog templates, with the keyboard behaviour of dialog controls: a
// multi-line edit without "want return" leaves Enter and Escape to its dialog, a focused push
// button takes Enter as its own press, and an edit's word-wise caret moves and double-click
// selection follow an installable word-break procedure.
#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <string_view>

namespace voxtar::ui {

// Word-break action codes.
inline constexpr int kWordBreakLeft = 0;
inline constexpr int kWordBreakRight = 1;
inline constexpr int kWordBreakIsDelimiter = 2;

// (text, caret position, action) -> new position (or 0/1 for kWordBreakIsDelimiter). The text is
// one line of the edit and its length is text.size().
using WordBreakProc = int (*)(std::u16string_view text, int position, int action);

class MultiLineEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit MultiLineEdit(QWidget* parent = nullptr);

  // Null: the toolkit's own word rules.
  void SetWordBreakProc(WordBreakProc proc) { wordBreak_ = proc; }
  WordBreakProc wordBreakProc() const { return wordBreak_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // Moves the caret one word with the procedure; keeps the anchor when `select`.
  void MoveWord(bool right, bool select);

  WordBreakProc wordBreak_ = nullptr;
};

class DialogButton : public QPushButton {
  Q_OBJECT

 public:
  explicit DialogButton(const QString& text, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace voxtar::ui
