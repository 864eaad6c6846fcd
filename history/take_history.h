// SPDX-License-Identifier: GPL-3.0-or-later
// The take history of one prompt directory: a save that replaces a take first keeps the earlier
// take in a hidden folder beside it, so a take recorded over a good one by mistake can be undone.
// The earlier take is not copied: it is hard-linked into the history just before the new take is
// renamed over it (moved there where the file system has no hard links), and the link goes again
// if the new take could not be put in place. Each earlier take is named after the prompt's take
// and the time it was replaced (by a save or a restore), so the history is in the order of undo:
// restoring 1 twice swaps back whatever came before. The file keeps its own modification time,
// the time it was saved. Entries of earlier versions, named by that time, list in the same order.
//
// A change stopped half way (killed, power lost) heals: a history entry that is the take itself
// (the link a change made before it was stopped) is no earlier take. Listings leave it out, and
// the next change removes it.
//
// Writes stay inside the working directory: the history is a real folder in the prompt directory
// (a symbolic link in its place is refused), its entries are handled through the folder's open
// descriptor without following links, and takes are written through platform::SaveFile confined
// to the working directory.
//
// A TakeHistory holds only its two paths; every call opens what it needs and closes it again, so
// calls may come from any thread (the dialog saves on a worker). Two calls that change the same
// prompt at the same time are not ordered; the lesson lock keeps a second writer away.
//
// No Qt.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "audio/wave_element.h"
#include "measures/take_measures.h"
#include "platform/save_file.h"

namespace voxtar::history {

// The hidden folder of a prompt directory that holds its earlier takes.
inline constexpr std::u16string_view kHistoryFolder = u".history";

enum class Status {
  Done,
  NothingCaptured,  // a take without a single frame is not saved
  NoSuchTake,       // there is no earlier take of that number
  Failed,           // see Result::error
};

// What failed, for a window that words it itself; Result::error says it in English.
enum class Problem {
  None,
  NothingCaptured,
  NotATakeName,              // figure: the name
  NoSuchTake,                // figures: the number, the name
  FolderNotMade,             // the folder of earlier takes; the system's cause
  FolderIsLink,              // the folder of earlier takes is a symbolic link
  FolderNotOpened,           // the system's cause
  PromptDirectoryNotOpened,  // the system's cause
  EarlierNotKept,            // the system's cause
  EarlierNotRegular,         // the take to keep is not a regular file
  EarlierCrowded,            // too many takes replaced in the same millisecond
  TakeNotWritten,            // the sound file's writer failed: `detail` says why, in English
  TakeNotSaved,              // the file's save failed: `save`
  EarlierNotRestored,        // the system's cause
  OtherTakeInPlace,          // after a restore, the take in place is not the earlier take
  NegativeKeep,
  EarlierNotRemoved,  // the system's cause
};

struct Result {
  Status status = Status::Done;
  std::string error;     // plain English with the whole cause (UTF-8), empty when Done
  std::error_code code;  // the system's cause of a failure, when it had one
  Problem problem = Problem::None;
  std::string path;            // the file or name at fault (UTF-8)
  int number = 0;              // with NoSuchTake
  std::string detail;          // with TakeNotWritten
  platform::SaveFailure save;  // with TakeNotSaved, and TakeNotWritten when the file failed

  bool ok() const { return status == Status::Done; }
};

using SavedTime = std::chrono::sys_time<std::chrono::milliseconds>;

struct EarlierTake {
  int number = 0;        // 1 = the most recently replaced
  std::u16string name;   // the take it was, as named in the prompt directory
  std::u16string path;   // the file in the history (a WAV file)
  SavedTime saved;       // when it was saved (its file's modification time)
  SavedTime replaced;    // when it became an earlier take
  double seconds = 0.0;  // its length, from the header
  std::string error;     // why it cannot be read (then seconds is 0 and there are no measures)
  // The same as a code, for a window that words it in its own language; with CannotOpen,
  // `error` is the system's message.
  enum class Unreadable { No, CannotOpen, NotASoundFile, NoSampleRate };
  Unreadable unreadable = Unreadable::No;
  std::optional<measures::TakeMeasures> measures;  // with Detail::Measures, to be judged
};

// What Earlier reads of each take: the header only, or the whole take for its measures.
enum class Detail { Length, Measures };

struct Freed {
  std::uint64_t files = 0;  // earlier takes removed
  std::uint64_t bytes = 0;  // of the files whose last link went
};

// The steps of a change that leave something on disk, in order.
enum class Step {
  TakeWritten,   // Save: the new take is written beside the take, not yet in its place
  EarlierKept,   // the take that is replaced is linked (or moved) into the history
  TakeReplaced,  // the new or restored take is in place
};

class TakeHistory {
 public:
  // `promptDirectory`: where the prompts' takes lie (with or without a trailing separator);
  // `workingDirectory`: the directory no take may be written outside of.
  TakeHistory(std::u16string_view promptDirectory, std::u16string_view workingDirectory);

  // Writes `take` as the take `name`, whole or not at all, keeping the take it replaces. A take
  // without a frame is NothingCaptured and writes nothing. On failure the take and the history
  // are as they were.
  Result Save(std::u16string_view name, const audio::WaveElement& take) const;

  // The same in two steps, for a writer of its own: a file to write the take `name` into, then
  // its commit, which keeps the take it replaces. No file when `name` is not a take's name.
  std::unique_ptr<platform::SaveFile> NewTakeFile(std::u16string_view name) const;
  Result Commit(platform::SaveFile& file) const;

  // The earlier takes of the take `name` (any letter case), most recently replaced first.
  Result Earlier(std::u16string_view name, std::vector<EarlierTake>* takes,
                 Detail detail = Detail::Length) const;
  // How many earlier takes `name` has, without reading them (0 when the history is unreadable).
  int CountEarlier(std::u16string_view name) const;

  // Earlier take `number` becomes the take `name`, and the take it replaces joins the history as
  // earlier take 1: restoring 1 twice swaps back. At no moment is there no take where there was
  // one (except on a file system without hard links, where the replaced take is moved into the
  // history first). Done only once the take there is the earlier take.
  Result Restore(std::u16string_view name, int number) const;

  // Removes all but the `keep` most recently replaced earlier takes of every take of the directory.
  Result Prune(int keep, Freed* freed) const;

  // Called after each step of a change, for tests that stop a change there as a kill would.
  void OnStep(std::function<void(Step)> hook) { onStep_ = std::move(hook); }

 private:
  void Reached(Step step) const {
    if (onStep_) {
      onStep_(step);
    }
  }

  std::u16string promptDirectory_;  // with a trailing separator
  std::u16string workingDirectory_;
  std::function<void(Step)> onStep_;
};

}  // namespace voxtar::history
