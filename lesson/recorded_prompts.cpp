// SPDX-License-Identifier: GPL-3.0-or-later
// Which prompts already have a recording: the prompt directory's "*.wav" names matched against
// the entries' names, letter case aside.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lesson/lesson.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "text/wide_string.h"

namespace voxtar::lesson {

std::vector<std::size_t> MatchTakeFiles(const std::pmr::vector<PromptEntry*>& entries,
                                        const std::vector<std::u16string>& files) {
  std::vector<std::size_t> takeOf(entries.size(), kNoTakeFile);
  if (files.empty()) {
    return takeOf;
  }
  // First the names spelled exactly as on disk: with a.wav and A.wav both there, each entry gets
  // its own, and a lesson whose names match its files (the usual case) needs no folding.
  std::unordered_map<std::u16string_view, std::size_t> exact;
  exact.reserve(files.size());
  for (std::size_t f = 0; f < files.size(); ++f) {
    exact.emplace(files[f], f);
  }
  std::vector<char> used(files.size(), 0);
  std::size_t filesLeft = files.size();
  std::size_t entriesLeft = 0;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    const auto it = exact.find(entries[e]->name);
    if (it != exact.end() && used[it->second] == 0) {
      takeOf[e] = it->second;
      used[it->second] = 1;
      --filesLeft;
    } else {
      ++entriesLeft;
    }
  }
  if (filesLeft == 0 || entriesLeft == 0) {
    return takeOf;
  }
  // Then both sides folded. Folding only the file names would leave a prompt named with capitals
  // (LJ001-0001.wav, as imported sentence lists name them) without its take for ever, though the
  // take is saved under that very name. The files of one folded name go in listing order.
  std::vector<std::u16string> folded(files.size());
  std::vector<std::size_t> next(files.size(), kNoTakeFile);
  std::unordered_map<std::u16string_view, std::size_t> firstOf;
  firstOf.reserve(filesLeft);
  for (std::size_t f = files.size(); f-- > 0;) {
    if (used[f] != 0) {
      continue;
    }
    folded[f] = files[f];
    text::FoldLower(folded[f]);
    auto [it, added] = firstOf.try_emplace(folded[f], f);
    if (!added) {
      next[f] = it->second;
      it->second = f;
    }
  }
  std::u16string name;
  for (std::size_t e = 0; e < entries.size() && !firstOf.empty(); ++e) {
    if (takeOf[e] != kNoTakeFile) {
      continue;
    }
    name.assign(entries[e]->name);
    text::FoldLower(name);
    const auto it = firstOf.find(name);
    if (it == firstOf.end()) {
      continue;
    }
    takeOf[e] = it->second;
    if (next[it->second] == kNoTakeFile) {
      firstOf.erase(it);
    } else {
      it->second = next[it->second];
    }
  }
  return takeOf;
}

void Lesson::ScanRecordedPrompts() {
  if (prompts.count == 0) {
    return;
  }
  const std::vector<std::size_t> takeOf = MatchTakeFiles(
      prompts.entries, platform::ListDirectory(paths.promptDirectory, workdir::kTakePattern));
  for (std::size_t e = 0; e < takeOf.size(); ++e) {
    if (takeOf[e] != kNoTakeFile) {
      prompts.entries[e]->recorded = true;
    }
  }
}

}  // namespace voxtar::lesson
