// SPDX-License-Identifier: GPL-3.0-or-later
// What the commands of voxtar-lesson share: exit statuses, how names and figures are written,
// loading a lesson named on the command line and taking its lock.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lesson/lesson.h"
#include "lesson/lesson_lock.h"
#include "text/value_text.h"

namespace voxtar::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // some lesson would not load, or could not be written
inline constexpr int kExitUsage = 2;

// A path as given (UTF-8), made absolute against the current directory.
std::u16string AbsolutePath(const std::string& given);
// Text as given (a path on the command line, or UTF-8 made from a name or text) that cannot
// drive the terminal or break the columns: control characters, and the backslash so that the
// escapes read back unambiguously, are written as escapes; bytes that are not UTF-8 as \xNN.
std::string Printable(std::string_view text);
std::string Printable(std::u16string_view text);
// Why a lesson did or did not load, in a few words ("file not found", "line 2: no space").
std::string Describe(const lesson::LoadOutcome& outcome);
// Loads the lesson named on the command line (UTF-8); false with the reason in `why` when it does
// not load, also when the name is not valid UTF-8 (it would name some other file).
bool LoadNamed(lesson::Lesson& lesson, const std::string& path, lesson::Lesson::LoadOptions options,
               std::string& why, lesson::LoadOutcome* outcome = nullptr);
// "1 take", "2 takes": `count` with the noun that goes with it.
template <typename Count>
std::string Counted(Count count, std::string_view one, std::string_view many) {
  return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}
// A whole number of at least `least` (digits only, no sign); nothing when it is not one.
std::optional<int> Number(std::string_view text, int least);
// Who holds a lesson's lock, and what the operator can do about it.
std::string HeldLockText(const platform::LockFile::Holder& holder);
// Takes a lesson's lock for a writer, or with `takeOver` breaks it whoever holds it; false with
// HeldLockText in `why` when someone else holds it. A lock that cannot be made is no holder: the
// write then says what is wrong.
bool LockForWriting(lesson::LessonLock& lock, bool takeOver, std::string& why);
// The index file a path given for a lesson names, as the user wrote its directory: the lines of
// the file are named as FILE:LINE.
std::string IndexFileAsGiven(const std::string& given, const lesson::Lesson& lesson);

}  // namespace voxtar::cli
