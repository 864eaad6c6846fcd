// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/lock_file.h"
#include "platform/outcome.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string_view>
#include <thread>
#include <utility>

namespace voxtar::platform {

namespace {

constexpr std::size_t kMaxLockBytes = 4096;
// How often a lock being created, or held with patience, is looked at again.
constexpr std::chrono::milliseconds kPoll{50};
// Stale locks removed in one go at most: other processes may be taking them over too.
constexpr int kMaxRemovals = 5;
// How long a new holder waits for the advisory lock on its file while another process that
// inspects the file holds it a moment.
constexpr std::chrono::seconds kLockingWait{1};

std::string Quoted(const std::filesystem::path& path) {
  std::string quoted = "\"";
  quoted += path.native();
  quoted += '"';
  return quoted;
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    return "localhost";
  }
  return name;
}

std::string UserName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[1024];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_name != nullptr) {
    return found->pw_name;
  }
  return std::to_string(::geteuid());
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  return text;
}

std::string Lines(const LockFile::Holder& holder) {
  return "host=" + holder.host + "\npid=" + std::to_string(holder.pid) + "\nuser=" + holder.user +
         "\nsince=" + holder.since + "\n";
}

// The holder the lines name; *complete when all four lines are there and name a host and a process.
LockFile::Holder Parse(std::string_view text, bool* complete) {
  LockFile::Holder holder;
  int found = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || end == std::string_view::npos) {
      continue;  // a line still being written counts as missing
    }
    const std::string_view key = line.substr(0, equals);
    const std::string value(line.substr(equals + 1));
    if (key == "host") {
      holder.host = value;
    } else if (key == "user") {
      holder.user = value;
    } else if (key == "since") {
      holder.since = value;
    } else if (key == "pid") {
      char* rest = nullptr;
      const long long pid = std::strtoll(value.c_str(), &rest, 10);
      holder.pid = rest != value.c_str() && *rest == '\0' ? pid : 0;
    } else {
      continue;
    }
    ++found;
  }
  *complete = found == 4 && !holder.host.empty() && holder.pid > 0;
  return holder;
}

