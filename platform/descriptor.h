// SPDX-License-Identifier: GPL-3.0-or-later
// A file descriptor closed with its owner, and the advisory lock platform/ takes on files it
// must know are in use. No Qt.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <utility>

namespace voxtar::platform {

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset(std::exchange(other.fd_, -1));
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held and takes `fd`.
  void Reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// The outcome of trying for an advisory lock.
enum class LockAttempt { Locked, HeldElsewhere, Unsupported };

// Tries for a write lock on the whole file, bound to this open file (an open file description
// lock: unlike flock it is not emulated per process on NFS, and unlike fcntl locks it is not
// dropped when the process closes some other descriptor of the file). `fd` must be writable.
inline LockAttempt TryLockWhole(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) {
    return LockAttempt::Locked;
  }
  return errno == EAGAIN || errno == EACCES ? LockAttempt::HeldElsewhere : LockAttempt::Unsupported;
}

}  // namespace voxtar::platform
