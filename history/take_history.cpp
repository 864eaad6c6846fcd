// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/take_history.h"

#include <dirent.h>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <tuple>
#include <utility>

#include "audio/sound_file.h"
#include "platform/descriptor.h"
#include "platform/file_system.h"
#include "platform/outcome.h"
#include "text/wide_string.h"

namespace voxtar::history {

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// An earlier take is named TAKE.STAMP.take, or TAKE.STAMP-N.take for the Nth take replaced in the
// same millisecond; STAMP is the time it was replaced, in UTC ("2024-03-15T14-25-01.123Z", no
// colons for the file systems that refuse them). Earlier versions put the time the take was saved
// there, which is the time it was replaced at the latest: their entries list in the same order.
// The name does not end in ".wav", so nothing that looks for takes by their extension takes it
// for one.
constexpr std::string_view kExtension = ".take";
constexpr std::size_t kStampLength = 24;
constexpr int kMaxSequence = 10000;
const std::string kFolder = platform::ToUtf8(kHistoryFolder);

using platform::Descriptor;

// The English sentence of a problem and its fixed cause, if it has one.
struct Wording {
  std::string_view sentence;
  std::string_view cause;
};

Wording WordingOf(Problem problem) {
  switch (problem) {
    case Problem::None:
    case Problem::NothingCaptured:
    case Problem::NotATakeName:
    case Problem::NoSuchTake:
    case Problem::NegativeKeep:
      break;
    case Problem::FolderNotMade:
      return {"The folder of earlier takes cannot be made", {}};
    case Problem::FolderIsLink:
      return {"The folder of earlier takes is refused",
              "it is a symbolic link, not a folder of the prompt directory"};
    case Problem::FolderNotOpened:
      return {"The folder of earlier takes cannot be opened", {}};
    case Problem::PromptDirectoryNotOpened:
      return {"The prompt directory cannot be opened", {}};
    case Problem::EarlierNotKept:
      return {"The earlier take cannot be kept", {}};
    case Problem::EarlierNotRegular:
      return {"The earlier take cannot be kept", "not a regular file"};
    case Problem::EarlierCrowded:
      return {"The earlier take cannot be kept", "too many takes replaced in the same millisecond"};
    case Problem::TakeNotWritten:
      break;
    case Problem::TakeNotSaved:
      return {"The take could not be saved", {}};
    case Problem::EarlierNotRestored:
      return {"The earlier take cannot be restored", {}};
    case Problem::OtherTakeInPlace:
      return {"The earlier take was not restored", "the take there is not the earlier take"};
    case Problem::EarlierNotRemoved:
      return {"An earlier take cannot be removed", {}};
  }
  return {};
}

Result Refusal(Problem problem, std::string text, Status status = Status::Failed,
               std::error_code code = {}) {
  Result result;
  result.status = status;
  result.error = std::move(text);
  result.code = code;
  result.problem = problem;
  return result;
}

// "SENTENCE: PATH (CAUSE)", the path in UTF-8 as the file system names it; the cause is the
// system's for errno value `error`, else the problem's own.
Result Failure(Problem problem, const fs::path& path, int error = 0) {
  const Wording wording = WordingOf(problem);
  const platform::Outcome outcome =
      platform::Outcome::OfFile(wording.sentence, path.native(), error, wording.cause);
  Result result = Refusal(problem, outcome.message(), Status::Failed, outcome.code());
  result.path = path.native();
  return result;
}

std::u16string Folded(std::u16string name) {
  text::FoldLower(name);
  return name;
}

SavedTime Now() {
  return std::chrono::floor<milliseconds>(std::chrono::system_clock::now());
}

SavedTime SavedAt(const struct stat& info) {
  const auto ms = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 +
                  static_cast<std::int64_t>(info.st_mtim.tv_nsec) / 1'000'000;
  return SavedTime(milliseconds(ms));
}

std::string Stamp(SavedTime saved) {
  // Four-digit years: a take dated before 1970 or after 9999 is filed at the nearer end.
  const SavedTime first{};
  const SavedTime last = std::chrono::sys_days(std::chrono::year(9999) / 12 / 31) +
                         std::chrono::hours(23) + std::chrono::minutes(59) +
                         std::chrono::seconds(59) + milliseconds(999);
  saved = std::clamp(saved, first, last);
  const auto days = std::chrono::floor<std::chrono::days>(saved);
  const std::chrono::year_month_day date(days);
  const std::chrono::hh_mm_ss time(saved - days);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d-%02d-%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

std::string EntryName(std::string_view take, SavedTime replaced, int sequence) {
  std::string name(take);
  name += '.';
  name += Stamp(replaced);
  if (sequence > 1) {
    name += '-';
    name += std::to_string(sequence);
  }
  name += kExtension;
  return name;
}

// Which file a name is.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Identity&) const = default;
};

// The file `name` in `directory` is, links followed; nothing when there is none.
std::optional<Identity> IdentityAt(int directory, const char* name, int flags = 0) {
  struct stat info {};
  if (directory < 0 || ::fstatat(directory, name, &info, flags) != 0) {
    return std::nullopt;
  }
  return Identity{info.st_dev, info.st_ino};
}

// One earlier take in the history folder.
struct Entry {
  std::string file;  // its name in the history folder
  std::string take;  // the take it was
  SavedTime replaced;
  int sequence = 1;
  SavedTime saved;  // its modification time
  Identity identity;
};

// Reads `count` decimal digits at `at`; -1 when they are not all digits.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return -1;
    }
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// The entry a history file name stands for; nothing for any other name. Only a name that the
// entry would be given back exactly is one, which also rules out impossible dates.
std::optional<Entry> ParseEntry(std::string_view file) {
  if (!file.ends_with(kExtension)) {
    return std::nullopt;
  }
  std::string_view stem = file.substr(0, file.size() - kExtension.size());
  Entry entry;
  if (!stem.ends_with('Z')) {
    const std::size_t dash = stem.rfind('-');
    if (dash == std::string_view::npos || stem.size() - dash > 6) {
      return std::nullopt;
    }
    entry.sequence = Digits(stem, dash + 1, stem.size() - dash - 1);
    if (entry.sequence < 2) {
      return std::nullopt;
    }
    stem = stem.substr(0, dash);
  }
  if (stem.size() < kStampLength + 2 || stem[stem.size() - kStampLength - 1] != '.') {
    return std::nullopt;
  }
  const std::string_view stamp = stem.substr(stem.size() - kStampLength);
  const int fields[] = {Digits(stamp, 0, 4),  Digits(stamp, 5, 2),  Digits(stamp, 8, 2),
                        Digits(stamp, 11, 2), Digits(stamp, 14, 2), Digits(stamp, 17, 2),
                        Digits(stamp, 20, 3)};
  if (std::find(std::begin(fields), std::end(fields), -1) != std::end(fields)) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(fields[0]),
                                         std::chrono::month(static_cast<unsigned>(fields[1])),
                                         std::chrono::day(static_cast<unsigned>(fields[2]))};
  entry.replaced = std::chrono::sys_days(date) + std::chrono::hours(fields[3]) +
                   std::chrono::minutes(fields[4]) + std::chrono::seconds(fields[5]) +
                   milliseconds(fields[6]);
  entry.take = stem.substr(0, stem.size() - kStampLength - 1);
  if (!date.ok() || EntryName(entry.take, entry.replaced, entry.sequence) != file) {
    return std::nullopt;
  }
  entry.file = file;
  return entry;
}

