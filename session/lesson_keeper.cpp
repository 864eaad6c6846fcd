// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/lesson_keeper.h"

#include <QString>
#include <ctime>

#include "lesson/lesson_paths.h"
#include "platform/save_file.h"
#include "platform/utf8.h"
#include "session/failure_texts.h"

namespace voxtar::session {

LessonKeeper::LessonKeeper(lesson::Lesson& lesson, Operator& person)
    : lesson_(lesson), operator_(person) {}

std::string LessonKeeper::IndexName() const {
  const std::u16string path = lesson_.IndexPath();
  return platform::ToUtf8(std::u16string_view(path).substr(path.rfind(u'/') + 1));
}

std::optional<lesson::LoadOutcome> LessonKeeper::Load(std::u16string_view chosenPath) {
  lock_.reset();
  bool readOnly = false;
  const lesson::LessonLocation location = lesson::LocateLesson(chosenPath);
  if (location.result == lesson::LoadResult::Loaded) {
    lock_.emplace(location.indexPath);
    switch (lock_->Acquire()) {
      case platform::LockFile::Result::Acquired:
        break;
      case platform::LockFile::Result::Held:
        if (!AskAboutHolder(location.indexPath, &readOnly)) {
          lock_.reset();
          return std::nullopt;
        }
        break;
      case platform::LockFile::Result::Failed:
        // No lock can be made beside the index (a read-only medium, say): nothing else can write
        // there either, and the load says what it can.
        lock_.reset();
        break;
    }
  }
  const lesson::LoadOutcome outcome = lesson_.LoadLesson(chosenPath, {.dryRun = readOnly});
  if (outcome.result != lesson::LoadResult::Loaded || readOnly) {
    lock_.reset();
  }
  if (outcome.result == lesson::LoadResult::Loaded && outcome.linkRefusal) {
    operator_.TellViewingOnly(outcome.linkRefusal->link, outcome.linkRefusal->target);
  }
  if (outcome.result == lesson::LoadResult::Loaded && !outcome.overlong.empty()) {
    operator_.TellLinesBeyondLimits(lesson_.IndexPath(), outcome.overlong.front(),
                                    outcome.overlongCount);
  }
  return outcome;
}

bool LessonKeeper::AskAboutHolder(const std::u16string& indexPath, bool* readOnly) {
  const platform::LockFile::Holder holder = lock_->holder();
  // A lock file still being made names no host: it is nobody's on another host.
  const bool otherHost = holder.elsewhere;
  // A holder whose lock nobody keeps any more is gone; one on another host cannot be seen from
  // here, so taking it over is the operator's call, made twice.
  const bool offerTakeOver = holder.lockGone || otherHost;
  switch (operator_.AskAboutHeldLesson(indexPath, holder, offerTakeOver)) {
    case Operator::HeldLesson::OpenReadOnly:
      *readOnly = true;
      return true;
    case Operator::HeldLesson::TakeOver:
      break;
    case Operator::HeldLesson::Cancel:
      return false;
  }
  if (!offerTakeOver ||
      (otherHost && !holder.lockGone && !operator_.ConfirmTakeOver(holder.host))) {
    return false;
  }
  return lock_->TakeOver() == platform::LockFile::Result::Acquired;
}

LessonKeeper::WriteBack LessonKeeper::Save(bool unloading) {
  if (lesson_.state != lesson::LessonState::Modified || lesson_.readOnly()) {
    return WriteBack::Written;
  }
  for (;;) {
    if (lesson_.SaveLesson()) {
      return WriteBack::Written;
    }
    if (lesson_.lastSave().changedOnDisk) {
      const std::time_t now = std::time(nullptr);
      if (!operator_.AskToOverwriteChangedIndex(lesson_.IndexPath(),
                                                platform::BackupName(IndexName(), now))) {
        return WriteBack::Cancelled;
      }
      if (lesson_.SaveLesson({.overwriteChanged = true, .backupTime = now})) {
        return WriteBack::Written;
      }
    }
    const platform::SaveFailure& failure = lesson_.lastSave().failure;
    const std::string error = failure.kind == platform::SaveFailure::Kind::None
                                  ? lesson_.saveError()
                                  : OperatorText(failure).toStdString();
    switch (operator_.AskAfterFailedWrite(lesson_.IndexPath(), error, unloading)) {
      case Operator::FailedWrite::Retry:
        continue;
      case Operator::FailedWrite::DiscardChanges:
        if (unloading) {
          return WriteBack::Discarded;
        }
        return WriteBack::Cancelled;
      case Operator::FailedWrite::Cancel:
        return WriteBack::Cancelled;
    }
  }
}

void LessonKeeper::Released() {
  lock_.reset();
}

}  // namespace voxtar::session
