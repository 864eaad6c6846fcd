// SPDX-License-Identifier: GPL-3.0-or-later
// Moving a lesson between its index file and memory: load, save, unload.
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "lesson/index_file.h"
#include "lesson/lesson.h"
#include "lesson/lesson_paths.h"
#include "platform/file_system.h"
#include "text/text_line_reader.h"

namespace voxtar::lesson {

namespace {

// Lines are read whole: as long as the largest file the reader takes.
constexpr std::size_t kWholeLine = text::TextLineReader::kMaxFileSize;

void NoteOverlong(LoadOutcome& outcome, int line, LineLimit limit, const PromptEntry& entry) {
  ++outcome.overlongCount;
  if (outcome.overlong.size() < LoadOutcome::kMaxOverlongLines) {
    outcome.overlong.push_back(
        {line, limit, limit == LineLimit::NameTooLong ? entry.name.size() : entry.text.size()});
  }
}

// The whole of a line the reader hands back in pieces (a long 8-bit or UTF-8 line), from its
// first piece on; `dropped` tells whether any piece lost text.
std::u16string_view ReadPieces(text::TextLineReader& reader, std::u16string_view first,
                               std::u16string& pieces, bool& dropped) {
  pieces.assign(first);
  while (reader.lineContinues()) {
    const std::optional<std::u16string_view> piece = reader.ReadLine(kWholeLine);
    if (!piece || reader.ReadFailed()) {
      break;
    }
    pieces.append(*piece);
    dropped = dropped || reader.droppedText();
  }
  return pieces;
}

LoadFailure FailureFor(platform::FileError error) {
  switch (error) {
    case platform::FileError::None:
      return LoadFailure::None;
    case platform::FileError::NotFound:
      return LoadFailure::NotFound;
    case platform::FileError::PermissionDenied:
      return LoadFailure::PermissionDenied;
    case platform::FileError::NotRegularFile:
      return LoadFailure::NotRegularFile;
    case platform::FileError::TooLarge:
      return LoadFailure::TooLarge;
    case platform::FileError::ReadFailed:
      return LoadFailure::ReadFailed;
    case platform::FileError::OutOfMemory:
      return LoadFailure::OutOfMemory;
    case platform::FileError::Other:
      break;
  }
  return LoadFailure::Other;
}

}  // namespace

LoadOutcome Lesson::LoadLesson(std::u16string_view chosenPath) {
  return LoadLesson(chosenPath, LoadOptions{});
}

LoadOutcome Lesson::LoadLesson(std::u16string_view chosenPath, LoadOptions options) {
  // A lesson left open must not lose its changes.
  if (state != LessonState::NoLesson && !UnloadLesson()) {
    LoadOutcome outcome;
    outcome.failure = LoadFailure::LessonStillOpen;
    return outcome;
  }
  DiscardLesson();
  lastSave_ = {};
  if (options.dryRun) {
    readOnlyCause_.error = "Loaded without writing";
  }
  try {
    return Load(chosenPath, options);
  } catch (const std::bad_alloc&) {
    // Nothing has been written: the write-back comes after the last allocation of the load.
    DiscardLesson();
    LoadOutcome outcome;
    outcome.result = LoadResult::FileNotFound;
    outcome.failure = LoadFailure::OutOfMemory;
    return outcome;
  }
}

LoadOutcome Lesson::Load(std::u16string_view chosenPath, LoadOptions options) {
  LoadOutcome outcome;
  const LessonLocation location = LocateLesson(chosenPath);
  paths.lessonDirectory = location.lessonDirectory;
  paths.workingDirectory = location.workingDirectory;
  lessonName = location.lessonName;
  if (location.result != LoadResult::Loaded) {
    outcome.result = location.result;
    if (location.result == LoadResult::FileNotFound) {
      outcome.failure = LoadFailure::PathTooLong;
    }
    return outcome;
  }
  paths.promptDirectory = location.promptDirectory;

  if (!options.dryRun) {
    // Taken before reading: a change made while it is read shows as a change, never the reverse.
    onDisk_ = platform::IdentifyFile(location.indexPath);
  }
  text::TextLineReader reader;
  reader.Open(location.indexPath);
  if (reader.status() != text::ReaderStatus::Opened) {
    outcome.result = LoadResult::FileNotFound;
    outcome.failure = FailureFor(reader.error());
    return outcome;
  }

  // Lines are read whole, however long: one beyond the limits is kept as it is, so that nothing
  // of it is lost, and the lesson stays read-only.
  std::u16string pieces;
  while (std::optional<std::u16string_view> line = reader.ReadLine(kWholeLine)) {
    if (reader.ReadFailed()) {
      break;
    }
    bool dropped = reader.droppedText();
    if (reader.lineContinues()) [[unlikely]] {
      line = ReadPieces(reader, *line, pieces, dropped);
      if (reader.ReadFailed()) {
        break;
      }
    }
    // The read after a final line feed yields an empty line: the end, not a line.
    if (line->empty() && reader.AtEnd()) {
      break;
    }
    if (prompts.count == kMaxPrompts) {
      ReleaseEntries();
      outcome.result = LoadResult::FileNotFound;
      outcome.failure = LoadFailure::TooManyPrompts;
      return outcome;
    }
    PromptEntry& entry = prompts.Add();
    const BadLineReason reason = ParseIndexLine(*line, entry);
    if (reason != BadLineReason::None) {
      ReleaseEntries();
      outcome.result = LoadResult::BadLine;
      outcome.badLine = reader.lineNumber();
      outcome.badLineReason = reason;
      return outcome;
    }
    if (entry.name.size() > kMaxPromptNameLength || entry.text.size() > kMaxPromptTextLength ||
        dropped) [[unlikely]] {
      const LineLimit limit = LineLimitOf(entry);
      NoteOverlong(outcome, reader.lineNumber(),
                   limit == LineLimit::None ? LineLimit::TextAfterBreak : limit, entry);
    }
    if (reader.AtEnd()) {
      break;
    }
  }
  // A read error is no end of file: the lesson read so far would be written back truncated.
  if (reader.ReadFailed()) {
    ReleaseEntries();
    outcome.result = LoadResult::FileNotFound;
    outcome.failure = FailureFor(reader.error());
    return outcome;
  }
  reader.Close();

  if (prompts.count == 0) {
    outcome.result = LoadResult::FileEmpty;
    return outcome;
  }
  prompts.currentIndex = 0;
  if (outcome.overlongCount > 0) {
    // Written back, the lines beyond the limits would lose text.
    const OverlongLine& first = outcome.overlong.front();
    readOnlyCause_.error =
        "Line " + std::to_string(first.line) + " is beyond the limits (" + first.Text() + ")";
    outcome.result = LoadResult::Loaded;
    state = LessonState::Saved;
    return outcome;
  }
  if (!options.dryRun) {
    // Only a lesson that loads gets its directories. Results ignored: they may exist already,
    // and a lesson whose recordings cannot be saved can still be read and edited.
    platform::CreateDirectory(location.promptRoot);
    platform::CreateDirectory(location.promptDirectory);
  }
  outcome.result = LoadResult::Loaded;
  // Every load normalises the index to the written form at once.
  outcome.saved = !options.dryRun && WriteIndex(false);
  if (lastSave_.linkRefusal) {
    outcome.linkRefusal = lastSave_.linkRefusal;
    readOnlyCause_ = lastSave_;
  }
  state = LessonState::Saved;
  return outcome;
}

bool Lesson::SaveLesson() {
  return SaveLesson(SaveOptions{});
}

bool Lesson::SaveLesson(SaveOptions options) {
  if (state == LessonState::NoLesson || readOnly()) {
    lastSave_ = readOnlyCause_;
    if (state == LessonState::NoLesson) {
      lastSave_.error = "No lesson is loaded";
    }
    return false;
  }
  if (!WriteIndex(options.overwriteChanged, options.backupTime)) {
    return false;
  }
  state = LessonState::Saved;
  return true;
}

bool Lesson::UnloadLesson() {
  const bool saved = state != LessonState::Modified || SaveLesson();
  if (!saved && !readOnly()) {
    return false;  // kept: the caller retries, overwrites or discards
  }
  DiscardLesson();
  return saved;
}

void Lesson::DiscardLesson() {
  ReleaseEntries();
  state = LessonState::NoLesson;
  readOnlyCause_ = {};
  onDisk_.reset();
}

bool Lesson::WriteIndex(bool overwriteChanged, std::time_t backupTime) {
  lastSave_ = {};
  platform::SaveFile file(IndexPath(), paths.workingDirectory);
  if (onDisk_) {
    file.ExpectTarget(*onDisk_, overwriteChanged, backupTime);
  }
  try {
    if (!file.Open() ||
        !EncodeIndex(
            prompts,
            [&file](std::string_view piece) { return file.Write(piece.data(), piece.size()); }) ||
        !file.Commit()) {
      lastSave_.error = file.error();
      lastSave_.failure = file.failure();
      lastSave_.changedOnDisk = file.changedOnDisk();
      lastSave_.linkRefusal = file.linkRefusal();
      return false;
    }
  } catch (const std::bad_alloc&) {
    file.Cancel();
    lastSave_.error = "Out of memory";
    return false;
  }
  onDisk_ = file.written();
  lastSave_.backup = file.backup();
  return true;
}

void Lesson::Reset() {
  DiscardLesson();
  paths.lessonDirectory = std::u16string(u"ini") + platform::kSeparator;
}

void Lesson::ReleaseEntries() {
  prompts.Clear();
}

}  // namespace voxtar::lesson
