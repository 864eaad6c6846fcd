// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/lessons_dialog.h"

#include <QKeyEvent>
#include <QListWidget>

#include "lesson/lesson_list.h"
#include "platform/file_system.h"
#include "ui/dialog_controls.h"

namespace voxtar::ui {

const DialogTemplate kLessonsTemplate{11, QRect(6, 15, 274, 267), "", nullptr, 0, {}};

TLessonsDialog::TLessonsDialog(std::u16string& lastChosen, QWidget* parent)
    : QDialog(parent), lastChosen_(lastChosen), font_(CellHeightFont(18)) {
  setObjectName(QStringLiteral("TLessonsDialog"));
  setModal(true);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  OnCreate();
}

void TLessonsDialog::OnCreate() {
  const QSize client = DialogUnitsToPixels(kLessonsTemplate.rect.size(), kSystemBaseUnits);
  setFixedSize(client);
  setWindowTitle(QString::fromUtf8(kLessonsTemplate.caption));
  // The caption is empty; a screen reader still announces what the window is for.
  setAccessibleName(tr("Lessons"));
  const int cx = client.width() + 2 * kFrameBorder;
  const int cy = client.height() + kCaptionHeight + 2 * kFrameBorder;
  const int q = cx / 4;
  const auto place = [](QWidget* widget, int left, int top, int right, int bottom) {
    widget->setGeometry(left, top, right - left, bottom - top);
  };

  lessonList_ = new QListWidget(this);
  lessonList_->setObjectName(QStringLiteral("control%1").arg(kLessonListId));
  lessonList_->setAccessibleName(tr("Lessons"));
  lessonList_->setFrameShape(QFrame::NoFrame);
  lessonList_->setFocusPolicy(Qt::ClickFocus);  // no tab stop
  lessonList_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  lessonList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lessonList_->setSelectionMode(QAbstractItemView::SingleSelection);
  place(lessonList_, 10, 15, cx - 30, cy - 70);

  okButton_ = new DialogButton(tr("Ok"), this);
  okButton_->setObjectName(QStringLiteral("control%1").arg(kIdOk));
  okButton_->setFocusPolicy(Qt::ClickFocus);
  place(okButton_, q - 30, cy - 70, q + 50, cy - 50);

  cancelButton_ = new DialogButton(tr("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("control%1").arg(kIdCancel));
  cancelButton_->setFocusPolicy(Qt::ClickFocus);
  place(cancelButton_, 3 * q - 50, cy - 70, 3 * q + 50, cy - 50);

  lessonList_->setFont(font_);
  okButton_->setFont(font_);
  cancelButton_->setFont(font_);

  connect(okButton_, &QPushButton::clicked, this, &TLessonsDialog::OnOK);
  connect(cancelButton_, &QPushButton::clicked, this, &TLessonsDialog::OnCancel);

  const lesson::LessonChoices choices =
      lesson::ReadLessonChoices(platform::CurrentDirectory(), lastChosen_);
  for (const std::u16string& entry : choices.entries) {
    lessonList_->addItem(QString::fromStdU16String(entry));
  }
  if (choices.selection) {
    lessonList_->setCurrentRow(*choices.selection);
  } else {
    lessonList_->setCurrentRow(-1);
    lessonList_->clearSelection();
  }
  setFocusProxy(lessonList_);
}

QWidget* TLessonsDialog::GetDlgItem(int id) const {
  switch (id) {
    case kLessonListId:
      return lessonList_;
    case kIdOk:
      return okButton_;
    case kIdCancel:
      return cancelButton_;
    default:
      return nullptr;
  }
}

int TLessonsDialog::DoModal() {
  lessonList_->setFocus();
  return exec();
}

void TLessonsDialog::OnOK() {
  const QList<QListWidgetItem*> selected = lessonList_->selectedItems();
  if (selected.isEmpty()) {
    return;  // nothing chosen: the chooser stays open
  }
  const lesson::LessonChoice choice =
      lesson::ChooseEntry(selected.front()->text().toStdU16String(), platform::CurrentDirectory());
  lastChosen_ = choice.lastChosen;
  chosenPath_ = choice.chosenPath;
  done(0);
}

void TLessonsDialog::OnCancel() {
  done(1);
}

void TLessonsDialog::reject() {
  OnCancel();
}

void TLessonsDialog::keyPressEvent(QKeyEvent* event) {
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    OnOK();
    return;
  }
  if (plain && event->key() == Qt::Key_Escape) {
    OnCancel();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TLessonsDialog::focusInEvent(QFocusEvent* event) {
  QDialog::focusInEvent(event);
  lessonList_->setFocus();
}

}  // namespace voxtar::ui
