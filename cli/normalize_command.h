// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson normalize: each lesson loaded as the recorder loads it, and so rewritten.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// `args` are the command's arguments after "normalize": [--take-over] INDEX... Returns kExitOk
// when every lesson was rewritten, kExitFailed otherwise, kExitUsage on bad usage.
int RunNormalize(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
