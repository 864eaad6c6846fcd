#include "platform/save_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <system_error>
#include <utility>

#include "platform/file_system.h"

namespace voxtar::platform {

namespace {

constexpr std::size_t kSuffixLength = 8;
constexpr std::string_view kTempExtension = ".tmp";

std::string Describe(int error) {
  return std::strerror(error);
}

// Appended piece by piece: "literal" + string&& trips a false -Wrestrict in GCC 12 at -O3.
std::string Quoted(const std::filesystem::path& path) {
  std::string quoted = "\"";
  quoted += path.native();
  quoted += '"';
  return quoted;
}

// Follows symbolic links to the file they finally name, which need not exist yet.
std::filesystem::path FollowLinks(std::filesystem::path path) {
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
      break;
    }
    std::filesystem::path link = std::filesystem::read_symlink(path, error);
    if (error) {
      break;
    }
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path;
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

// Whether `name` is one of our temporary files for the target whose prefix is `base`
// (".NAME."): the prefix, kSuffixLength letters or digits, ".tmp".
bool IsTemporaryName(std::string_view name, std::string_view base) {
  if (name.size() != base.size() + kSuffixLength + kTempExtension.size() ||
      !name.starts_with(base) || !name.ends_with(kTempExtension)) {
    return false;
  }
  const std::string_view suffix = name.substr(base.size(), kSuffixLength);
  return std::all_of(suffix.begin(), suffix.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// A save killed between creating its temporary file and the rename (SIGKILL, a file-size limit)
// leaves the file behind. The next save of the same target removes those that are older than a
// save takes; a younger one may belong to a save running in another process right now.
void RemoveStaleTemporaries(const std::filesystem::path& directory, std::string_view base) {
  constexpr std::chrono::seconds kGrace{60};
  const auto now = std::filesystem::file_time_type::clock::now();
  std::error_code error;
  std::filesystem::directory_iterator it(directory.empty() ? "." : directory, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::filesystem::path& path = it->path();
    if (!IsTemporaryName(path.filename().native(), base)) {
      continue;
    }
    std::error_code statError;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, statError);
    const auto modified = std::filesystem::last_write_time(path, statError);
    if (!statError && std::filesystem::is_regular_file(status) && now - modified > kGrace) {
      ::unlink(path.c_str());
    }
  }
}

// Why an existing target may not be replaced, or empty when it may.
std::string RefusalFor(const std::filesystem::path& path, const struct stat& info) {
  if (S_ISDIR(info.st_mode)) {
    return "Cannot save " + Quoted(path) + ": it is a directory";
  }
  if (!S_ISREG(info.st_mode)) {
    return "Cannot save " + Quoted(path) + ": it is not a regular file";
  }
  // access() answers "writable" to root for any file, so the write bits are checked as well.
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0) {
    return "Cannot save " + Quoted(path) + ": it is read-only";
  }
  return {};
}

}  // namespace

SaveFile::SaveFile(std::u16string_view target, std::u16string_view confinedTo)
    : target_(ResolvePath(target)),
      confinedTo_(confinedTo.empty() ? std::filesystem::path() : ResolvePath(confinedTo)) {}

SaveFile::~SaveFile() {
  Cancel();
}

bool SaveFile::Open() {
  if (fd_ >= 0) {
    return true;
  }
  failed_ = false;
  error_.clear();
  final_ = FollowLinks(target_);

  mode_t mode = 0666;  // a new file: open() applies the umask and the directory's default ACL
  struct stat info {};
  const bool exists = ::stat(final_.c_str(), &info) == 0;
  if (exists) {
    error_ = RefusalFor(final_, info);
    if (!error_.empty()) {
      return false;
    }
  }

  const std::filesystem::path directory = final_.parent_path();
  std::string base = ".";
  base += final_.filename().native();
  base += '.';
  RemoveStaleTemporaries(directory, base);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate =
        directory / (base + RandomSuffix() + std::string(kTempExtension));
    fd_ = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                 exists ? mode_t{0600} : mode);
    if (fd_ >= 0) {
      temp_ = std::move(candidate);
      break;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  if (fd_ < 0) {
    const int error = errno;
    error_ = "Cannot create a temporary file in " +
             Quoted(directory.empty() ? std::filesystem::path(".") : directory) + ": " +
             Describe(error);
    return false;
  }
  if (exists) {
    // The replacement takes the old file's place with its permissions and, where allowed, owner.
    if (::fchmod(fd_, info.st_mode & 07777) != 0) {
      const int error = errno;
      error_ = "Cannot set the permissions of " + Quoted(temp_) + ": " + Describe(error);
      Cancel();
      return false;
    }
    struct stat tempInfo {};
    if (::fstat(fd_, &tempInfo) == 0 &&
        (tempInfo.st_uid != info.st_uid || tempInfo.st_gid != info.st_gid)) {
      [[maybe_unused]] const int ignored = ::fchown(fd_, info.st_uid, info.st_gid);
    }
  }
  return true;
}

bool SaveFile::Write(const void* data, std::size_t size) {
  if (fd_ < 0) {
    if (error_.empty()) {
      error_ = "Cannot write " + Quoted(target_) + ": the file is not open";
    }
    failed_ = true;
    return false;
  }
  if (failed_) {
    return false;
  }
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_, bytes, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      error_ = "Cannot write " + Quoted(final_) + ": " + Describe(error);
      failed_ = true;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool SaveFile::Commit() {
  if (fd_ < 0) {
    if (error_.empty()) {
      error_ = "Cannot save " + Quoted(target_) + ": the file is not open";
    }
    return false;
  }
  if (failed_) {
    Cancel();
    return false;
  }
  // errno is taken into `error` before the message is built: building it may change errno, and
  // the order in which arguments are evaluated is unspecified.
  const auto fail = [this](int error, const std::string& what) {
    error_ = what + ": " + Describe(error);
    Cancel();
    return false;
  };
  if (::fsync(fd_) != 0) {
    const int error = errno;
    return fail(error, "Cannot flush " + Quoted(final_) + " to disk");
  }
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) {
    const int error = errno;
    return fail(error, "Cannot write " + Quoted(final_));
  }
  // The target may have turned read-only since Open; a rename would get around that.
  struct stat info {};
  if (::stat(final_.c_str(), &info) == 0) {
    std::string refusal = RefusalFor(final_, info);
    if (!refusal.empty()) {
      error_ = std::move(refusal);
      Cancel();
      return false;
    }
  }
  if (::rename(temp_.c_str(), final_.c_str()) != 0) {
    const int error = errno;
    return fail(error, "Cannot replace " + Quoted(final_));
  }
  temp_.clear();
  // Make the rename itself durable. The new content is in place already, so a directory that
  // cannot be synced (some file systems refuse) does not turn the save into a failure.
  const std::filesystem::path directory = final_.parent_path();
  const int dirFd =
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

void SaveFile::Cancel() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

}  // namespace voxtar::platform
