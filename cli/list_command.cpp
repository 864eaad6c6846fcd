// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/list_command.h"

#include "cli/command_line.h"
#include "cli/command_support.h"
#include "cli/usage_text.h"
#include "lesson/lesson.h"

namespace voxtar::cli {

namespace {

std::string_view Status(const lesson::PromptEntry& entry) {
  if (!IsSpeakable(entry)) {
    return "short";
  }
  return IsPending(entry) ? "pending" : "recorded";
}

int List(const std::string& path, std::ostream& out, std::ostream& err) {
  lesson::Lesson lesson;
  std::string why;
  if (!LoadNamed(lesson, path, {.dryRun = true}, why)) {
    err << Printable(path) << ": " << why << "\n";
    return kExitFailed;
  }
  lesson.ScanRecordedPrompts();
  int number = 0;
  for (const auto& entry : lesson.prompts.entries) {
    out << ++number << '\t' << Status(*entry) << '\t' << Printable(entry->name) << '\t'
        << Printable(entry->text) << '\n';
  }
  return kExitOk;
}

}  // namespace

int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line;
  std::vector<std::string> paths;
  if (const std::optional<int> status = line.Parse(args, &paths, out, err)) {
    return *status;
  }
  if (paths.size() != 1) {
    return UsageError(err, "list needs exactly one INDEX");
  }
  return List(paths.front(), out, err);
}

}  // namespace voxtar::cli
