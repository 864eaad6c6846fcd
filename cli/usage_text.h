// SPDX-License-Identifier: GPL-3.0-or-later
// The usage text of voxtar-lesson and its usage errors.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace voxtar::cli {

// The usage text of --help.
std::string_view UsageText();
// Reports a usage error to `err` with the hint to --help; returns kExitUsage.
int UsageError(std::ostream& err, const std::string& message);

}  // namespace voxtar::cli
