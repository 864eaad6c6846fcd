// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson model: the prompts of one lesson index, the directories its recordings go to, and
// the operations that move a lesson between file and memory, find its recordings, step through
// it and store edited text. Operations report outcomes; what the window shows for each outcome
// is the dialog's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/save_file.h"

namespace voxtar::lesson {

inline constexpr std::size_t kMaxPromptNameLength = 31;   // PromptEntry::name
inline constexpr std::size_t kMaxPromptTextLength = 511;  // PromptEntry::text
inline constexpr std::size_t kMaxLessonNameLength = 254;  // Lesson::lessonName (255 units)
inline constexpr std::size_t kMaxPathLength = 255;        // LessonPaths buffers (256 units)
// Most prompts a lesson may have: ten times the largest lesson the benchmark loads, and it keeps
// the memory a hostile index of tiny lines can claim to a few hundred megabytes.
inline constexpr std::int32_t kMaxPrompts = 1'000'000;
inline constexpr std::u16string_view kEditMarker = u"> ";

// One prompt: one line of the lesson index. Its strings use the memory of the list it belongs to.
struct PromptEntry {
  using allocator_type = std::pmr::polymorphic_allocator<>;
  PromptEntry() = default;
  explicit PromptEntry(const allocator_type& allocator) : name(allocator), text(allocator) {}

  std::pmr::u16string name;  // recording's file name, at most kMaxPromptNameLength, never a space
  std::pmr::u16string text;  // at most kMaxPromptTextLength, may begin with kEditMarker, no CR/LF
  bool recorded = false;
};

// The prompts of one lesson in file order. The entries and their text live in an arena of large
// blocks that Clear releases whole, so that a large lesson costs a few blocks instead of hundreds
// of thousands of small allocations. An edited text that outgrows its string takes new room in
// the arena; the old room comes back with the next Clear.
class PromptList {
  std::pmr::monotonic_buffer_resource arena_;  // first: the entries use it

 public:
  PromptList();
  ~PromptList();
  PromptList(const PromptList&) = delete;
  PromptList& operator=(const PromptList&) = delete;

  // A new entry at the end, with empty name and text; count follows.
  PromptEntry& Add();
  // Releases every entry and all their memory.
  void Clear();

  std::pmr::vector<PromptEntry*> entries;  // file order; owned by the arena
  std::int32_t count = 0;                  // always entries.size()
  std::int32_t currentIndex = 0;
};

enum class LessonState : std::int32_t { NoLesson = 0, Saved = 1, Modified = 2 };

enum class LoadResult { Loaded, InvalidDirectory, FileNotFound, FileEmpty, BadLine };

// Why a line was refused (only with LoadResult::BadLine).
enum class BadLineReason { None, NoSpace };

// Which limit of the index form a line breaks: the form holds a name of kMaxPromptNameLength and
// a text of kMaxPromptTextLength, and a text ends at a CR or 0. Such a line cannot be written
// back without losing some of it.
enum class LineLimit { None, NameTooLong, TextTooLong, TextAfterBreak };

// A line beyond the limits, as it was read.
struct OverlongLine {
  int line = 0;  // 1-based file line
  LineLimit limit = LineLimit::None;
  std::size_t length = 0;  // of the name or the text as read, in UTF-16 units

