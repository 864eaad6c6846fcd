// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson: checks, lists and normalizes lesson indexes without the window, on the same
// lesson core. Kept callable in-process so that it can be tested without spawning it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "cli/usage_text.h"

namespace voxtar::cli {

// Runs the tool with its arguments (without the program name), UTF-8 as given on the command
// line. Results go to `out`, usage errors and `list`'s failure to `err`. Returns the exit status.
int RunLessonTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