bool IsRunning(std::int64_t pid) {
  return pid <= 0 || pid > INT_MAX || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace

LockFile::LockFile(std::filesystem::path path)
    : path_(std::move(path)), name_(path_.filename().native()) {}

LockFile::~LockFile() {
  Release();
}

LockFile::Result LockFile::Acquire(std::chrono::milliseconds patience) {
  return Take(false, patience);
}

LockFile::Result LockFile::TakeOver() {
  return Take(true, {});
}

LockFile::Result LockFile::Take(bool whoever, std::chrono::milliseconds patience) {
  if (held()) {
    return Result::Acquired;
  }
  error_.clear();
  const std::filesystem::path parent = path_.parent_path();
  directory_.Reset(
      ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory_.valid()) {
    const int error = errno;
    error_ = "Cannot lock " + Quoted(path_) + ": " + SystemText(error);
    return Result::Failed;
  }
  const auto start = std::chrono::steady_clock::now();
  // Another process may release, create or take over the lock meanwhile.
  for (int removals = 0;;) {
    const Result created = Create();
    if (created != Result::Held) {
      return created;
    }
    Descriptor existing;
    bool lockedElsewhere = false;
    bool old = false;
    if (!Inspect(existing, &lockedElsewhere, &old)) {
      if (!error_.empty()) {
        return Result::Failed;
      }
      continue;  // released meanwhile
    }
    // A lock still held belongs to a live holder, or to another process taking it over now.
    bool stale = whoever;
    if (!stale && holder_.incomplete) {
      stale = old && !lockedElsewhere;
    } else if (!stale) {
      stale = !holder_.elsewhere && !lockedElsewhere && (holder_.processGone || holder_.lockGone);
    }
    if (stale) {
      if (++removals > kMaxRemovals) {
        return Result::Held;
      }
      if (!Remove(existing)) {
        return Result::Failed;
      }
      continue;
    }
    existing.Reset();  // its advisory lock too, lest the holder being created miss it
    const std::chrono::milliseconds wait =
        holder_.incomplete ? std::max<std::chrono::milliseconds>(kCreationGrace, patience)
                           : patience;
    if (std::chrono::steady_clock::now() - start >= wait) {
      return Result::Held;
    }
    std::this_thread::sleep_for(kPoll);
  }
}

LockFile::Result LockFile::Create() {
  Descriptor file(::openat(directory_.get(), name_.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!file.valid()) {
    const int error = errno;
    if (error == EEXIST) {
      return Result::Held;
    }
    error_ = "Cannot create the lock " + Quoted(path_) + ": " + SystemText(error);
    return Result::Failed;
  }
  // Locked before the lines are written: complete lines without the lock mean a holder gone. A
  // process inspecting the new file may hold the lock a moment.
  const auto start = std::chrono::steady_clock::now();
  while (TryLockWhole(file.get()) == LockAttempt::HeldElsewhere &&
         std::chrono::steady_clock::now() - start < kLockingWait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Holder self{HostName(), ::getpid(), UserName(), Now()};
  const std::string lines = Lines(self);
  if (::write(file.get(), lines.data(), lines.size()) != static_cast<ssize_t>(lines.size()) ||
      ::fsync(file.get()) != 0) {
    const int error = errno;
    ::unlinkat(directory_.get(), name_.c_str(), 0);
    error_ = "Cannot write the lock " + Quoted(path_) + ": " + SystemText(error);
    return Result::Failed;
  }
  holder_ = std::move(self);
  file_ = std::move(file);
  return Result::Acquired;
}

// Reads who holds the existing lock file. False when it is gone meanwhile, or (with error_) when
// it is no lock file. A writable one keeps the advisory lock in `existing` when it was free, so
// that of two processes taking a stale lock over only one removes it; *lockedElsewhere when
// someone else keeps it; *old when it was last written kCreationGrace ago or more.
bool LockFile::Inspect(Descriptor& existing, bool* lockedElsewhere, bool* old) {
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  existing.Reset(::openat(directory_.get(), name_.c_str(), O_RDWR | kFlags));
  const bool writable = existing.valid();
  if (!writable && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    existing.Reset(::openat(directory_.get(), name_.c_str(), O_RDONLY | kFlags));
  }
  struct stat info {};
  if (!existing.valid() || ::fstat(existing.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = existing.valid() ? EINVAL : errno;
    if (error == ENOENT) {
      return false;
    }
    error_ = "Cannot lock " + Quoted(path_) + ": " +
             (error == ELOOP || error == EINVAL ? std::string("it is no lock file")
                                                : std::string(SystemText(error)));
    return false;
  }
  std::string text(kMaxLockBytes, '\0');
  const ssize_t got = ::pread(existing.get(), text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  bool complete = false;
  holder_ = Parse(text, &complete);

  bool free = false;
  if (writable) {
    const LockAttempt attempt = TryLockWhole(existing.get());
    free = attempt == LockAttempt::Locked;
    *lockedElsewhere = attempt == LockAttempt::HeldElsewhere;
  } else {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool probed = ::fcntl(existing.get(), F_OFD_GETLK, &probe) == 0;
    free = probed && probe.l_type == F_UNLCK;
    *lockedElsewhere = probed && probe.l_type != F_UNLCK;
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const auto age = std::chrono::seconds(now.tv_sec - info.st_mtim.tv_sec) +
                   std::chrono::nanoseconds(now.tv_nsec - info.st_mtim.tv_nsec);
  *old = age >= kCreationGrace;
  holder_.incomplete = !complete;
  holder_.lockGone = free && (complete || *old);
  holder_.elsewhere = complete && holder_.host != HostName();
  holder_.processGone = complete && !holder_.elsewhere && !IsRunning(holder_.pid);
  return true;
}

// Removes the lock file `existing` was opened on, unless another has taken its place since.
bool LockFile::Remove(const Descriptor& existing) {
  struct stat opened {};
  struct stat named {};
  if (::fstat(existing.get(), &opened) != 0 ||
      ::fstatat(directory_.get(), name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
    return true;
  }
  if (::unlinkat(directory_.get(), name_.c_str(), 0) != 0 && errno != ENOENT) {
    const int error = errno;
    error_ = "Cannot take over the lock " + Quoted(path_) + ": " + SystemText(error);
    return false;
  }
  return true;
}

void LockFile::Release() {
  if (!held()) {
    return;
  }
  Remove(file_);
  file_.Reset();
  directory_.Reset();
}

}  // namespace voxtar::platform
