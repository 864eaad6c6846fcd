// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/lesson_tool.h"

#include <optional>
#include <string_view>

#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/export_command.h"
#include "cli/history_command.h"
#include "cli/list_command.h"
#include "cli/new_command.h"
#include "cli/normalize_command.h"
#include "cli/report_command.h"
#include "cli/takes_command.h"
#include "version.h"

namespace voxtar::cli {

namespace {

using RunCommand = int (*)(const std::vector<std::string>& args, std::ostream& out,
                           std::ostream& err);

struct Command {
  std::string_view name;
  RunCommand run;
};

constexpr Command kCommands[] = {
    {"check", RunCheck},     {"list", RunList},       {"normalize", RunNormalize},
    {"takes", RunTakes},     {"report", RunReport},   {"new", RunNew},
    {"history", RunHistory}, {"restore", RunRestore}, {"prune", RunPrune},
    {"export", RunExport},
};

}  // namespace

int RunLessonTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line(/*upToCommand=*/true);
  bool version = false;
  line.Flag("--version", &version);
  std::vector<std::string> rest;
  if (const std::optional<int> status = line.Parse(args, &rest, out, err)) {
    return *status;
  }
  if (version) {
    out << "voxtar-lesson " << kVersion << "\n";
    return kExitOk;
  }
  if (rest.empty()) {
    return UsageError(err, "missing command");
  }
  const std::string& name = rest.front();
  if (name == "help") {
    out << UsageText();
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (command.name == name) {
      rest.erase(rest.begin());
      return command.run(rest, out, err);
    }
  }
  return UsageError(err, (name.starts_with("-") ? "unknown option '" : "unknown command '") +
                             Printable(name) + "'");
}

}  // namespace voxtar::cli
