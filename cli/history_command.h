// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson history, restore and prune: the earlier takes that saving a take kept, listed,
// put back and thinned out. The lessons are read as a dry run; restore and prune write only in
// the prompt directories' history folders and takes.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// Each takes its command's arguments (after the command's name) and returns the exit status:
// kExitUsage on bad usage, kExitFailed when a lesson does not load, a name is not a prompt of the
// lesson, there is no such earlier take or a history cannot be read or written.
//
// history [--json] INDEX [NAME...]
int RunHistory(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// restore INDEX NAME [N]
int RunRestore(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// prune --keep N INDEX...
int RunPrune(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
