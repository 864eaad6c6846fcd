// SPDX-License-Identifier: GPL-3.0-or-later
#include "import/new_lesson.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include "import/sentence_list.h"
#include "lesson/index_file.h"
#include "lesson/lesson_lock.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "text/text_line_reader.h"
#include "text/wide_string.h"

namespace voxtar::import {

namespace {

namespace fs = std::filesystem;

// How long a `new` waits for another that changes the lesson list: a moment each.
constexpr std::chrono::seconds kListPatience{10};

NewLessonOutcome Refused(Concern concern, std::string reason, int line = 0) {
  NewLessonOutcome outcome;
  outcome.concern = concern;
  outcome.line = line;
  outcome.reason = std::move(reason);
  return outcome;
}

NewLessonOutcome BadRequest(std::string reason) {
  NewLessonOutcome outcome = Refused(Concern::Index, std::move(reason));
  outcome.badRequest = true;
  return outcome;
}

NewLessonOutcome Held(Concern concern, const platform::LockFile& lock) {
  NewLessonOutcome outcome = Refused(concern, lesson::DescribeHolder(lock.holder()));
  outcome.holder = lock.holder();
  return outcome;
}

// Why the lesson would not lie inside its working directory, or empty. A "." or ".." below the
// "ini" folder, or as the lesson name, could lead anywhere, and the prompt directory along with
// it; so could a link on the way, which the real path of the lesson directory shows.
std::string OutsideFault(const lesson::LessonLocation& location) {
  std::u16string_view rest = location.subPath;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(platform::kSeparator), rest.size());
    const std::u16string_view folder = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (folder == u"." || folder == u"..") {
      return "\"" + platform::ToUtf8(folder) +
             "\" in the path: a lesson lies in the \"ini\" folder or a folder below it";
    }
  }
  if (location.lessonName == u"." || location.lessonName == u"..") {
    return "the path names no lesson";
  }
  std::error_code error;
  const fs::path root =
      fs::weakly_canonical(platform::ResolvePath(location.workingDirectory), error);
  const fs::path directory =
      fs::weakly_canonical(platform::ResolvePath(location.lessonDirectory), error);
  if (error) {
    return "the path cannot be followed: " + error.message();
  }
  const fs::path below = directory.lexically_relative(root);
  std::u16string first = below.empty() ? std::u16string() : below.begin()->u16string();
  text::FoldLower(first);
  if (first != lesson::workdir::kIndexDirectory) {
    return "it leads to " + directory.native() +
           ", not into the \"ini\" folder of its working directory " + root.native();
  }
  return {};
}

std::string Describe(platform::FileError error) {
  switch (error) {
    case platform::FileError::None:
    case platform::FileError::NotFound:
      break;
    case platform::FileError::PermissionDenied:
      return "permission denied";
    case platform::FileError::NotRegularFile:
      return "not a regular file";
    case platform::FileError::TooLarge:
      return "file too large (more than " +
             std::to_string(text::TextLineReader::kMaxFileSize >> 20) + " MiB)";
    case platform::FileError::ReadFailed:
      return "read error";
    case platform::FileError::OutOfMemory:
      return "out of memory";
    case platform::FileError::Other:
      return "cannot be opened";
  }
  return "file not found";
}

// The whole file, of at most the size the line reader takes.
platform::FileError ReadWhole(std::u16string_view path, std::string& bytes) {
  platform::InputFile file;
  if (const platform::FileError error = file.Open(path); error != platform::FileError::None) {
    return error;
  }
  std::vector<char> piece(std::size_t{64} * 1024);
  for (;;) {
    const std::ptrdiff_t got = file.Read(piece.data(), piece.size());
    if (got < 0) {
      return platform::FileError::ReadFailed;
    }
    if (got == 0) {
      return platform::FileError::None;
    }
    bytes.append(piece.data(), static_cast<std::size_t>(got));
    if (bytes.size() > text::TextLineReader::kMaxFileSize) {
      return platform::FileError::TooLarge;
    }
  }
}

// The directory before the index path's first "ini" directory: the prompt root without its
// "/Prompt/".
std::u16string WorkingDirectory(const lesson::LessonLocation& location) {
  return location.promptRoot.substr(
      0, location.promptRoot.size() - lesson::workdir::kPromptFolder.size() - 2);
}

