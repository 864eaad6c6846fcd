// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/save_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <utility>

#include "platform/file_system.h"
#include "platform/outcome.h"

namespace voxtar::platform {

namespace {

// Temporary files are ".voxtar-XXXXXXXX.tmp" whatever the target: a target whose name is as long
// as the file system allows still gets one.
constexpr std::string_view kTempPrefix = ".voxtar-";
constexpr std::string_view kTempExtension = ".tmp";
constexpr std::size_t kSuffixLength = 8;
constexpr int kMaxLinks = 40;  // as the kernel follows them
constexpr std::size_t kMaxNameBytes = NAME_MAX;

// Appended piece by piece: "literal" + string&& trips a false -Wrestrict in GCC 12 at -O3.
std::string Quoted(const std::filesystem::path& path) {
  std::string quoted = "\"";
  quoted += path.native();
  quoted += '"';
  return quoted;
}

FileIdentity IdentityOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size),
          std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec};
}

std::string RandomSuffix() {
  static std::atomic<unsigned> counter{0};
  static const unsigned kSeed = std::random_device{}();
  std::mt19937 generator(
      kSeed ^ static_cast<unsigned>(::getpid()) ^
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (counter.fetch_add(1) * 2654435761u));
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix(kSuffixLength, 'x');
  for (char& c : suffix) {
    c = kLetters[generator() % (sizeof(kLetters) - 1)];
  }
  return suffix;
}

bool IsTemporaryName(std::string_view name) {
  if (name.size() != kTempPrefix.size() + kSuffixLength + kTempExtension.size() ||
      !name.starts_with(kTempPrefix) || !name.ends_with(kTempExtension)) {
    return false;
  }
  const std::string_view suffix = name.substr(kTempPrefix.size(), kSuffixLength);
  return std::all_of(suffix.begin(), suffix.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// A save killed between creating its temporary file and the rename (SIGKILL, a file-size limit)
// leaves the file behind. A running save, of this process or another, of whatever target, holds
// the advisory lock on its temporary file for as long as it writes it; only a file whose lock
// can be taken, and which is older than a save takes, is removed.
void RemoveStaleTemporaries(int directory) {
  constexpr std::time_t kGraceSeconds = 60;
  DIR* listing = ::fdopendir(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing == nullptr) {
    return;
  }
  const std::time_t now = std::time(nullptr);
  while (const dirent* entry = ::readdir(listing)) {
    if (!IsTemporaryName(entry->d_name)) {
      continue;
    }
    const Descriptor file(::openat(directory, entry->d_name,
                                   O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    struct stat named {};
    if (file.valid() && ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) &&
        now - info.st_mtim.tv_sec > kGraceSeconds &&
        TryLockWhole(file.get()) == LockAttempt::Locked &&
        ::fstatat(directory, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_ino == info.st_ino && named.st_dev == info.st_dev) {
      ::unlinkat(directory, entry->d_name, 0);
    }
  }
  ::closedir(listing);
}

// Why an existing target may not be replaced, or None when it may.
SaveFailure::Kind RefusalFor(int directory, const std::string& name, const struct stat& info) {
  if (S_ISDIR(info.st_mode)) {
    return SaveFailure::Kind::IsDirectory;
  }
  if (!S_ISREG(info.st_mode)) {
    return SaveFailure::Kind::NotRegularFile;
  }
  // access() answers "writable" to root for any file, so the write bits are checked as well.
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
      ::faccessat(directory, name.c_str(), W_OK, 0) != 0) {
    return SaveFailure::Kind::ReadOnly;
  }
  return SaveFailure::Kind::None;
}

// The real path of an open directory, as the kernel knows it.
std::optional<std::string> RealPathOf(int directory) {
  const std::string link = "/proc/self/fd/" + std::to_string(directory);
  std::string real(PATH_MAX, '\0');
  const ssize_t length = ::readlink(link.c_str(), real.data(), real.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= real.size() || real.front() != '/') {
    return std::nullopt;
  }
  real.resize(static_cast<std::size_t>(length));
  return real;
}

// The real path of an existing file or directory; empty when there is none (so that, as a
// confinement, nothing lies inside it).
std::string RealPath(const std::filesystem::path& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) {
    return {};
  }
  std::string resolved(real);
  std::free(real);  // realpath's own buffer
  return resolved;
}

// Whether two file names are of one kind: the same extension, ASCII letter case aside.
bool SameKind(const std::filesystem::path& a, const std::filesystem::path& b) {
  const std::string x = a.extension().native();
  const std::string y = b.extension().native();
  return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(p) == lower(q);
  });
}

