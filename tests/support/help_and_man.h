// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a program's --help text and its manual page into the same outline, so a test can tell
// that the two list the same synopsis, commands and options.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar::testing {

struct Outline {
  std::vector<std::string> synopsis;  // one usage line each, spaces collapsed
  // Section name (upper case) -> entry names in order ("check INDEX...", "-h, --help").
  std::map<std::string, std::vector<std::string>> entries;
};

// From help text: the "Usage:" lines, and every indented entry under a "Name:" line (the entry
// name ends at the first run of two spaces).
Outline OutlineOfHelp(std::string_view help);
// From man page source: the lines between .nf and .fi under SYNOPSIS, and the tag line after
// each .TP, by .SH section. Font escapes and "\-" are read as the text they print.
Outline OutlineOfManPage(std::string_view roff);

}  // namespace voxtar::testing