// The entries in the history folder, most recently replaced first. Names that are not an earlier
// take's, and anything but a regular file, are left alone.
std::vector<Entry> ListEntries(int history) {
  std::vector<Entry> entries;
  DIR* dir = ::fdopendir(::openat(history, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir == nullptr) {
    return entries;
  }
  while (const dirent* found = ::readdir(dir)) {
    std::optional<Entry> entry = ParseEntry(found->d_name);
    struct stat info {};
    if (entry && ::fstatat(history, found->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
      entry->saved = SavedAt(info);
      entry->identity = {info.st_dev, info.st_ino};
      entries.push_back(std::move(*entry));
    }
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return std::tie(b.replaced, b.sequence, b.file) < std::tie(a.replaced, a.sequence, a.file);
  });
  return entries;
}

// A take's name is a file name of the prompt directory, never a way out of it.
bool IsTakeName(std::u16string_view name) {
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(u"/\0", 0, 2) == std::u16string_view::npos;
}

Result BadName(std::u16string_view name) {
  Result result =
      Refusal(Problem::NotATakeName, "Not the name of a take: \"" + platform::ToUtf8(name) + "\"");
  result.path = platform::ToUtf8(name);
  return result;
}

// The prompt directory and its history folder, opened.
struct Folders {
  fs::path directory;  // the prompt directory, as the file system names it
  Descriptor prompt;
  Descriptor history;  // not valid when there is no history (yet)
};

// Opens the history folder of the opened prompt directory, making it first when `create`. It must
// be a real folder: a link in its place could lead the history's writes anywhere. A missing folder
// without `create` is no error: `history` stays closed.
Result OpenHistory(bool create, Folders* folders) {
  const int prompt = folders->prompt.get();
  const fs::path path = folders->directory / kFolder;
  if (create && ::mkdirat(prompt, kFolder.c_str(), 0777) != 0 && errno != EEXIST) {
    return Failure(Problem::FolderNotMade, path, errno);
  }
  folders->history = Descriptor(
      ::openat(prompt, kFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folders->history.valid()) {
    return {};
  }
  const int cause = errno;
  struct stat info {};
  if (::fstatat(prompt, kFolder.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(info.st_mode)) {
    return Failure(Problem::FolderIsLink, path);
  }
  if (cause == ENOENT && !create) {
    return {};
  }
  return Failure(Problem::FolderNotOpened, path, cause);
}

// Whether the entry is the very file of the take it was kept of: the link a change makes before it
// replaces the take, left when the change was stopped before that. It is no earlier take (and a
// restore of it would change nothing).
bool IsTheTake(const Folders& folders, const Entry& entry) {
  const std::optional<Identity> take = IdentityAt(folders.prompt.get(), entry.take.c_str());
  return take && *take == entry.identity;
}

// The earlier takes of the take `name` (any letter case), most recently replaced first.
std::vector<Entry> EntriesOf(const Folders& folders, std::u16string_view name) {
  if (!folders.history.valid()) {
    return {};
  }
  const std::u16string wanted = Folded(std::u16string(name));
  std::vector<Entry> entries = ListEntries(folders.history.get());
  std::erase_if(entries, [&](const Entry& entry) {
    return Folded(platform::FromUtf8(entry.take)) != wanted || IsTheTake(folders, entry);
  });
  return entries;
}

// Removes what a change stopped half way left in the history: the entries that are their take.
void Heal(const Folders& folders) {
  if (!folders.history.valid()) {
    return;
  }
  bool removed = false;
  for (const Entry& entry : ListEntries(folders.history.get())) {
    if (IsTheTake(folders, entry) &&
        ::unlinkat(folders.history.get(), entry.file.c_str(), 0) == 0) {
      removed = true;
    }
  }
  if (removed) {
    ::fsync(folders.history.get());
  }
}

// Opens the prompt directory `directory` (a directory link is followed: takes may live on another
// disk) and its history folder when there is one. A prompt directory that does not exist (a
// lesson never opened for recording) has no takes and no history: both stay closed.
Result OpenFolders(const fs::path& directory, Folders* folders) {
  folders->directory = directory;
  folders->prompt = Descriptor(
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folders->prompt.valid()) {
    const int cause = errno;
    return cause == ENOENT ? Result()
                           : Failure(Problem::PromptDirectoryNotOpened, directory, cause);
  }
  return OpenHistory(false, folders);
}

// An earlier take put into the history.
struct Kept {
  std::string entry;
  bool moved = false;  // moved there, not linked
};

// File systems without hard links (FAT, some network shares) refuse with one of these.
bool NoHardLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// Puts the take `take` into the history as replaced now: a hard link to the file the take is, or
// on a file system without hard links the take itself, moved. Now is after every earlier take of
// it, whatever the clock says, so that it is earlier take 1.
Result Keep(const Folders& folders, const std::string& take, Kept* kept) {
  SavedTime replaced = Now();
  const std::vector<Entry> entries = EntriesOf(folders, platform::FromUtf8(take));
  if (!entries.empty() && entries.front().replaced >= replaced) {
    replaced = entries.front().replaced + milliseconds(1);
  }
  bool move = false;
  for (int sequence = 1; sequence <= kMaxSequence; ++sequence) {
    kept->entry = EntryName(take, replaced, sequence);
    kept->moved = move;
    const int done = move ? ::renameat2(folders.prompt.get(), take.c_str(), folders.history.get(),
                                        kept->entry.c_str(), RENAME_NOREPLACE)
                          : ::linkat(folders.prompt.get(), take.c_str(), folders.history.get(),
                                     kept->entry.c_str(), AT_SYMLINK_FOLLOW);
    if (done == 0) {
      return {};
    }
    const int cause = errno;
    if (cause == EEXIST) {
      continue;
    }
    struct stat own {};
    if (!move && NoHardLinks(cause) &&
        ::fstatat(folders.prompt.get(), take.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(own.st_mode)) {
      move = true;
      --sequence;
      continue;
    }
    return Failure(Problem::EarlierNotKept, folders.directory / take, cause);
  }
  return Failure(Problem::EarlierCrowded, folders.directory / take);
}

// Takes a kept take back out of the history, when what it made room for did not happen.
void Unkeep(const Folders& folders, const std::string& take, const Kept& kept) {
  if (kept.moved) {
    ::renameat(folders.history.get(), kept.entry.c_str(), folders.prompt.get(), take.c_str());
  } else {
    ::unlinkat(folders.history.get(), kept.entry.c_str(), 0);
  }
}

// Keeps the take `take` of the opened folders when there is one, making the history folder for
// the first earlier take. `kept` stays empty without a take.
Result KeepCurrent(Folders* folders, const std::string& take, std::optional<Kept>* kept) {
  struct stat info {};
  if (!folders->prompt.valid()) {
    return {};
  }
  if (::fstatat(folders->prompt.get(), take.c_str(), &info, 0) != 0) {
    if (errno == ENOENT) {
      return {};
    }
    return Failure(Problem::EarlierNotKept, folders->directory / take, errno);
  }
  if (!S_ISREG(info.st_mode)) {
    return Failure(Problem::EarlierNotRegular, folders->directory / take);
  }
  Result result = folders->history.valid() ? Result() : OpenHistory(true, folders);
  if (result.ok()) {
    kept->emplace();
    result = Keep(*folders, take, &**kept);
  }
  if (!result.ok()) {
    kept->reset();
    return result;
  }
  // The earlier take's entry is on disk before anything replaces the take.
  ::fsync(folders->history.get());
  return result;
}

// Reads the length from the header of an earlier take, or why it cannot be read.
void ReadLength(int history, const Entry& entry, EarlierTake* take) {
  const Descriptor fd(
      ::openat(history, entry.file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    take->error = platform::SystemText(errno);
    take->unreadable = EarlierTake::Unreadable::CannotOpen;
    return;
  }
  SF_INFO info{};
  std::string reason;
  SNDFILE* file = audio::OpenSoundFile(fd.get(), SFM_READ, &info, &reason);
  if (file == nullptr) {
    take->error = "not a sound file that can be read";
    take->unreadable = EarlierTake::Unreadable::NotASoundFile;
    return;
  }
  if (info.samplerate > 0) {
    take->seconds = static_cast<double>(info.frames) / info.samplerate;
  } else {
    take->error = "no sample rate";
    take->unreadable = EarlierTake::Unreadable::NoSampleRate;
  }
  ::sf_close(file);
}

// The one place that measures an earlier take.
void Measure(EarlierTake* take) {
  measures::TakeMeasures measured;
  if (measures::MeasureTakeFile(take->path, &measured, &take->error)) {
    take->measures = measured;
  }
}

}  // namespace

TakeHistory::TakeHistory(std::u16string_view promptDirectory, std::u16string_view workingDirectory)
    : promptDirectory_(promptDirectory), workingDirectory_(workingDirectory) {
  if (promptDirectory_.empty() || promptDirectory_.back() != platform::kSeparator) {
    promptDirectory_ += platform::kSeparator;
  }
}

Result TakeHistory::Save(std::u16string_view name, const audio::WaveElement& take) const {
  if (take.frames() == 0) {
    return Refusal(Problem::NothingCaptured, "Nothing was captured, so there is no take to save",
                   Status::NothingCaptured);
  }
  if (!IsTakeName(name)) {
    return BadName(name);
  }
  const std::unique_ptr<platform::SaveFile> file = NewTakeFile(name);
  std::string error;
  if (!audio::WriteWave(take, *file, &error)) {
    Result result = Refusal(Problem::TakeNotWritten, error);
    result.path = file->target().native();
    result.detail = std::move(error);
    result.save = file->failure();
    return result;
  }
  Reached(Step::TakeWritten);
  return Commit(*file);
}

std::unique_ptr<platform::SaveFile> TakeHistory::NewTakeFile(std::u16string_view name) const {
  if (!IsTakeName(name)) {
    return nullptr;
  }
  return std::make_unique<platform::SaveFile>(promptDirectory_ + std::u16string(name),
                                              workingDirectory_);
}

Result TakeHistory::Commit(platform::SaveFile& file) const {
  const fs::path& target = file.target();
  const std::string take = target.filename();
  Folders folders;
  Result result = OpenFolders(target.parent_path(), &folders);
  std::optional<Kept> kept;
  if (result.ok()) {
    Heal(folders);
    result = KeepCurrent(&folders, take, &kept);
  }
  if (!result.ok()) {
    file.Cancel();
    return result;
  }
  Reached(Step::EarlierKept);
  if (!file.Commit()) {
    if (kept) {
      Unkeep(folders, take, *kept);
    }
    Result unsaved =
        Refusal(Problem::TakeNotSaved,
                platform::FileText("The take could not be saved", target.native(), file.error()));
    unsaved.path = target.native();
    unsaved.save = file.failure();
    return unsaved;
  }
  Reached(Step::TakeReplaced);
  return {};
}

Result TakeHistory::Earlier(std::u16string_view name, std::vector<EarlierTake>* takes,
                            Detail detail) const {
  takes->clear();
  if (!IsTakeName(name)) {
    return BadName(name);
  }
  const fs::path target = platform::ResolvePath(promptDirectory_ + std::u16string(name));
  Folders folders;
  Result result = OpenFolders(target.parent_path(), &folders);
  if (!result.ok() || !folders.history.valid()) {
    return result;
  }
  for (const Entry& entry : EntriesOf(folders, name)) {
    EarlierTake& take = takes->emplace_back();
    take.number = static_cast<int>(takes->size());
    take.name = platform::FromUtf8(entry.take);
    take.path = platform::FromUtf8((folders.directory / kFolder / entry.file).native());
    take.saved = entry.saved;
    take.replaced = entry.replaced;
    ReadLength(folders.history.get(), entry, &take);
    if (detail == Detail::Measures && take.error.empty()) {
      Measure(&take);
    }
  }
  return result;
}

int TakeHistory::CountEarlier(std::u16string_view name) const {
  if (!IsTakeName(name)) {
    return 0;
  }
  Folders folders;
  if (!OpenFolders(platform::ResolvePath(promptDirectory_), &folders).ok() ||
      !folders.history.valid()) {
    return 0;
  }
  return static_cast<int>(EntriesOf(folders, name).size());
}

Result TakeHistory::Restore(std::u16string_view name, int number) const {
  if (!IsTakeName(name)) {
    return BadName(name);
  }
  const fs::path target = platform::ResolvePath(promptDirectory_ + std::u16string(name));
  const std::string take = target.filename();
  Folders folders;
  Result result = OpenFolders(target.parent_path(), &folders);
  if (!result.ok()) {
    return result;
  }
  Heal(folders);
  const std::vector<Entry> entries = EntriesOf(folders, name);
  if (number < 1 || static_cast<std::size_t>(number) > entries.size()) {
    Result none = Refusal(
        Problem::NoSuchTake,
        "There is no earlier take " + std::to_string(number) + " of " + platform::ToUtf8(name),
        Status::NoSuchTake);
    none.path = platform::ToUtf8(name);
    none.number = number;
    return none;
  }
  const Entry& chosen = entries[static_cast<std::size_t>(number) - 1];
  std::optional<Kept> kept;
  result = KeepCurrent(&folders, take, &kept);
  if (!result.ok()) {
    return result;
  }
  Reached(Step::EarlierKept);
  // The take is kept already, so the rename replaces it without a moment of no take.
  if (::renameat(folders.history.get(), chosen.file.c_str(), folders.prompt.get(), take.c_str()) !=
      0) {
    const int cause = errno;
    if (kept) {
      Unkeep(folders, take, *kept);
    }
    return Failure(Problem::EarlierNotRestored, target, cause);
  }
  ::fsync(folders.prompt.get());
  ::fsync(folders.history.get());
  // A rename between two links of one file succeeds and changes nothing: only the earlier take in
  // the take's place, and gone from the history, is restored.
  if (IdentityAt(folders.prompt.get(), take.c_str(), AT_SYMLINK_NOFOLLOW) != chosen.identity ||
      IdentityAt(folders.history.get(), chosen.file.c_str(), AT_SYMLINK_NOFOLLOW)) {
    Heal(folders);
    return Failure(Problem::OtherTakeInPlace, target);
  }
  Reached(Step::TakeReplaced);
  return {};
}

Result TakeHistory::Prune(int keep, Freed* freed) const {
  *freed = {};
  if (keep < 0) {
    return Refusal(Problem::NegativeKeep, "The number of earlier takes to keep cannot be negative");
  }
  Folders folders;
  Result result = OpenFolders(platform::ResolvePath(promptDirectory_), &folders);
  if (!result.ok() || !folders.history.valid()) {
    return result;
  }
  Heal(folders);
  const int history = folders.history.get();
  std::map<std::u16string, int> seen;
  for (const Entry& entry : ListEntries(history)) {
    if (++seen[Folded(platform::FromUtf8(entry.take))] <= keep) {
      continue;
    }
    struct stat info {};
    if (::fstatat(history, entry.file.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::unlinkat(history, entry.file.c_str(), 0) != 0) {
      result = Failure(Problem::EarlierNotRemoved, folders.directory / kFolder / entry.file, errno);
      continue;
    }
    ++freed->files;
    freed->bytes += info.st_nlink == 1 ? static_cast<std::uint64_t>(info.st_size) : 0;
  }
  ::fsync(history);
  return result;
}

}  // namespace voxtar::history