bool LiesWithin(std::string_view path, std::string_view directory) {
  if (directory.empty()) {
    return false;
  }
  if (directory == "/") {
    return true;
  }
  return path.starts_with(directory) &&
         (path.size() == directory.size() || path[directory.size()] == '/');
}

// Where a write to a path lands: the opened directory and the name in it, after following the
// symbolic links the last component leads through. Directory links on the way are followed by
// the opens themselves.
struct Landing {
  Descriptor directory;
  std::string name;
  std::filesystem::path shown;  // the landing file as the links spell it, for messages
  struct stat origin {};        // the directory the path itself names
  bool throughLink = false;
  int error = 0;  // errno when it cannot be followed
};

Landing Follow(const std::filesystem::path& path) {
  Landing landing;
  landing.shown = path;
  landing.name = path.filename().native();
  const std::filesystem::path parent = path.parent_path();
  landing.directory.Reset(
      ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!landing.directory.valid() || ::fstat(landing.directory.get(), &landing.origin) != 0) {
    landing.error = errno;
    return landing;
  }
  for (int depth = 0; depth < kMaxLinks; ++depth) {
    struct stat info {};
    if (::fstatat(landing.directory.get(), landing.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(info.st_mode)) {
      return landing;  // a file, or a new one
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t length =
        ::readlinkat(landing.directory.get(), landing.name.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) {
      landing.error = length < 0 ? errno : ENAMETOOLONG;
      return landing;
    }
    link.resize(static_cast<std::size_t>(length));
    landing.throughLink = true;
    landing.shown = landing.shown.parent_path() / std::filesystem::path(link);
    const std::size_t slash = link.rfind('/');
    if (slash != std::string::npos) {
      const std::string directory = link.substr(0, slash == 0 ? 1 : slash);
      // Relative to the link's own directory, absolute as written.
      landing.directory.Reset(
          ::openat(landing.directory.get(), directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!landing.directory.valid()) {
        landing.error = errno;
        return landing;
      }
      link.erase(0, slash + 1);
    }
    landing.name = std::move(link);
    if (landing.name.empty()) {
      landing.name = ".";  // "dir/": the directory itself, which is refused as such
    }
  }
  landing.error = ELOOP;
  return landing;
}

// The file a landing reached through a link leads to, when that lies neither inside the real
// confinement nor in the directory the path itself names; nothing otherwise.
std::optional<std::filesystem::path> OutsideOf(const Landing& landing,
                                               const std::string& confinement) {
  if (!landing.throughLink) {
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(landing.directory.get(), &info) == 0 && info.st_dev == landing.origin.st_dev &&
      info.st_ino == landing.origin.st_ino) {
    return std::nullopt;
  }
  const std::optional<std::string> real = RealPathOf(landing.directory.get());
  if (real && LiesWithin(*real, confinement)) {
    return std::nullopt;
  }
  // Where it cannot be told, it counts as outside.
  return real ? std::filesystem::path(*real) / landing.name : landing.shown;
}

}  // namespace

std::string BackupName(std::string_view name, std::time_t when, int attempt) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, ".%Y-%m-%dT%H-%M-%S", &local);
  std::string tail = stamp;
  if (attempt > 0) {
    tail += '-' + std::to_string(attempt + 1);
  }
  tail += ".bak";
  std::size_t keep = std::min(name.size(), kMaxNameBytes - tail.size());
  while (keep > 0 && keep < name.size() &&
         (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return std::string(name.substr(0, keep)) + tail;
}

namespace {

// Copies `from` to a new file `to` in the same directory, for file systems without hard links.
int CopyWithin(int directory, const std::string& from, const std::string& to, mode_t mode) {
  const Descriptor source(::openat(directory, from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!source.valid()) {
    return errno;
  }
  Descriptor copy(::openat(directory, to.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0666));
  if (!copy.valid()) {
    return errno;
  }
  std::string block(1 << 16, '\0');
  int error = 0;
  for (;;) {
    const ssize_t got = ::read(source.get(), block.data(), block.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      error = got < 0 ? errno : 0;
      break;
    }
    for (ssize_t done = 0; done < got && error == 0;) {
      const ssize_t put =
          ::write(copy.get(), block.data() + done, static_cast<std::size_t>(got - done));
      if (put > 0) {
        done += put;
      } else if (put == 0 || errno != EINTR) {
        error = put < 0 ? errno : ENOSPC;
      }
    }
    if (error != 0) {
      break;
    }
  }
  if (error == 0 && ::fsync(copy.get()) != 0) {
    error = errno;
  }
  if (error == 0 && ::close(copy.Release()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlinkat(directory, to.c_str(), 0);
  }
  return error;
}

}  // namespace

std::string SaveFailureText(const SaveFailure& failure) {
  using Kind = SaveFailure::Kind;
  const std::string path = Quoted(failure.path);
  const std::string cause = failure.cause ? SystemText(failure.cause.value()) : std::string();
  switch (failure.kind) {
    case Kind::None:
      break;
    case Kind::IsSymbolicLink:
      return "Cannot save " + path + ": it is a symbolic link (to " + Quoted(failure.other) + ")";
    case Kind::CannotReach:
      return "Cannot save " + path + ": " + cause;
    case Kind::LinkOutside:
      return "Cannot save " + path + ": it is a link to " + Quoted(failure.other) +
             " outside the working directory";
    case Kind::LinkOfOtherKind:
      return "Cannot save " + path + ": it is a link to " + Quoted(failure.other) +
             ", which is not a file of its kind";
    case Kind::IsDirectory:
      return "Cannot save " + path + ": it is a directory";
    case Kind::NotRegularFile:
      return "Cannot save " + path + ": it is not a regular file";
    case Kind::ReadOnly:
      return "Cannot save " + path + ": it is read-only";
    case Kind::Permissions:
      return "Cannot set the permissions of " + path + ": " + cause;
    case Kind::CreateTemporary:
      return "Cannot create a temporary file in " + path + ": " + cause;
    case Kind::NotOpen:
      return "Cannot write " + path + ": the file is not open";
    case Kind::CommitNotOpen:
      return "Cannot save " + path + ": the file is not open";
    case Kind::Write:
      return "Cannot write " + path + ": " + cause;
    case Kind::TurnedIntoLink:
      return "Cannot save " + path + ": it turned into a link to " + Quoted(failure.other);
    case Kind::ChangedOnDisk:
      return "Cannot save " + path + ": it changed on disk since it was read";
    case Kind::Backup:
      return "Cannot keep a backup of " + path + ": " + cause;
    case Kind::Flush:
      return "Cannot flush " + path + " to disk: " + cause;
    case Kind::Replace:
      return "Cannot replace " + path + ": " + cause;
  }
  return {};
}

std::optional<FileIdentity> IdentifyFile(std::u16string_view path) {
  struct stat info {};
  if (::stat(ResolvePath(path).c_str(), &info) != 0) {
    return std::nullopt;
  }
  return IdentityOf(info);
}

SaveFile::SaveFile(std::u16string_view target, std::u16string_view confinedTo)
    : target_(ResolvePath(target)),
      confinedTo_(confinedTo.empty() ? std::filesystem::path() : ResolvePath(confinedTo)) {}

SaveFile::~SaveFile() {
  Cancel();
}

void SaveFile::ExpectTarget(const FileIdentity& expected, bool keepOther, std::time_t backupTime) {
  backupTime_ = backupTime;
  expected_ = expected;
  keepOther_ = keepOther;
}

bool SaveFile::Fail(SaveFailure::Kind kind, const std::filesystem::path& path, int error,
                    std::filesystem::path other) {
  failure_ = {kind, path, std::move(other),
              error == 0 ? std::error_code() : std::error_code(error, std::system_category())};
  error_ = SaveFailureText(failure_);
  return false;
}

// Opens the directory the file lands in; false (with the refusal) when it may not be written.
bool SaveFile::Land() {
  Landing landing = Follow(target_);
  final_ = landing.shown;
  if (refuseLinks_ && landing.throughLink) {
    linkRefusal_ = LinkRefusal{target_, landing.shown};
    return Fail(SaveFailure::Kind::IsSymbolicLink, target_, 0, landing.shown);
  }
  if (landing.error != 0) {
    return Fail(SaveFailure::Kind::CannotReach, target_, landing.error);
  }
  if (!confinedTo_.empty()) {
    if (std::optional<std::filesystem::path> outside = OutsideOf(landing, RealPath(confinedTo_))) {
      linkRefusal_ = LinkRefusal{target_, *outside};
      return Fail(SaveFailure::Kind::LinkOutside, target_, 0, std::move(*outside));
    }
  }
  if (landing.throughLink && !SameKind(target_.filename(), landing.name)) {
    const std::optional<std::string> real = RealPathOf(landing.directory.get());
    return Fail(SaveFailure::Kind::LinkOfOtherKind, target_, 0,
                real ? std::filesystem::path(*real) / landing.name : landing.shown);
  }
  directory_ = std::move(landing.directory);
  name_ = std::move(landing.name);
  return true;
}

bool SaveFile::Open() {
  if (file_.valid()) {
    return true;
  }
  failed_ = false;
  changedOnDisk_ = false;
  error_.clear();
  failure_ = {};
  linkRefusal_.reset();
  backup_.clear();
  if (!Land()) {
    return false;
  }
  struct stat info {};
  const bool exists = ::fstatat(directory_.get(), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists) {
    if (const SaveFailure::Kind refusal = RefusalFor(directory_.get(), name_, info);
        refusal != SaveFailure::Kind::None) {
      return Fail(refusal, final_);
    }
  }
  RemoveStaleTemporaries(directory_.get());
  // A new file: open() applies the umask and the directory's default ACL.
  if (!CreateTemporary(exists || ownerOnly_ ? mode_t{0600} : mode_t{0666})) {
    return false;
  }
  if (exists) {
    // The replacement takes the old file's place with its permissions and, where allowed, owner.
    if (::fchmod(file_.get(), ownerOnly_ ? mode_t{0600} : info.st_mode & 07777) != 0) {
      Fail(SaveFailure::Kind::Permissions, final_, errno);
      Cancel();
      return false;
    }
    struct stat tempInfo {};
    if (::fstat(file_.get(), &tempInfo) == 0 &&
        (tempInfo.st_uid != info.st_uid || tempInfo.st_gid != info.st_gid)) {
      [[maybe_unused]] const int ignored = ::fchown(file_.get(), info.st_uid, info.st_gid);
    }
  }
  return true;
}

bool SaveFile::CreateTemporary(mode_t mode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = std::string(kTempPrefix) + RandomSuffix() + std::string(kTempExtension);
    file_.Reset(::openat(directory_.get(), candidate.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (file_.valid()) {
      temp_ = std::move(candidate);
      // Held until the rename: the clean-up of other saves leaves a locked file alone. A file
      // system without such locks keeps leftovers rather than risk a running save's file.
      TryLockWhole(file_.get());
      return true;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  const int error = errno;
  const std::filesystem::path directory = final_.parent_path();
  return Fail(SaveFailure::Kind::CreateTemporary,
              directory.empty() ? std::filesystem::path(".") : directory, error);
}

bool SaveFile::Write(const void* data, std::size_t size) {
  if (!file_.valid()) {
    if (error_.empty()) {
      Fail(SaveFailure::Kind::NotOpen, target_);
    }
    failed_ = true;
    return false;
  }
  if (failed_) {
    return false;
  }
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(file_.get(), bytes, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      Fail(SaveFailure::Kind::Write, final_, error);
      failed_ = true;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Just before the rename: the name must still be a file this save may replace.
bool SaveFile::CheckTargetBeforeRename() {
  struct stat info {};
  if (::fstatat(directory_.get(), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return true;  // gone: the new file takes its place
  }
  if (S_ISLNK(info.st_mode)) {
    // A link that appeared since Open; a rename would replace the link itself.
    std::string link(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(directory_.get(), name_.c_str(), link.data(), link.size());
    link.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    linkRefusal_ = LinkRefusal{final_, link};
    return Fail(SaveFailure::Kind::TurnedIntoLink, final_, 0, link);
  }
  // The target may have turned read-only since Open; a rename would get around that.
  if (const SaveFailure::Kind refusal = RefusalFor(directory_.get(), name_, info);
      refusal != SaveFailure::Kind::None) {
    return Fail(refusal, final_);
  }
  if (expected_ && IdentityOf(info) != *expected_) {
    if (keepOther_) {
      return KeepAside();
    }
    changedOnDisk_ = true;
    return Fail(SaveFailure::Kind::ChangedOnDisk, final_);
  }
  return true;
}

// Keeps the file about to be replaced under a backup name beside it: a second name for it where
// the file system has hard links, a copy where it has not.
bool SaveFile::KeepAside() {
  struct stat info {};
  ::fstatat(directory_.get(), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW);
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    const std::string backup = BackupName(name_, backupTime_, attempt);
    error = ::linkat(directory_.get(), name_.c_str(), directory_.get(), backup.c_str(), 0) == 0
                ? 0
                : errno;
    if (error != 0 && error != EEXIST) {
      error = CopyWithin(directory_.get(), name_, backup, info.st_mode);
    }
    if (error == 0) {
      backup_ = final_.parent_path() / backup;
    }
  }
  if (error != 0) {
    return Fail(SaveFailure::Kind::Backup, final_, error);
  }
  return true;
}

bool SaveFile::Commit() {
  if (!file_.valid()) {
    if (error_.empty()) {
      Fail(SaveFailure::Kind::CommitNotOpen, target_);
    }
    return false;
  }
  if (failed_) {
    Cancel();
    return false;
  }
  // errno is taken into `error` before the message is built: building it may change errno, and
  // the order in which arguments are evaluated is unspecified.
  const auto fail = [this](SaveFailure::Kind kind, int error) {
    Fail(kind, final_, error);
    Cancel();
    return false;
  };
  if (::fsync(file_.get()) != 0) {
    return fail(SaveFailure::Kind::Flush, errno);
  }
  // A second descriptor keeps the lock through the rename; closing the first still reports what
  // a network file system could not write.
  Descriptor locked(::dup(file_.get()));
  if (!locked.valid() || ::close(file_.Release()) != 0) {
    return fail(SaveFailure::Kind::Write, errno);
  }
  struct stat info {};
  if (::fstat(locked.get(), &info) == 0) {
    written_ = IdentityOf(info);
  }
  if (!CheckTargetBeforeRename()) {
    Cancel();
    return false;
  }
  if (::renameat(directory_.get(), temp_.c_str(), directory_.get(), name_.c_str()) != 0) {
    return fail(SaveFailure::Kind::Replace, errno);
  }
  temp_.clear();
  // Make the rename itself durable. The new content is in place already, so a directory that
  // cannot be synced (some file systems refuse) does not turn the save into a failure.
  ::fsync(directory_.get());
  return true;
}

void SaveFile::Cancel() {
  file_.Reset();
  if (!temp_.empty()) {
    ::unlinkat(directory_.get(), temp_.c_str(), 0);
    temp_.clear();
  }
}

std::optional<std::filesystem::path> LinkLeadingOutside(std::u16string_view path,
                                                        std::u16string_view confinedTo) {
  const Landing landing = Follow(ResolvePath(path));
  // A link that leads nowhere a file could be created cannot be written through either.
  if (!landing.throughLink || landing.error != 0) {
    return std::nullopt;
  }
  return OutsideOf(landing, RealPath(ResolvePath(confinedTo)));
}

std::optional<std::filesystem::path> DirectoryOutside(std::u16string_view path,
                                                      std::u16string_view confinedTo) {
  const std::string real = RealPath(ResolvePath(path));
  if (real.empty() || LiesWithin(real, RealPath(ResolvePath(confinedTo)))) {
    return std::nullopt;
  }
  return real;
}

}  // namespace voxtar::platform