  // "text of 2000 characters, more than 511".
  std::string Text() const;
};

// Why the index could not be read, beside LoadResult::FileNotFound: the window shows the
// outcome's box, the lesson checker says what happened.
enum class LoadFailure {
  None,
  NotFound,
  PermissionDenied,
  NotRegularFile,
  PathTooLong,
  TooLarge,        // more than TextLineReader::kMaxFileSize bytes
  TooManyPrompts,  // more than kMaxPrompts lines
  ReadFailed,
  OutOfMemory,
  Other,
  // The lesson loaded before is Modified and could not be written back: it stays loaded.
  LessonStillOpen,
};

struct LoadOutcome {
  LoadResult result = LoadResult::FileNotFound;
  LoadFailure failure = LoadFailure::None;  // with FileNotFound
  bool saved = false;  // with Loaded: whether the write-back succeeded (false in a dry run)
  // With Loaded: the index is a symbolic link leading outside the working directory. It was not
  // written, and the lesson is read-only.
  std::optional<platform::SaveFile::LinkRefusal> linkRefusal;
  // With BadLine: 1-based number of the file line that was refused.
  int badLine = 0;
  BadLineReason badLineReason = BadLineReason::None;
  // With Loaded: the lines beyond the limits (the first kMaxOverlongLines of them) and how many
  // there are. Such a lesson is loaded whole, every name and text as read, but read-only: it is
  // never written back, so no text of it is lost.
  static constexpr std::size_t kMaxOverlongLines = 10;
  std::vector<OverlongLine> overlong;
  int overlongCount = 0;
};

// What the last write of the index came to, beyond success or failure.
struct SaveReport {
  std::string error;              // the whole cause of a failure; empty after a success
  platform::SaveFailure failure;  // the same as a code, when the file's save failed
  bool changedOnDisk = false;     // refused: the index changed on disk since this lesson read it
  std::filesystem::path backup;   // written over a changed index: the other version, kept beside
  std::optional<platform::SaveFile::LinkRefusal> linkRefusal;  // refused: a link leading outside
};

// The directories and paths derived by a load, read by everything that forms a file name.
// Each ends in the native separator where it names a directory.
struct LessonPaths {
  std::u16string lessonDirectory = u"ini/";
  std::u16string promptDirectory;
  // What comes before the first "/ini/" of the index path: the lesson's files (index, takes)
  // are written only inside it; symbolic links leading elsewhere are refused.
  std::u16string workingDirectory;
};

// Which file of `files` (the names of a prompt directory's "*.wav" files) is each entry's take:
// its index in `files`, or kNoTakeFile. Names are compared with both sides folded by FoldLower,
// a name spelled exactly as its entry first; each file is the take of at most one entry, the
// first of its name in list order. Everything that goes from a prompt to its take file (the
// scan, and the judging of the window and of every command) goes by this.
inline constexpr std::size_t kNoTakeFile = static_cast<std::size_t>(-1);
std::vector<std::size_t> MatchTakeFiles(const std::pmr::vector<PromptEntry*>& entries,
                                        const std::vector<std::u16string>& files);

// Speakable: the stored text, edit marker included, is at least 5 units long.
bool IsSpeakable(const PromptEntry& entry);
// Pending: speakable, and its text begins with '>' or it is not recorded. "Goto" stops here.
bool IsPending(const PromptEntry& entry);
// The box text with each CR dropped and each LF turned into one space.
std::u16string FlattenEditText(std::u16string_view boxText);

class Lesson {
 public:
  struct LoadOptions {
    // Apply every rule of the load but create no directory and write nothing (lesson checker).
    bool dryRun = false;
  };

