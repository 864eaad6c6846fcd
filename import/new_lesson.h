// SPDX-License-Identifier: GPL-3.0-or-later
// A new lesson from a list of sentences: its index, its prompt directory and its line in the
// lesson list. Everything is checked before anything is written, and both files are written
// whole or not at all.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "import/lesson_list_entry.h"
#include "platform/lock_file.h"

namespace voxtar::import {

struct NewLessonOptions {
  std::optional<std::u16string> caption;  // the caption line; default: the lesson name
  std::optional<std::u16string> prefix;   // of the names made for plain lines; default: the
                                          // lesson name and "_" (unit05_001.wav)
  bool force = false;                     // replace an index that exists
  bool takeOver = false;                  // break the lesson's lock whoever holds it
};

// The file a refusal or failure concerns.
enum class Concern { Sentences, Index, LessonList };

struct NewLessonOutcome {
  bool made = false;
  Concern concern = Concern::Index;  // without `made`
  int line = 0;             // with Concern::Sentences: the 1-based line, 0 for the whole file
  std::string reason;       // without `made`
  bool badRequest = false;  // refused for what was asked (the index path, the prefix)
  std::optional<platform::LockFile::Holder> holder;  // who holds the lock that refused it
  bool indexWritten = false;  // the index was written (also when the lesson list then failed)
  int prompts = 0;
  Listing listing = Listing::Added;
  std::u16string indexPath;  // the index written, as the lesson loads it
  std::u16string listPath;   // the lesson list (empty when the index path was refused)
};

// Makes the lesson `indexPath` names (an absolute path below a directory named "ini"; whatever
// its extension, the ".idx" file of that name) from the list at `sentencesPath`
// (ReadSentenceList), and adds it to the lesson list of its working directory (AddToLessonList),
// the directory before the path's first "ini" directory. An index that exists is replaced only
// with `force`. The prompt directories are created as a load of the lesson creates them.
//
// The index must lie in that "ini" folder or below it, links followed: no "." or ".." on the way
// and no folder leading elsewhere. The lesson's lock is held throughout, as a window holds it,
// and the lesson list is read, changed and replaced under a lock of its own, so that two lessons
// made at once are both listed.
NewLessonOutcome MakeLesson(std::u16string_view indexPath, std::u16string_view sentencesPath,
                            const NewLessonOptions& options);

}  // namespace voxtar::import
