// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson chooser behind "List": lists the lessons of the lesson list (or the lesson index
// files), selects the last choice again, and hands back the chosen path. Loads nothing itself.
// The last choice is kept by whoever runs the chooser, so that it lasts from one chooser to the
// next.
#pragma once

#include <QDialog>
#include <QFont>
#include <string>

#include "ui/dialog_template.h"

class QListWidget;
class QPushButton;

namespace voxtar::ui {

// The chooser's frame: no controls, no font, the system font's dialog units.
extern const DialogTemplate kLessonsTemplate;

inline constexpr int kLessonListId = 111;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Frame added to the client area to give the outer size the controls are placed from: a modal
// frame of 3 px on each side and a caption of 19 px.
inline constexpr int kFrameBorder = 3;
inline constexpr int kCaptionHeight = 19;

class TLessonsDialog : public QDialog {
  Q_OBJECT

 public:
  // `lastChosen` is the lesson chosen last (empty: none); a choice replaces it. It outlives the
  // chooser.
  explicit TLessonsDialog(std::u16string& lastChosen, QWidget* parent = nullptr);

  // 0: a lesson was chosen (chosenPath holds it); 1: cancelled; -1: the window could not be made.
  int DoModal();

  const std::u16string& chosenPath() const { return chosenPath_; }
  QListWidget* lessonList() const { return lessonList_; }
  QPushButton* okButton() const { return okButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  QWidget* GetDlgItem(int id) const;

  // The OK command: with a selection, remembers it, sets chosenPath and ends with 0.
  void OnOK();
  // Ends with 1; the remembered choice stays.
  void OnCancel();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  // Creates the controls from the outer size and fills the list.
  void OnCreate();

  std::u16string& lastChosen_;
  QFont font_;
  std::u16string chosenPath_;
  QListWidget* lessonList_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
};

}  // namespace voxtar::ui
