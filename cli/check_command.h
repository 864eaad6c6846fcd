// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson check: whether each lesson loads, with its counts, the links that lead outside
// its working directory and the lines of its index beyond the limits. Nothing is written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// `args` are the command's arguments after "check": INDEX... Returns kExitOk when every lesson
// loads without a line beyond the limits, kExitFailed otherwise, kExitUsage on bad usage.
int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
