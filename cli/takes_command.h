// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson takes: every recorded take of lessons measured and judged against a delivery
// profile, alone and within its lesson, for the reviewer of a finished lesson. Reads the lessons
// as a dry run and the takes as the recorder reads them; writes only the measure cache beside
// the takes.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// `args` are the command's arguments after "takes":
// [--template PATH] [--profile NAME|FILE] [--json] INDEX...
// Returns kExitOk when every recorded take passes, kExitFailed when a take does not or cannot be
// read, a lesson does not load, or the template or the profile cannot be read, kExitUsage on bad
// usage.
int RunTakes(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
