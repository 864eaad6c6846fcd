// voxtar-lesson: checks, lists and normalizes lesson indexes without the window, on the same
// lesson core. Kept callable in-process so that it can be tested without spawning it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace voxtar::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // some lesson would not load, or could not be written
inline constexpr int kExitUsage = 2;

// Runs the tool with its arguments (without the program name), UTF-8 as given on the command
// line. Results go to `out`, usage errors and `list`'s failure to `err`. Returns the exit status.
int RunLessonTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace voxtar::cli
