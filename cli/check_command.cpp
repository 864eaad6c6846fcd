// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/check_command.h"

#include <filesystem>

#include "cli/command_line.h"
#include "cli/command_support.h"
#include "cli/usage_text.h"
#include "lesson/lesson.h"
#include "platform/file_system.h"

namespace voxtar::cli {

namespace {

struct Counts {
  int prompts = 0;
  int recorded = 0;
  int pending = 0;
};

Counts Count(const lesson::Lesson& lesson) {
  Counts counts;
  for (const auto& entry : lesson.prompts.entries) {
    ++counts.prompts;
    counts.recorded += entry->recorded ? 1 : 0;
    counts.pending += IsPending(*entry) ? 1 : 0;
  }
  return counts;
}

void ReportLink(std::ostream& out, std::u16string_view link, const std::filesystem::path& target) {
  out << "  " << Printable(link) << " -> " << Printable(target.native())
      << ": outside the working directory\n";
}

// The links of a lesson that lead outside its working directory: the index and the takes would
// not be written through them; the prompt directory works, but its takes go elsewhere.
void ReportLinksOutside(const lesson::Lesson& lesson, std::ostream& out) {
  const std::u16string& working = lesson.paths.workingDirectory;
  const std::u16string& prompts = lesson.paths.promptDirectory;
  if (const auto target = platform::LinkLeadingOutside(lesson.IndexPath(), working)) {
    ReportLink(out, lesson.IndexPath(), *target);
  }
  if (const auto target = platform::DirectoryOutside(prompts, working)) {
    ReportLink(out, prompts, *target);
  }
  for (const std::u16string& name : platform::ListDirectory(prompts, u"*")) {
    if (const auto target = platform::LinkLeadingOutside(prompts + name, working)) {
      ReportLink(out, prompts + name, *target);
    }
  }
}

// The lines beyond the limits that keep a lesson read-only.
void ReportOverlongLines(const std::string& path, const lesson::Lesson& lesson,
                         const lesson::LoadOutcome& outcome, std::ostream& out) {
  const std::string file = IndexFileAsGiven(path, lesson);
  for (const lesson::OverlongLine& line : outcome.overlong) {
    out << "  " << file << ":" << line.line << ": beyond the limits: " << line.Text() << "\n";
  }
  if (const auto more = outcome.overlongCount - static_cast<int>(outcome.overlong.size());
      more > 0) {
    out << "  " << file << ": " << more << " more lines beyond the limits\n";
  }
}

int Check(const std::vector<std::string>& paths, std::ostream& out) {
  int status = kExitOk;
  for (const std::string& path : paths) {
    lesson::Lesson lesson;
    std::string why;
    lesson::LoadOutcome outcome;
    if (!LoadNamed(lesson, path, {.dryRun = true}, why, &outcome)) {
      out << Printable(path) << ": " << why << "\n";
      status = kExitFailed;
      continue;
    }
    lesson.ScanRecordedPrompts();
    const Counts counts = Count(lesson);
    out << Printable(path) << ": " << Counted(counts.prompts, "prompt", "prompts") << ", "
        << counts.recorded << " recorded, " << counts.pending << " pending\n";
    ReportLinksOutside(lesson, out);
    if (outcome.overlongCount > 0) {
      // It opens for viewing only, and normalize refuses it.
      ReportOverlongLines(path, lesson, outcome, out);
      status = kExitFailed;
    }
  }
  return status;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line;
  std::vector<std::string> paths;
  if (const std::optional<int> status = line.Parse(args, &paths, out, err)) {
    return *status;
  }
  if (paths.empty()) {
    return UsageError(err, "check needs at least one INDEX");
  }
  return Check(paths, out);
}

}  // namespace voxtar::cli
