// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/take_selection.h"

#include <algorithm>

#include "measures/lesson_judging.h"
#include "platform/utf8.h"
#include "text/wide_string.h"

namespace voxtar::exporting {

namespace {

std::string ProblemWords(const std::vector<measures::Problem>& problems) {
  std::string words;
  for (const measures::Problem problem : problems) {
    words += (words.empty() ? "" : ", ") + std::string(measures::ProblemWord(problem));
  }
  return words;
}

}  // namespace

std::optional<std::string> ExportNames::Claim(std::u16string_view name, const std::string& owner) {
  std::u16string folded(name);
  text::FoldLower(folded);
  const auto [at, claimed] = owners_.try_emplace(std::move(folded), owner);
  return claimed ? std::nullopt : std::optional<std::string>(at->second);
}

std::optional<std::u16string> ExportName(std::u16string_view promptName) {
  std::u16string name(promptName);
  std::u16string end = name.size() >= 4 ? name.substr(name.size() - 4) : std::u16string();
  text::FoldLower(end);
  if (end == u".wav") {
    name.resize(name.size() - 4);
  }
  const bool unusable = std::any_of(name.begin(), name.end(), [](char16_t c) {
    return c < 0x20 || c == 0x7F || c == u'/' || c == u'|';
  });
  if (unusable || name.empty() || name == u"." || name == u"..") {
    return std::nullopt;
  }
  return name;
}

Selection SelectTakes(const lesson::Lesson& lesson, const measures::DeliveryProfile& profile,
                      bool includeFlagged, std::string_view lessonLabel, ExportNames* names,
                      unsigned threads, const measures::JudgingProgress& progress) {
  // Judged as the takes command judges, but for the format, which the export sets.
  const measures::JudgedLesson judged =
      measures::JudgeLesson(lesson, profile, std::nullopt, threads, progress);
  const auto& entries = lesson.prompts.entries;
  Selection selection;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const lesson::PromptEntry& entry = *entries[i];
    const std::u16string prompt(entry.name);
    const auto leaveOut = [&](std::string reason) {
      selection.leftOut.push_back({prompt, std::move(reason)});
    };
    const measures::PromptTake& take = judged.prompts[i];
    switch (take.status) {
      case measures::PromptTake::Status::Short:
        continue;
      case measures::PromptTake::Status::Missing:
        leaveOut("missing");
        continue;
      case measures::PromptTake::Status::Unreadable:
        leaveOut("unreadable: " + take.error);
        continue;
      case measures::PromptTake::Status::Measured:
        break;
    }
    // The take was made for another text: its words are not what the list would say.
    if (IsPending(entry)) {
      leaveOut("pending (text edited after the take)");
      continue;
    }
    const std::vector<measures::Problem> problems =
        judged.measures.Judge(i).value_or(measures::Judgement{}).problems();
    if (!problems.empty() && !includeFlagged) {
      leaveOut(ProblemWords(problems));
      continue;
    }
    const std::optional<std::u16string> name = ExportName(prompt);
    if (!name) {
      leaveOut("its name cannot name a file");
      continue;
    }
    const std::string owner = std::string(lessonLabel) + ": " + platform::ToUtf8(prompt);
    if (const std::optional<std::string> other = names->Claim(*name, owner)) {
      leaveOut("its file name is taken by " + *other);
      continue;
    }
    selection.takes.push_back(
        {prompt, std::u16string(entry.text), lesson.paths.promptDirectory + judged.files[i], *name,
         *judged.measures.measures(i), judged.measures.SpeechRateAt(i), problems});
  }
  return selection;
}

}  // namespace voxtar::exporting
