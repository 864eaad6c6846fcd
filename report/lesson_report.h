// SPDX-License-Identifier: GPL-3.0-or-later
// What a report shows of one lesson: its counts, and each recorded take measured and judged
// within the lesson as `voxtar-lesson takes` judges it. No Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lesson/lesson.h"
#include "measures/delivery_profile.h"
#include "measures/judgement.h"
#include "measures/lesson_judging.h"
#include "measures/take_measures.h"

namespace voxtar::report {

struct Counts {
  int prompts = 0;
  int recorded = 0;  // prompts whose take exists, as `check` counts them
  int pending = 0;   // as `check` counts them: not recorded yet, or its text changed since
  int passing = 0;   // takes that meet the profile
  int flagged = 0;   // takes with a problem, or that cannot be read

  Counts& operator+=(const Counts& other);
  bool operator==(const Counts&) const = default;
};

// A take of a speakable prompt (a short prompt's take is not judged), or a speakable prompt that
// has no take yet: the flagged table names it, and nothing else counts it as a take.
struct TakeRow {
  int number = 0;        // the prompt's, from 1
  std::string name;      // UTF-8, as in the index
  std::string text;      // UTF-8, as stored, edit marker and all
  bool missing = false;  // no take: nothing below is set
  bool read = false;     // false (and not missing): `error` says why
  std::string error;
  measures::TakeMeasures measures;  // when read
  measures::Judgement judgement;    // when read
  std::optional<double> textMatch;  // when read and judged against its text (0..1)

  // In the flagged table: missing, unreadable, or with a problem.
  bool flagged() const { return missing || !read || !judgement.ok(); }
};

struct LessonReport {
  std::string index;    // as given (UTF-8, not necessarily valid)
  std::string caption;  // UTF-8, from the lesson list; empty: the lesson is named by its index
  std::string error;    // why the lesson did not load; then nothing below is set
  // What its takes were judged by, when it is not the report's profile (Judged::profile).
  std::optional<measures::DeliveryProfile> profile;
  Counts counts;
  std::vector<TakeRow> takes;  // in prompt order, the prompts without a take among them
  std::optional<double> medianLoudnessLufs;

  bool loaded() const { return error.empty(); }
  // What heads the lesson: its caption, or its index.
  const std::string& title() const { return caption.empty() ? index : caption; }
};

// The caption of the lesson at `indexPath` (absolute) in the lesson list of its working directory
// ("Ini/lessons.ini"), as the lesson chooser shows it: the line before the lesson's line. Empty
// when the list does not name the lesson, or the line before is itself a lesson line or blank.
std::string LessonCaption(std::u16string_view indexPath);

// Measures the takes of `lesson` (loaded, its recorded prompts scanned) as voxtar-lesson takes
// and the window do (measures::JudgeLesson, through the user's measure cache), and judges each
// take against `profile` within the lesson; `expectedFormat` unset: formats are not judged.
// `progress`, when set, hears how the judging goes.
LessonReport GatherLesson(const lesson::Lesson& lesson, const measures::DeliveryProfile& profile,
                          std::optional<measures::TakeFormat> expectedFormat,
                          const measures::JudgingProgress& progress = {});

}  // namespace voxtar::report
