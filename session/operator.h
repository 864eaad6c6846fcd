// SPDX-License-Identifier: GPL-3.0-or-later
// The person at the window, as a recording session meets them: the text they have typed for the
// current prompt, the questions that keep work from being lost, and what must be said when a
// lesson or a take did not come out as asked. The session asks in its own terms (a choice, a
// path, an error text); the window words each one and shows it as a box, and tests answer as
// they please.
//
// Threads: GUI thread. A question returns when it has been answered.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "lesson/lesson.h"
#include "platform/lock_file.h"

namespace voxtar::session {

class Operator {
 public:
  virtual ~Operator() = default;

  // The current prompt's text as the operator has it now: it reaches the lesson only when the
  // session stores it (a step, Record, a save).
  virtual std::u16string TypedText() const = 0;

  // ---- The lesson file ----
  enum class HeldLesson { OpenReadOnly, TakeOver, Cancel };
  // The lesson at `indexPath` is open in another window, `holder`'s. TakeOver is offered only
  // when `offerTakeOver`.
  virtual HeldLesson AskAboutHeldLesson(const std::u16string& indexPath,
                                        const platform::LockFile::Holder& holder,
                                        bool offerTakeOver) = 0;
  // The holder is a window on `host`, which may still be open: take the lesson over all the same?
  virtual bool ConfirmTakeOver(const std::string& host) = 0;
  // The index `link` leads to `target`, outside the working directory: the lesson is open for
  // viewing only.
  virtual void TellViewingOnly(const std::filesystem::path& link,
                               const std::filesystem::path& target) = 0;
  // The index at `indexPath` has lines beyond the limits (the first of them `first`, `count` in
  // all) that a write-back would cut: the lesson is open for viewing only.
  virtual void TellLinesBeyondLimits(const std::u16string& indexPath,
                                     const lesson::OverlongLine& first, int count) = 0;
  // The index changed on disk since it was read: overwrite it, the other version kept beside it
  // as `backupName`?
  virtual bool AskToOverwriteChangedIndex(const std::u16string& indexPath,
                                          const std::string& backupName) = 0;
  enum class FailedWrite { Retry, DiscardChanges, Cancel };
  // The index could not be written (`error`, worded for the operator). DiscardChanges is offered
  // only when `unloading`.
  virtual FailedWrite AskAfterFailedWrite(const std::u16string& indexPath, const std::string& error,
                                          bool unloading) = 0;

  // ---- Loading a lesson ----
  // The lesson chosen as `chosenPath` did not load (its index: `indexPath`).
  virtual void TellNotLoaded(lesson::LoadResult result, std::u16string_view chosenPath,
                             const std::u16string& indexPath) = 0;
  // The lesson loaded, but its index could not be written back.
  virtual void TellIndexNotWritten(const std::u16string& indexPath) = 0;
  // The working directory's delivery profile cannot be read (`error`: file, line, key); the
  // takes are judged by the built-in one meanwhile.
  virtual void TellProfileUnreadable(const std::string& error) = 0;

  // ---- Takes ----
  enum class UnsavedTake { SaveAgain, Discard, Cancel };
  // The take of prompt `name` is not saved (`cause`, worded for the operator), and what comes next
  // would drop it.
  virtual UnsavedTake AskAboutUnsavedTake(const std::u16string& name, const std::string& cause) = 0;
  // The take of prompt `name` reached the longest sound a WAV file can hold: stopped and saved.
  virtual void TellTakeFilledItsFile(const std::u16string& name) = 0;
  // There is no current prompt to store the typed text in.
  virtual void TellNoCurrentPrompt() = 0;
};

}  // namespace voxtar::session
