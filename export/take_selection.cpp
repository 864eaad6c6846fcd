#include "export/take_selection.h"

#include <algorithm>

#include "measures/lesson_measures.h"
#include "platform/utf8.h"
#include "text/wide_string.h"

namespace voxtar::exporting {

namespace {

constexpr std::size_t kNotMeasured = SIZE_MAX;

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
  FoldLower(folded);
  const auto [at, claimed] = owners_.try_emplace(std::move(folded), owner);
  return claimed ? std::nullopt : std::optional<std::string>(at->second);
}

std::optional<std::u16string> ExportName(std::u16string_view promptName) {
  std::u16string name(promptName);
  std::u16string end = name.size() >= 4 ? name.substr(name.size() - 4) : std::u16string();
  FoldLower(end);
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

Selection SelectTakes(const Lesson& lesson, const measures::DeliveryProfile& profile,
                      bool includeFlagged, std::string_view lessonLabel, ExportNames* names,
                      measures::MeasureCache* kept, unsigned threads) {
  const auto& entries = lesson.prompts.entries;
  // Each take under its name on disk, as the scan found it.
  const std::vector<std::u16string> takeFiles = lesson.FindTakeFiles();
  std::vector<measures::LessonMeasures::Prompt> prompts;
  std::vector<std::u16string> toMeasure;
  std::vector<std::size_t> measuredAt(entries.size(), kNotMeasured);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    prompts.push_back({std::u16string(entries[i]->name), std::u16string(entries[i]->text)});
    if (IsSpeakable(*entries[i]) && entries[i]->recorded && !takeFiles[i].empty()) {
      measuredAt[i] = toMeasure.size();
      toMeasure.push_back(takeFiles[i]);
    }
  }
  // Judged as the takes command judges, but for the format, which the export sets.
  measures::LessonMeasures lessonMeasures(profile);
  lessonMeasures.SetPrompts(std::move(prompts));
  const std::u16string& directory = lesson.paths.promptDirectory;
  measures::MeasureCache beside;
  beside.Load(directory);
  for (const std::u16string& name : toMeasure) {
    const std::optional<measures::FileStamp> stamp = measures::StampOf(directory + name);
    if (stamp && kept->Find(name, *stamp) == nullptr) {
      if (const measures::TakeMeasures* fresh = beside.Find(name, *stamp)) {
        kept->Store(name, *stamp, *fresh);
      }
    }
  }
  const std::vector<measures::MeasuredTake> measured =
      measures::MeasureTakes(directory, toMeasure, kept, threads);
  kept->Retain(toMeasure);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (measuredAt[i] != kNotMeasured && measured[measuredAt[i]].read) {
      lessonMeasures.SetMeasures(entries[i]->name, measured[measuredAt[i]].measures);
    }
  }

  Selection selection;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PromptEntry& entry = *entries[i];
    const std::u16string prompt(entry.name);
    const auto leaveOut = [&](std::string reason) {
      selection.leftOut.push_back({prompt, std::move(reason)});
    };
    if (!IsSpeakable(entry)) {
      continue;
    }
    if (measuredAt[i] == kNotMeasured) {
      leaveOut("missing");
      continue;
    }
    if (const measures::MeasuredTake& take = measured[measuredAt[i]]; !take.read) {
      leaveOut("unreadable: " + take.error);
      continue;
    }
    // The take was made for another text: its words are not what the list would say.
    if (IsPending(entry)) {
      leaveOut("pending (text edited after the take)");
      continue;
    }
    const std::vector<measures::Problem> problems =
        lessonMeasures.Judge(i).value_or(measures::Judgement{}).problems();
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
        {prompt, std::u16string(entry.text), lesson.paths.promptDirectory + takeFiles[i], *name,
         *lessonMeasures.measures(i), lessonMeasures.SpeechRateAt(i), problems});
  }
  return selection;
}

}  // namespace voxtar::exporting
