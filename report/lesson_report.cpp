#include "report/lesson_report.h"

#include <thread>

#include "lesson/working_directory.h"
#include "measures/lesson_measures.h"
#include "measures/measure_cache.h"
#include "platform/file_system.h"
#include "platform/utf8.h"

namespace voxtar::report {

Counts& Counts::operator+=(const Counts& other) {
  prompts += other.prompts;
  recorded += other.recorded;
  pending += other.pending;
  passing += other.passing;
  flagged += other.flagged;
  return *this;
}

LessonReport GatherLesson(const Lesson& lesson, const measures::DeliveryProfile& profile,
                          std::optional<measures::TakeFormat> expectedFormat) {
  const std::u16string& directory = lesson.paths.promptDirectory;
  // The takes are measured, and cached, under their names on disk, as the scan found them.
  const std::vector<std::u16string> diskName = lesson.FindTakeFiles();
  std::vector<std::u16string> onDisk = platform::ListDirectory(directory, workdir::kTakePattern);

  LessonReport report;
  std::vector<measures::LessonMeasures::Prompt> prompts;
  std::vector<std::size_t> judged;  // prompt indexes of the takes
  std::vector<std::u16string> files;
  for (std::size_t i = 0; i < lesson.prompts.entries.size(); ++i) {
    const PromptEntry& entry = *lesson.prompts.entries[i];
    prompts.push_back({std::u16string(entry.name), std::u16string(entry.text)});
    ++report.counts.prompts;
    report.counts.recorded += entry.recorded ? 1 : 0;
    report.counts.pending += IsPending(entry) ? 1 : 0;
    if (entry.recorded && IsSpeakable(entry) && !diskName[i].empty()) {
      judged.push_back(i);
      files.push_back(diskName[i]);
    }
  }

  measures::MeasureCache cache;
  cache.Load(directory);
  const std::vector<measures::MeasuredTake> measured =
      measures::MeasureTakes(directory, files, &cache, std::thread::hardware_concurrency());
  cache.Retain(onDisk);
  std::string ignored;
  cache.Save(lesson.paths.workingDirectory, &ignored);  // without it, the next report reads more

  measures::LessonMeasures lessonMeasures(profile, expectedFormat);
  lessonMeasures.SetPrompts(std::move(prompts));
  for (std::size_t t = 0; t < judged.size(); ++t) {
    if (measured[t].read) {
      lessonMeasures.SetMeasures(lessonMeasures.prompt(judged[t]).name, measured[t].measures);
    }
  }
  // Judged once every take is in: the lesson's medians take them all.
  report.takes.reserve(judged.size());
  for (std::size_t t = 0; t < judged.size(); ++t) {
    const std::size_t i = judged[t];
    TakeRow& row = report.takes.emplace_back();
    row.number = static_cast<int>(i) + 1;
    row.name = platform::ToUtf8(lessonMeasures.prompt(i).name);
    row.text = platform::ToUtf8(lessonMeasures.prompt(i).text);
    row.read = measured[t].read;
    if (row.read) {
      row.measures = measured[t].measures;
      row.judgement = *lessonMeasures.Judge(i);
    } else {
      row.error = measured[t].error;
    }
    ++(row.flagged() ? report.counts.flagged : report.counts.passing);
  }
  report.medianLoudnessLufs = lessonMeasures.medianLoudnessLufs();
  return report;
}

}  // namespace voxtar::report