NewLessonOutcome Make(const lesson::LessonLocation& location, const std::u16string& listPath,
                      std::u16string_view sentencesPath, const NewLessonOptions& options) {
  SentenceList list;
  {
    std::string bytes;
    if (const platform::FileError error = ReadWhole(sentencesPath, bytes);
        error != platform::FileError::None) {
      return Refused(Concern::Sentences, Describe(error));
    }
    list = ReadSentenceList(bytes, options.prefix.value_or(location.lessonName + u"_"));
  }
  if (list.refusal && list.refusal->prefix) {
    return BadRequest(list.refusal->reason);
  }
  if (list.refusal) {
    return Refused(Concern::Sentences, list.refusal->reason, list.refusal->line);
  }
  // A window or another writer that has the lesson keeps it; a lock that cannot be made is no
  // holder, and the write then says what is wrong.
  lesson::LessonLock lock(location.indexPath);
  if ((options.takeOver ? lock.TakeOver() : lock.Acquire()) == lesson::LessonLock::Result::Held) {
    return Held(Concern::Index, lock);
  }
  std::error_code error;
  if (!options.force &&
      fs::exists(fs::symlink_status(platform::ResolvePath(location.indexPath), error))) {
    return Refused(Concern::Index, "exists already (--force replaces it)");
  }

  const std::u16string workingDirectory = WorkingDirectory(location);
  // Read, changed and replaced by one `new` at a time.
  platform::LockFile listLock(lesson::LessonLockPath(listPath));
  if (listLock.Acquire(kListPatience) == platform::LockFile::Result::Held &&
      (!options.takeOver || listLock.TakeOver() == platform::LockFile::Result::Held)) {
    return Held(Concern::LessonList, listLock);
  }
  std::string listBytes;
  std::optional<std::string_view> existing;
  std::vector<std::u16string> offered;
  if (const platform::FileError listError = ReadWhole(listPath, listBytes);
      listError == platform::FileError::None) {
    existing = listBytes;
  } else if (listError == platform::FileError::NotFound) {
    offered = platform::ListDirectory(lesson::workdir::IniDirectory(workingDirectory),
                                      lesson::workdir::kIndexPattern);
  } else {
    return Refused(Concern::LessonList, Describe(listError));
  }
  const ListEdit edit = AddToLessonList(existing, options.caption.value_or(location.lessonName),
                                        location.subPath + location.lessonName + u".ini", offered);
  if (!edit.refusal.empty()) {
    return Refused(Concern::LessonList, edit.refusal);
  }

  lesson::PromptList prompts;
  for (const ImportedPrompt& prompt : list.prompts) {
    lesson::PromptEntry& entry = prompts.Add();
    entry.name = prompt.name;
    entry.text = prompt.text;
  }
  // Both files are filled before either replaces anything: a write that fails on the way
  // leaves both as they were.
  platform::SaveFile indexFile(location.indexPath, workingDirectory);
  if (!indexFile.Open() || !EncodeIndex(prompts, [&indexFile](std::string_view piece) {
        return indexFile.Write(piece.data(), piece.size());
      })) {
    return Refused(Concern::Index, "cannot write file: " + indexFile.error());
  }
  const bool listChanges = edit.listing == Listing::Added;
  platform::SaveFile listFile(listPath, workingDirectory);
  if (listChanges && (!listFile.Open() || !listFile.Write(edit.bytes.data(), edit.bytes.size()))) {
    return Refused(Concern::LessonList, "cannot write file: " + listFile.error());
  }
  if (!indexFile.Commit()) {
    return Refused(Concern::Index, "cannot write file: " + indexFile.error());
  }
  // As a load creates them; results ignored as there: they may exist already.
  platform::CreateDirectory(location.promptRoot);
  platform::CreateDirectory(location.promptDirectory);

  NewLessonOutcome outcome;
  if (listChanges && !listFile.Commit()) {
    outcome = Refused(Concern::LessonList, "cannot write file: " + listFile.error());
  } else {
    outcome.made = true;
  }
  outcome.indexWritten = true;
  outcome.prompts = prompts.count;
  outcome.listing = edit.listing;
  return outcome;
}

}  // namespace

NewLessonOutcome MakeLesson(std::u16string_view indexPath, std::u16string_view sentencesPath,
                            const NewLessonOptions& options) {
  const lesson::LessonLocation location = lesson::LocateLesson(indexPath);
  NewLessonOutcome outcome;
  if (location.result == lesson::LoadResult::InvalidDirectory) {
    outcome = BadRequest("invalid directory: an index lies below a directory named \"ini\"");
  } else if (location.result != lesson::LoadResult::Loaded) {
    outcome = BadRequest("path too long");
  } else if (location.lessonName.empty()) {
    // "Ini/" or "Ini/.idx" would make a lesson without a name, listed as ".ini".
    outcome = BadRequest("the path names no lesson");
  } else if (const std::string fault = OutsideFault(location); !fault.empty()) {
    outcome = BadRequest(fault);
  } else {
    const std::u16string listPath = lesson::workdir::LessonListPath(WorkingDirectory(location));
    outcome = Make(location, listPath, sentencesPath, options);
    outcome.listPath = listPath;
  }
  outcome.indexPath = location.indexPath;
  return outcome;
}

}  // namespace voxtar::import
