// Moving a lesson between its index file and memory: load, save, unload.
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "lesson/index_file.h"
#include "lesson/lesson.h"
#include "lesson/lesson_paths.h"
#include "platform/file_system.h"
#include "text/text_line_reader.h"

namespace voxtar {

namespace {

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
  if (state != LessonState::NoLesson) {
    UnloadLesson();  // a lesson left open must not lose its changes
  }
  ReleaseEntries();
  dryRun_ = options.dryRun;
  saveError_.clear();
  try {
    return Load(chosenPath, options);
  } catch (const std::bad_alloc&) {
    // Nothing has been written: the write-back comes after the last allocation of the load.
    ReleaseEntries();
    state = LessonState::NoLesson;
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
  lessonName = location.lessonName;
  if (location.result != LoadResult::Loaded) {
    outcome.result = location.result;
    if (location.result == LoadResult::FileNotFound) {
      outcome.failure = LoadFailure::PathTooLong;
    }
    return outcome;
  }
  paths.promptDirectory = location.promptDirectory;

  TextLineReader reader;
  reader.Open(location.indexPath);
  if (reader.status() != ReaderStatus::Opened) {
    outcome.result = LoadResult::FileNotFound;
    outcome.failure = FailureFor(reader.error());
    return outcome;
  }

  while (const std::optional<std::u16string_view> line = reader.ReadLine(kReadLineSize)) {
    if (reader.ReadFailed()) {
      break;
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
    const BadLineReason reason = ParseIndexLine(*line, prompts.Add());
    if (reason != BadLineReason::None) {
      ReleaseEntries();
      outcome.result = LoadResult::BadLine;
      outcome.badLine = reader.lineNumber();
      outcome.badLineReason = reason;
      return outcome;
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
  if (!options.dryRun) {
    // Only a lesson that loads gets its directories. Results ignored: they may exist already,
    // and a lesson whose recordings cannot be saved can still be read and edited.
    platform::CreateDirectory(location.promptRoot);
    platform::CreateDirectory(location.promptDirectory);
  }
  prompts.currentIndex = 0;
  outcome.result = LoadResult::Loaded;
  // Every load normalises the index to the written form at once.
  outcome.saved = !options.dryRun && WriteIndex();
  state = LessonState::Saved;
  return outcome;
}

bool Lesson::SaveLesson() {
  if (state == LessonState::NoLesson || dryRun_) {
    saveError_ = state == LessonState::NoLesson ? "No lesson is loaded" : "Loaded without writing";
    return false;
  }
  if (!WriteIndex()) {
    return false;
  }
  state = LessonState::Saved;
  return true;
}

bool Lesson::UnloadLesson() {
  bool saved = true;
  if (state == LessonState::Modified) {
    saved = SaveLesson();  // on failure the changes are lost; the caller says so
  }
  ReleaseEntries();
  state = LessonState::NoLesson;
  dryRun_ = false;
  return saved;
}

bool Lesson::WriteIndex() {
  saveError_.clear();
  platform::SaveFile file(IndexPath());
  try {
    if (!file.Open() ||
        !EncodeIndex(
            prompts,
            [&file](std::string_view piece) { return file.Write(piece.data(), piece.size()); }) ||
        !file.Commit()) {
      saveError_ = file.error();
      return false;
    }
  } catch (const std::bad_alloc&) {
    file.Cancel();
    saveError_ = "Out of memory";
    return false;
  }
  return true;
}

void Lesson::Reset() {
  ReleaseEntries();
  state = LessonState::NoLesson;
  dryRun_ = false;
  paths.lessonDirectory = std::u16string(u"ini") + platform::kSeparator;
}

void Lesson::ReleaseEntries() {
  prompts.Clear();
}

}  // namespace voxtar