  // Called only in NoLesson (a lesson still open is unloaded first; when that fails it stays, and
  // the outcome is FileNotFound with LessonStillOpen). Derives the paths, creates the prompt
  // directories, reads the index, writes it straight back in UTF-16LE and sets Saved, also when
  // the write-back failed. An index that is a link leading outside the working directory is not
  // written back: it loads read-only (outcome.linkRefusal, readOnly()). A chosen path whose lesson
  // directory, prompt directory or index path would exceed kMaxPathLength, or whose lesson name
  // exceeds kMaxLessonNameLength, is refused as FileNotFound before anything is created. An index
  // that cannot be read to its end is FileNotFound,
  // never loaded in part; so is one that is not a regular file, is larger than
  // TextLineReader::kMaxFileSize, has more than kMaxPrompts lines, or does not fit in memory
  // (outcome.failure says which). The prompt directories are created only once the index has been
  // read whole. Any outcome but Loaded leaves NoLesson with an empty list and the index untouched.
  // An index with a line beyond the limits (outcome.overlong) loads read-only with every name and
  // text whole as read (never cut: a cut name would rename a prompt, a cut text lose words);
  // nothing is created or written for it.
  LoadOutcome LoadLesson(std::u16string_view chosenPath);
  LoadOutcome LoadLesson(std::u16string_view chosenPath, LoadOptions options);
  struct SaveOptions {
    // Write over an index that changed on disk, keeping that version as a backup beside it
    // (lastSave().backup), named after this time (platform::BackupName), so a question asked
    // before can show the name.
    bool overwriteChanged = false;
    std::time_t backupTime = std::time(nullptr);
  };
  // Rewrites the whole index atomically. False (state unchanged, file untouched, lastSave() says
  // why) on failure: also when the index changed on disk since this lesson read or last wrote it
  // (another program, a text editor), unless told to overwrite; in NoLesson; and for a read-only
  // lesson, which never writes.
  bool SaveLesson();
  bool SaveLesson(SaveOptions options);
  // The state of a new window: no entries, NoLesson, the lesson directory "ini/". Writes nothing.
  void Reset();
  // Writes back a Modified lesson, releases the entries, NoLesson; true when nothing needed
  // writing. When the write-back fails, a lesson that can be written keeps everything (entries,
  // state, paths) and false is returned, so that the caller can retry, overwrite or discard; a
  // read-only lesson, which no write can save, is released all the same.
  bool UnloadLesson();
  // Releases the lesson without writing anything: NoLesson. Its changes are gone.
  void DiscardLesson();
  // Loaded, but nothing of it may be written: a dry run, or an index linked outside the working
  // directory. SaveLesson refuses; the window allows no recording and no edit.
  bool readOnly() const { return !readOnlyCause_.error.empty(); }

  // Marks the entries whose recording exists in the prompt directory (MatchTakeFiles).
  void ScanRecordedPrompts();

  void StepBack();
  void StepForward();
  void GotoFirstPending();
  // The next pending prompt after the current one, going round to the first; false (and no move)
  // when no other prompt is pending.
  bool GotoNextPending();
  // Makes entry `index` current (a jump to a prompt found otherwise, such as the next flagged
  // take); an index out of the list changes nothing.
  void MoveTo(std::int32_t index);
  // Box texts may be of any length: the window reads the whole box, so a long text whose display
  // form has extra line breaks loses nothing. The flattened box text is cut to
  // kMaxPromptTextLength.
  //
  // Stores the box text with the edit marker when it differs. The marker is kept in front and
  // the end of the text is cut, so the stored text never exceeds kMaxPromptTextLength (a changed
  // text of 510 or 511 characters loses its last one or two). False when currentIndex is negative
  // (nothing stored; the dialog shows "Position = -1"); true without a current entry. A read-only
  // lesson is never changed: neither here nor by ReplaceCurrentText.
  bool CommitEditedText(std::u16string_view boxText);
  // Whether CommitEditedText would change the current entry.
  bool CommitWouldChange(std::u16string_view boxText) const;
  // Stores the flattened box text without marker; state unchanged.
  void ReplaceCurrentText(std::u16string_view boxText);
  void MarkRecorded();
  // Removes the current entry's edit marker; true when there was one.
  bool ClearEditMarker();

  PromptEntry* current();
  const PromptEntry* current() const;
  // promptDirectory + the current entry's name.
  std::u16string PromptFilePath() const;
  // The index path: lessonDirectory + lessonName + ".idx".
  std::u16string IndexPath() const;
  // Why the last failed save failed (empty after a successful one), for messages beyond the
  // window's fixed "Cannot write file".
  const std::string& saveError() const { return lastSave_.error; }
  const SaveReport& lastSave() const { return lastSave_; }

  PromptList prompts;
  LessonState state = LessonState::NoLesson;
  std::u16string lessonName;
  LessonPaths paths;

 private:
  LoadOutcome Load(std::u16string_view chosenPath, LoadOptions options);
  bool WriteIndex(bool overwriteChanged, std::time_t backupTime = std::time(nullptr));
  void ReleaseEntries();

  SaveReport readOnlyCause_;  // why nothing may be written; no error: writable
  SaveReport lastSave_;
  // The index as this lesson last read or wrote it.
  std::optional<platform::FileIdentity> onDisk_;
};

}  // namespace voxtar::lesson
