// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson new: a lesson from a list of sentences, so that a list of a few hundred
// sentences becomes a lesson without writing its index by hand.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// `args` are the command's arguments after "new":
// INDEX --from FILE [--caption TEXT] [--prefix P] [--force]. Returns kExitOk when the lesson was
// made, kExitFailed when the list, the index or the lesson list refused it or a write failed
// (nothing written then, unless it says so), kExitUsage on bad usage.
int RunNew(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
