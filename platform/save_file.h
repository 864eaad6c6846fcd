// SPDX-License-Identifier: GPL-3.0-or-later
// Replacing a file whole or not at all, inside the directory it must stay in. No Qt.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/descriptor.h"

namespace voxtar::platform {

// What a file is on disk: a file replaced or written to since shows other values.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at the resolved path, symbolic links followed; nothing when there is
// none.
std::optional<FileIdentity> IdentifyFile(std::u16string_view path);

// Why a save failed, for a window that words it itself: `path` is the file at fault (the
// directory with CreateTemporary), `other` where a link leads, `cause` the system's cause.
struct SaveFailure {
  enum class Kind {
    None,
    IsSymbolicLink,   // refused by RefuseLinks
    CannotReach,      // the path cannot be followed (cause)
    LinkOutside,      // a link leading outside the working directory
    LinkOfOtherKind,  // a link onto a file of another kind
    IsDirectory,
    NotRegularFile,
    ReadOnly,
    Permissions,      // cannot set the permissions (cause)
    CreateTemporary,  // cause
    NotOpen,          // Write before a successful Open
    CommitNotOpen,    // Commit before a successful Open
    Write,            // cause
    TurnedIntoLink,
    ChangedOnDisk,
    Backup,   // cannot keep a backup (cause)
    Flush,    // cause
    Replace,  // cause
  };
  Kind kind = Kind::None;
  std::filesystem::path path;
  std::filesystem::path other;
  std::error_code cause;
};

// The failure in English, as error() says it: `Cannot save "PATH": it is read-only`.
std::string SaveFailureText(const SaveFailure& failure);

// Writes a file whole or not at all, like QSaveFile: the content goes to a temporary file in the
// target's directory, which is flushed to disk and renamed over the target on Commit. Until then,
// and whenever anything fails, the target stays byte-identical. A read-only target (no write bit,
// or not writable for this user) is refused, since a rename would get around it. A symlinked
// target is written through to the file it leads to, and stays a link, but only onto a file of
// its own kind (the same extension, letter case aside): a link cannot turn an index into a take
// or a take into a lesson list. The new file keeps the old file's mode.
//
// Where it lands is decided on opened directories, not on path names checked earlier: whatever
// is swapped in meanwhile cannot redirect the write.
class SaveFile {
 public:
  // `confinedTo`: the working directory the write must stay in (empty: anywhere). A target that
  // is a symbolic link is written through only when the file it leads to lies inside it, or in
  // the directory of the target itself. Directory links on the way are followed: only where the
  // file finally lands counts.
  explicit SaveFile(std::u16string_view target, std::u16string_view confinedTo = {});
  ~SaveFile();  // discards an uncommitted temporary file
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  // The target must be no symbolic link at all, wherever it leads: Open refuses one
  // (linkRefusal()). For the files that are the program's own (a report, an export's files, a
  // cache), which nothing has a reason to link.
  void RefuseLinks() { refuseLinks_ = true; }
  // The new file is readable and writable by its owner only, whatever the old one allowed.
  void OwnerOnly() { ownerOnly_ = true; }

  // Creates the temporary file. False (with error()) when the target is read-only, is a link
  // leading outside the confinement or refused by RefuseLinks (linkRefusal()), a link onto a file
  // of another kind, or the directory does not take a new file.
  bool Open();
  // The open temporary file's descriptor, for writers that need one (libsndfile).
  int descriptor() const { return file_.get(); }
  bool Write(const void* data, std::size_t size);
  // Flushes, syncs and renames over the target. False (target untouched) on any failure,
  // including an earlier failed Write.
  bool Commit();
  // Drops the temporary file; the target stays as it was.
  void Cancel();

  // Guards a file read earlier: Commit replaces the target only while it is still `expected` (or
  // is gone). Another file there makes Commit fail with changedOnDisk(); with `keepOther`, Commit
  // keeps that file beside the target as BackupName(NAME, backupTime) (backup()) and goes on.
  void ExpectTarget(const FileIdentity& expected, bool keepOther,
                    std::time_t backupTime = std::time(nullptr));
  bool changedOnDisk() const { return changedOnDisk_; }
  // The backup Commit kept of a file that had changed on disk; empty when none was needed.
  const std::filesystem::path& backup() const { return backup_; }
  // The new file, once Commit succeeded.
  const FileIdentity& written() const { return written_; }

  const std::filesystem::path& target() const { return target_; }
  const std::string& error() const { return error_; }
  // The same as a code and its figures.
  const SaveFailure& failure() const { return failure_; }

  // A symbolic link that Open refused to write through, and the file it leads to.
  struct LinkRefusal {
    std::filesystem::path link;
    std::filesystem::path target;
  };
  const std::optional<LinkRefusal>& linkRefusal() const { return linkRefusal_; }

 private:
  bool Land();
  bool CreateTemporary(mode_t mode);
  bool CheckTargetBeforeRename();
  bool KeepAside();
  bool Fail(SaveFailure::Kind kind, const std::filesystem::path& path, int error = 0,
            std::filesystem::path other = {});

  std::filesystem::path target_;
  std::filesystem::path confinedTo_;
  std::filesystem::path final_;  // the file replaced, for messages
  Descriptor directory_;         // the directory it lies in
  std::string name_;             // its name there
  std::string temp_;             // the temporary file's name there
  Descriptor file_;              // the temporary file
  std::optional<FileIdentity> expected_;
  std::time_t backupTime_ = 0;
  bool keepOther_ = false;
  bool refuseLinks_ = false;
  bool ownerOnly_ = false;
  bool changedOnDisk_ = false;
  std::filesystem::path backup_;
  FileIdentity written_;
  std::optional<LinkRefusal> linkRefusal_;
  std::string error_;
  SaveFailure failure_;
  bool failed_ = false;
};

// The name of the backup of a file NAME that changed on disk, kept beside it:
// "NAME.YYYY-MM-DDTHH-MM-SS.bak" in local time, and "-2", "-3"... before ".bak" for `attempt` 1,
// 2...; cut at a character boundary where the whole would be too long for the file system.
std::string BackupName(std::string_view name, std::time_t when, int attempt = 0);

// For reports on a working directory, by the rule SaveFile applies:
//
// Where a file written at `path` would land when `path` is a symbolic link leading outside
// `confinedTo`; nothing when it is no such link.
std::optional<std::filesystem::path> LinkLeadingOutside(std::u16string_view path,
                                                        std::u16string_view confinedTo);
// The real path of the existing directory `path` when it lies outside `confinedTo` (a directory
// link on the way leads there); nothing when it lies inside or does not exist.
std::optional<std::filesystem::path> DirectoryOutside(std::u16string_view path,
                                                      std::u16string_view confinedTo);

}  // namespace voxtar::platform
