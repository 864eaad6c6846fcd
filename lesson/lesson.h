// The lesson model: the prompts of one lesson index, the directories its recordings go to, and
// the operations that move a lesson between file and memory, find its recordings, step through
// it and store edited text. Operations report outcomes; what the window shows for each outcome
// is the dialog's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar {

inline constexpr std::size_t kMaxPromptNameLength = 31;   // PromptEntry::name
inline constexpr std::size_t kMaxPromptTextLength = 511;  // PromptEntry::text
inline constexpr std::size_t kMaxLessonNameLength = 254;  // Lesson::lessonName (255 units)
inline constexpr std::size_t kMaxPathLength = 255;        // LessonPaths buffers (256 units)
inline constexpr std::size_t kReadLineSize = 1023;        // index lines are read with this size
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
enum class BadLineReason { None, NoSpace, NameTooLong };

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
};

struct LoadOutcome {
  LoadResult result = LoadResult::FileNotFound;
  LoadFailure failure = LoadFailure::None;  // with FileNotFound
  bool saved = false;  // with Loaded: whether the write-back succeeded (false in a dry run)
  // With BadLine: 1-based number of the file line that was refused.
  int badLine = 0;
  BadLineReason badLineReason = BadLineReason::None;
};

// The directories and paths derived by a load, read by everything that forms a file name.
// Each ends in the native separator where it names a directory.
struct LessonPaths {
  std::u16string lessonDirectory = u"ini/";
  std::u16string promptDirectory;
};

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

  // Called only in NoLesson (a lesson still open is unloaded first). Derives the paths, creates
  // the prompt directories, reads the index, writes it straight back in UTF-16LE and sets Saved,
  // also when the write-back failed. A chosen path whose lesson directory, prompt directory or
  // index path would exceed kMaxPathLength, or whose lesson name exceeds kMaxLessonNameLength, is
  // refused as FileNotFound before anything is created. A name longer than kMaxPromptNameLength
  // makes its line a BadLine (NameTooLong): a name is never cut, so write-back never renames a
  // prompt. An index that cannot be read to its end is FileNotFound, never loaded in part; so is
  // one that is not a regular file, is larger than TextLineReader::kMaxFileSize, has more than
  // kMaxPrompts lines, or does not fit in memory (outcome.failure says which). The prompt
  // directories are created only once the index has been read whole. Any outcome but Loaded leaves
  // NoLesson with an empty list and the index untouched.
  LoadOutcome LoadLesson(std::u16string_view chosenPath);
  LoadOutcome LoadLesson(std::u16string_view chosenPath, LoadOptions options);
  // Rewrites the whole index atomically. False (state unchanged, file untouched) on failure; also
  // in NoLesson and for a lesson loaded as a dry run, which never write.
  bool SaveLesson();
  // The state of a new window: no entries, NoLesson, the lesson directory "ini/". Writes nothing.
  void Reset();
  // Writes back a Modified lesson, releases the entries, NoLesson. Returns the write-back's result
  // (true when nothing needed writing).
  bool UnloadLesson();

  // Marks the entries whose recording exists in the prompt directory.
  void ScanRecordedPrompts();

  void StepBack();
  void StepForward();
  void GotoFirstPending();
  // Box texts may be of any length: the window reads the whole box, so a long text whose display
  // form has extra line breaks loses nothing. The flattened box text is cut to
  // kMaxPromptTextLength.
  //
  // Stores the box text with the edit marker when it differs. The marker is kept in front and
  // the end of the text is cut, so the stored text never exceeds kMaxPromptTextLength (a changed
  // text of 510 or 511 characters loses its last one or two). False when currentIndex is negative
  // (nothing stored; the dialog shows "Position = -1"); true without a current entry.
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
  const std::string& saveError() const { return saveError_; }

  PromptList prompts;
  LessonState state = LessonState::NoLesson;
  std::u16string lessonName;
  LessonPaths paths;

 private:
  LoadOutcome Load(std::u16string_view chosenPath, LoadOptions options);
  bool WriteIndex();
  void ReleaseEntries();

  bool dryRun_ = false;  // loaded by a dry run: nothing may be written
  std::string saveError_;
};

}  // namespace voxtar
