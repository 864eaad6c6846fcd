// SPDX-License-Identifier: GPL-3.0-or-later
// A lock file that says who holds something, for local disks and network shares alike. No Qt.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/descriptor.h"

namespace voxtar::platform {

// The file is created with O_EXCL, which network file systems honour, and says who holds it
// ("host=", "pid=", "user=", "since=" lines). Where the file system offers advisory locks, the
// holder also keeps one on it for as long as it lives, so that a holder that died shows even
// from another host. The file is never written through a symbolic link.
//
// A holder writes its lines right after creating the file. An empty or incomplete file is being
// created for kCreationGrace; older, it was left by a holder that died on the way, whatever host
// it names, and is taken over.
class LockFile {
 public:
  static constexpr std::chrono::seconds kCreationGrace{5};

  struct Holder {
    std::string host;
    std::int64_t pid = 0;
    std::string user;
    std::string since;         // local time, as "2026-12-07T22:41:05+0100"
    bool processGone = false;  // a process of this host that no longer runs
    bool lockGone = false;     // nobody keeps the advisory lock any more
    bool elsewhere = false;    // a holder on another host, whose process cannot be seen from here
    bool incomplete = false;   // the file does not name a holder yet: it is being created
  };
  enum class Result { Acquired, Held, Failed };

  explicit LockFile(std::filesystem::path path);
  ~LockFile();  // releases a lock held
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Creates the lock file. Held (with holder()) when someone else holds it; a lock left by a
  // process of this host that is gone (no longer running, or its advisory lock is free), or an
  // incomplete one older than kCreationGrace, is taken over without asking. One younger is
  // waited for until it names its holder or grows old. With `patience`, a live holder is
  // waited for that long, for locks held a moment at a time. Failed (with error()) when no lock
  // file can be made there.
  Result Acquire(std::chrono::milliseconds patience = {});
  // Takes the lock whoever holds it, for an operator who knows its holder is gone.
  Result TakeOver();
  // Removes the lock file, unless someone took it over meanwhile.
  void Release();

  bool held() const { return file_.valid(); }
  // This process when held, else the holder the last Acquire or TakeOver found.
  const Holder& holder() const { return holder_; }
  const std::string& error() const { return error_; }

 private:
  Result Take(bool whoever, std::chrono::milliseconds patience);
  Result Create();
  bool Inspect(Descriptor& existing, bool* lockedElsewhere, bool* old);
  bool Remove(const Descriptor& existing);

  std::filesystem::path path_;
  std::string name_;
  Descriptor directory_;
  Descriptor file_;
  Holder holder_;
  std::string error_;
};

}  // namespace voxtar::platform
