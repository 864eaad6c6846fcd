// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/lesson_report.h"

#include <algorithm>
#include <thread>

#include "lesson/lesson_list.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "measures/lesson_judging.h"
#include "platform/utf8.h"
#include "text/text_line_reader.h"
#include "text/wide_string.h"

namespace voxtar::report {

Counts& Counts::operator+=(const Counts& other) {
  prompts += other.prompts;
  recorded += other.recorded;
  pending += other.pending;
  passing += other.passing;
  flagged += other.flagged;
  return *this;
}

namespace {

// A line of the lesson list that names a lesson: it holds ".ini" (a leading "-" only keeps the
// lesson out of the chooser). What it names, up to its first space, is the index with the
// extension ".ini", relative to the Ini folder.
bool IsLessonLine(std::u16string_view line) {
  return line.find(u".ini") != std::u16string_view::npos;
}

std::u16string IndexNamedBy(std::u16string_view line) {
  if (line.starts_with(u'-')) {
    line.remove_prefix(1);
  }
  std::u16string name(line.substr(0, line.find(u' ')));
  const std::size_t dot = name.rfind(u'.');
  const std::size_t separator = name.rfind(platform::kSeparator);
  if (dot != std::u16string::npos && (separator == std::u16string::npos || dot > separator)) {
    name.resize(dot);
  }
  name += lesson::workdir::kIndexExtension;
  text::FoldLower(name);
  return name;
}

std::u16string_view Trimmed(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

std::string LessonCaption(std::u16string_view indexPath) {
  const lesson::LessonLocation location = lesson::LocateLesson(indexPath);
  if (location.result != lesson::LoadResult::Loaded) {
    return {};
  }
  std::u16string wanted = location.subPath + location.lessonName;
  wanted += lesson::workdir::kIndexExtension;
  text::FoldLower(wanted);
  text::TextLineReader reader;
  reader.Open(lesson::workdir::LessonListPath(location.workingDirectory));
  if (reader.status() != text::ReaderStatus::Opened) {
    return {};
  }
  std::u16string previous;
  while (!reader.AtEnd()) {
    const std::u16string line(
        reader.ReadLine(static_cast<std::size_t>(lesson::kChooserLineSize - 1)).value_or(u""));
    if (IsLessonLine(line) && IndexNamedBy(line) == wanted) {
      return IsLessonLine(previous) ? std::string() : platform::ToUtf8(Trimmed(previous));
    }
    previous = line;
  }
  return {};
}

LessonReport GatherLesson(const lesson::Lesson& lesson, const measures::DeliveryProfile& profile,
                          std::optional<measures::TakeFormat> expectedFormat,
                          const measures::JudgingProgress& progress) {
  const measures::JudgedLesson judged = measures::JudgeLesson(
      lesson, profile, expectedFormat, std::max(1u, std::thread::hardware_concurrency()), progress);
  LessonReport report;
  report.profile = profile;
  for (std::size_t i = 0; i < lesson.prompts.entries.size(); ++i) {
    const lesson::PromptEntry& entry = *lesson.prompts.entries[i];
    ++report.counts.prompts;
    report.counts.recorded += entry.recorded ? 1 : 0;
    report.counts.pending += IsPending(entry) ? 1 : 0;
    const measures::PromptTake& take = judged.prompts[i];
    if (take.status == measures::PromptTake::Status::Short) {
      continue;
    }
    // Judged once every take is in: the lesson's medians take them all.
    TakeRow& row = report.takes.emplace_back();
    row.number = static_cast<int>(i) + 1;
    row.name = platform::ToUtf8(judged.measures.prompt(i).name);
    row.text = platform::ToUtf8(judged.measures.prompt(i).text);
    if (take.status == measures::PromptTake::Status::Missing) {
      row.missing = true;
      continue;
    }
    row.read = take.status == measures::PromptTake::Status::Measured;
    if (row.read) {
      row.measures = *judged.measures.measures(i);
      row.judgement = *judged.measures.Judge(i);
      if (const measures::TextCheck* text = judged.measures.textCheck(i); text && text->judged) {
        row.textMatch = text->textMatch;
      }
    } else {
      row.error = take.error;
    }
    ++(row.flagged() ? report.counts.flagged : report.counts.passing);
  }
  report.medianLoudnessLufs = judged.measures.medianLoudnessLufs();
  return report;
}

}  // namespace voxtar::report
