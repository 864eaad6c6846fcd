// SPDX-License-Identifier: GPL-3.0-or-later
// One writer per lesson: the lock a window holds while it has a lesson loaded, and the one the
// writers of voxtar-lesson (normalize, restore, prune, new) take while they change it. A hidden
// file beside the index, ".NAME.lock", which no lesson listing shows; platform::LockFile tells how
// it works on network shares and how a holder that died shows. No Qt.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/lock_file.h"

namespace voxtar::lesson {

class LessonLock : public platform::LockFile {
 public:
  // The lock of the index at `indexPath` (LessonLocation::indexPath, Lesson::IndexPath()), found
  // ignoring letter case as the index is.
  explicit LessonLock(std::u16string_view indexPath);
};

// ".NAME.lock" beside the index; ".lock-HASH" for a name too long to take the additions.
std::filesystem::path LessonLockPath(std::u16string_view indexPath);

// "locked by USER on HOST, process PID, since TIME", or that another program is locking it.
std::string DescribeHolder(const platform::LockFile::Holder& holder);

}  // namespace voxtar::lesson
