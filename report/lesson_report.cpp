#include "report/lesson_report.h"

#include <thread>

#include "measures/lesson_judging.h"
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
  const measures::JudgedLesson judged =
      measures::JudgeLesson(lesson, profile, expectedFormat, std::thread::hardware_concurrency());
  LessonReport report;
  report.profile = profile;
  for (std::size_t i = 0; i < lesson.prompts.entries.size(); ++i) {
    const PromptEntry& entry = *lesson.prompts.entries[i];
    ++report.counts.prompts;
    report.counts.recorded += entry.recorded ? 1 : 0;
    report.counts.pending += IsPending(entry) ? 1 : 0;
    const measures::PromptTake& take = judged.prompts[i];
    if (take.status != measures::PromptTake::Status::Measured &&
        take.status != measures::PromptTake::Status::Unreadable) {
      continue;
    }
    // Judged once every take is in: the lesson's medians take them all.
    TakeRow& row = report.takes.emplace_back();
    row.number = static_cast<int>(i) + 1;
    row.name = platform::ToUtf8(judged.measures.prompt(i).name);
    row.text = platform::ToUtf8(judged.measures.prompt(i).text);
    row.read = take.status == measures::PromptTake::Status::Measured;
    if (row.read) {
      row.measures = *judged.measures.measures(i);
      row.judgement = *judged.measures.Judge(i);
    } else {
      row.error = take.error;
    }
    ++(row.flagged() ? report.counts.flagged : report.counts.passing);
  }
  report.medianLoudnessLufs = judged.measures.medianLoudnessLufs();
  return report;
}

}  // namespace voxtar::report
