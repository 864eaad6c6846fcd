// Which prompts already have a recording: the prompt directory's "*.wav" names, lower-cased,
// matched exactly against the entries' names as written.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lesson/lesson.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "text/wide_string.h"

namespace voxtar {

void Lesson::ScanRecordedPrompts() {
  if (prompts.count == 0) {
    return;
  }
  // How many candidates of each lower-cased name remain. Each file marks at most one entry, the
  // first of its name in list order: a matched candidate is used up. Two files can share a
  // candidate name (A.wav and a.wav), and then mark two entries, as a list of names would.
  std::vector<std::u16string> names =
      platform::ListDirectory(paths.promptDirectory, workdir::kTakePattern);
  std::unordered_map<std::u16string_view, int> remaining;
  for (std::u16string& name : names) {
    FoldLower(name);
    ++remaining[name];
  }
  for (const auto& entry : prompts.entries) {
    if (remaining.empty()) {
      break;
    }
    const auto it = remaining.find(entry->name);
    if (it != remaining.end()) {
      entry->recorded = true;
      if (--it->second == 0) {
        remaining.erase(it);
      }
    }
  }
}

}  // namespace voxtar
