// SPDX-License-Identifier: GPL-3.0-or-later
// The session's care for the lesson file, with its questions to the operator, so that nothing
// typed is ever lost and no lesson has two writers:
// - a lesson is opened under its lock; one held by another window is opened read-only, taken over
//   or left, as the operator chooses;
// - an index that may not be written (a link leading outside the working directory, a line
//   beyond the limits that a write-back would cut) opens for viewing only, and the operator is
//   told why;
// - a write-back that fails keeps the lesson loaded and asks: retry, discard the changes, or
//   cancel what was about to drop them;
// - an index changed on disk by another program is never written over silently: the operator
//   chooses to overwrite it, keeping the other version as a backup the question names.
//
// Ownership: the session owns the keeper beside its Lesson. Threads: GUI thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lesson/lesson.h"
#include "lesson/lesson_lock.h"
#include "session/operator.h"

namespace voxtar::session {

class LessonKeeper {
 public:
  // `person` is asked; both outlive the keeper.
  LessonKeeper(lesson::Lesson& lesson, Operator& person);

  // LoadLesson under the lesson's lock. Nothing when the operator chose not to open a lesson held
  // elsewhere; otherwise the load's outcome (and the lesson read-only when so opened or when its
  // index may not be written, once the operator was told why).
  std::optional<lesson::LoadOutcome> Load(std::u16string_view chosenPath);

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
  std::string IndexName() const;

  lesson::Lesson& lesson_;
  Operator& operator_;
  std::optional<lesson::LessonLock> lock_;
};

}  // namespace voxtar::session
