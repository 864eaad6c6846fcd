// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson report: the takes of lessons measured and judged as `takes` does, written as one
// HTML file to look at, print or pass on. The lessons are read as a dry run; besides the report,
// only the measure caches beside the takes are written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// `args` are the command's arguments after "report":
// [--template PATH] [--profile NAME|FILE] -o FILE.html INDEX...
// Returns kExitOk when the report was written and every lesson loaded, whether or not takes are
// flagged; kExitFailed when a lesson does not load (the report is written all the same, saying
// so), the template or the profile cannot be read, or the report cannot be written (then nothing
// is); kExitUsage on bad usage.
int RunReport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
