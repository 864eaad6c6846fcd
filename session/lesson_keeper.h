// The main dialog's care for the lesson file, with its questions, so that nothing typed is ever
// lost and no lesson has two writers:
// - a lesson is opened under its lock; one held by another window is opened read-only, taken over
//   or left, as the operator chooses;
// - an index that may not be written (a link leading outside the working directory) opens for
//   viewing only, with one box that says why;
// - a write-back that fails keeps the lesson loaded and asks: retry, discard the changes, or
//   cancel what was about to drop them;
// - an index changed on disk by another program is never written over silently: the operator
//   chooses to overwrite it, keeping the other version as a backup the question names.
//
// Ownership: the dialog owns the keeper beside its Lesson. Threads: GUI thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <string>
#include <string_view>

#include "lesson/lesson.h"
#include "lesson/lesson_lock.h"

namespace voxtar {

namespace platform {
class WindowServices;
}

class LessonKeeper {
 public:
  // `owner`: the window the questions belong to.
  LessonKeeper(Lesson& lesson, platform::WindowServices& services, QWidget* owner);

  // LoadLesson under the lesson's lock. Nothing when the operator chose not to open a lesson held
  // elsewhere; otherwise the load's outcome (and the lesson read-only when so opened or when its
  // index may not be written, after the box that says why).
  std::optional<LoadOutcome> Load(std::u16string_view chosenPath);

  enum class WriteBack { Written, Discarded, Cancelled };
  // Writes a Modified lesson back, asking when that fails (Retry, Discard changes when
  // `unloading`, Cancel) or when the index changed on disk (Overwrite, Cancel). Written also when
  // nothing needed writing; Discarded leaves it to the caller to release the lesson unwritten.
  WriteBack Save(bool unloading);

  // The lesson was unloaded: its lock goes.
  void Released();

 private:
  // The question for a lock held elsewhere: true to open (read-only, or after taking it over).
  bool AskAboutHolder(const std::u16string& indexPath, bool* readOnly);
  QString IndexName() const;

  Lesson& lesson_;
  platform::WindowServices& services_;
  QWidget* owner_;
  std::optional<LessonLock> lock_;
};

}  // namespace voxtar
