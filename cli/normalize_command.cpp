// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/normalize_command.h"

#include <optional>

#include "cli/command_line.h"
#include "cli/command_support.h"
#include "cli/usage_text.h"
#include "lesson/lesson.h"
#include "lesson/lesson_lock.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"

namespace voxtar::cli {

namespace {

// Normalizes one lesson under its lock, so that a window that has it open never loses its
// changes to the rewrite; false (with a line saying why) when it is not rewritten.
bool NormalizeOne(const std::string& path, bool takeOver, std::ostream& out) {
  const std::string printable = Printable(path);
  std::optional<lesson::LessonLock> lock;
  if (platform::IsValidUtf8(path)) {
    const lesson::LessonLocation location = lesson::LocateLesson(AbsolutePath(path));
    std::string why;
    if (location.result == lesson::LoadResult::Loaded &&
        !LockForWriting(lock.emplace(location.indexPath), takeOver, why)) {
      out << printable << ": " << why << "\n";
      return false;
    }
  }
  lesson::Lesson lesson;
  std::string why;
  lesson::LoadOutcome outcome;
  if (!LoadNamed(lesson, path, {}, why, &outcome)) {
    out << printable << ": " << why << "\n";
    return false;
  }
  if (outcome.overlongCount > 0) {
    const lesson::OverlongLine& first = outcome.overlong.front();
    out << IndexFileAsGiven(path, lesson) << ":" << first.line << ": not written: " << first.Text();
    if (outcome.overlongCount > 1) {
      out << " (" << outcome.overlongCount << " lines beyond the limits)";
    }
    out << "; written back, the index would lose text\n";
    return false;
  }
  if (outcome.linkRefusal) {
    out << printable << ": not written: " << Printable(outcome.linkRefusal->link.native())
        << " is a link to " << Printable(outcome.linkRefusal->target.native())
        << " outside the working directory\n";
    return false;
  }
  if (!outcome.saved) {
    out << printable << ": cannot write file: " << Printable(lesson.saveError()) << "\n";
    return false;
  }
  out << printable << ": " << Counted(lesson.prompts.count, "prompt", "prompts") << ", rewritten\n";
  return true;
}

int Normalize(const std::vector<std::string>& paths, bool takeOver, std::ostream& out) {
  int status = kExitOk;
  for (const std::string& path : paths) {
    if (!NormalizeOne(path, takeOver, out)) {
      status = kExitFailed;
    }
  }
  return status;
}

}  // namespace

int RunNormalize(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line;
  bool takeOver = false;
  line.Flag("--take-over", &takeOver);
  std::vector<std::string> paths;
  if (const std::optional<int> status = line.Parse(args, &paths, out, err)) {
    return *status;
  }
  if (paths.empty()) {
    return UsageError(err, "normalize needs at least one INDEX");
  }
  return Normalize(paths, takeOver, out);
}

}  // namespace voxtar::cli
