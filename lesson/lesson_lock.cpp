// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/lesson_lock.h"

#include <climits>
#include <cstdint>
#include <cstdio>

#include "platform/file_system.h"

namespace voxtar::lesson {

LessonLock::LessonLock(std::u16string_view indexPath)
    : platform::LockFile(LessonLockPath(indexPath)) {}

std::filesystem::path LessonLockPath(std::u16string_view indexPath) {
  const std::filesystem::path index = platform::ResolvePath(indexPath);
  const std::string name = index.filename().native();
  constexpr std::string_view kExtension = ".lock";
  if (name.size() + 1 + kExtension.size() <= NAME_MAX) {
    return index.parent_path() / ("." + name + std::string(kExtension));
  }
  std::uint64_t hash = 14695981039346656037u;  // FNV-1a
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return index.parent_path() / (std::string(kExtension) + "-" + hex);
}

std::string DescribeHolder(const platform::LockFile::Holder& holder) {
  if (holder.incomplete) {
    return "being locked by another program (its lock file does not name it yet)";
  }
  return "locked by " + holder.user + " on " + holder.host + ", process " +
         std::to_string(holder.pid) + ", since " + holder.since;
}

}  // namespace voxtar::lesson
