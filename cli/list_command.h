// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson list: one line per prompt of a lesson, tab-separated. Nothing is written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// `args` are the command's arguments after "list": INDEX. Returns kExitOk when the lesson loads,
// kExitFailed (with why on `err`) when not, kExitUsage on bad usage.
int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
