// SPDX-License-Identifier: GPL-3.0-or-later
// voxtar-lesson export: a lesson's takes sent out in the shape a delivery expects (a course
// player, an audiobook platform, a speech-synthesis training set): each good take resampled,
// mixed, trimmed and brought to loudness into a folder of WAV files, with a list of them. The
// lessons are read as a dry run; nothing is written into their working directory.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

// `args` are the command's arguments after "export":
// --to DIR [--format ljspeech|csv|json] [--rate HZ] [--bits 16|24|32f] [--channels 1|2]
// [--loudness LUFS] [--trim] [--include-flagged] [--profile NAME|FILE] INDEX...
// Returns kExitOk when every take went out, kExitFailed when some were left out or failed, a
// lesson does not load, or the profile or the export directory cannot be had, kExitUsage on bad
// usage.
int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
