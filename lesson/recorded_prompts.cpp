// Which prompts already have a recording: the prompt directory's "*.wav" names, lower-cased,
// matched exactly against the entries' names as written.
#include <list>
#include <string>

#include "lesson/lesson.h"
#include "platform/file_system.h"
#include "text/wide_string.h"

namespace voxtar {

void Lesson::ScanRecordedPrompts() {
  if (prompts.count == 0) {
    return;
  }
  // A list, so that removing a matched candidate costs nothing and later entries never compare
  // against it.
  std::list<std::u16string> candidates;
  for (std::u16string& name : platform::ListDirectory(paths.promptDirectory, u"*.wav")) {
    FoldLower(name);
    candidates.push_back(std::move(name));
  }
  for (const auto& entry : prompts.entries) {
    if (candidates.empty()) {
      break;
    }
    for (auto it = candidates.begin(); it != candidates.end(); ++it) {
      if (CompareStrings(entry->name.c_str(), it->c_str()) == 0) {
        entry->recorded = 1;
        candidates.erase(it);
        break;
      }
    }
  }
}

}  // namespace voxtar
