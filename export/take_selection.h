// SPDX-License-Identifier: GPL-3.0-or-later
// Which takes of a lesson an export sends out, and why each of the others stays behind. Takes are
// judged as voxtar-lesson takes and the window judge them (measures::JudgeLesson), alone and
// within their lesson, but for the format, which the export sets itself. Measures come from the
// user's measure cache where it is fresh: an export writes nothing into the working directory.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lesson/lesson.h"
#include "measures/delivery_profile.h"
#include "measures/judgement.h"
#include "measures/lesson_judging.h"
#include "measures/take_measures.h"

namespace voxtar::exporting {

struct SelectedTake {
  std::u16string prompt;  // the prompt's name, as in the index
  std::u16string text;    // as stored
  std::u16string source;  // the take file's path
  std::u16string name;    // its file's name in the export, without ".wav"
  measures::TakeMeasures measures;
  std::optional<double> speechRate;
  std::vector<measures::Problem> problems;  // a flagged take sent out all the same
};

struct LeftOut {
  std::u16string prompt;
  // "missing", "pending (text edited after the take)", "unreadable: ...", the problem words
  // ("clipped, cut-start"), or why its name cannot be used.
  std::string reason;
};

struct Selection {
  std::vector<SelectedTake> takes;  // in the order of the prompts
  std::vector<LeftOut> leftOut;     // in the order of the prompts
};

// The file names an export has given out, compared as the recorder compares take names (ignoring
// letter case), so that no take's file replaces another's.
class ExportNames {
 public:
  // Gives `name` to `owner`; when another has it, that owner.
  std::optional<std::string> Claim(std::u16string_view name, const std::string& owner);

 private:
  std::map<std::u16string, std::string, std::less<>> owners_;
};

// The name of a take's file in an export: the prompt's name without ".wav" (any letter case).
// Unset when it cannot name a file there: empty, "." or "..", with a separator or a control
// character, or with "|", which would break the columns of the list.
std::optional<std::u16string> ExportName(std::u16string_view promptName);

// The takes of the loaded lesson (its recorded prompts scanned) that go out: recorded, not
// pending, and passing their judgement (or flagged, with `includeFlagged`); each claims its name
// in `names` as "`lessonLabel`: PROMPT". Short prompts are no takes and appear in neither list.
// Measures, and checks against their texts, on up to `threads` threads what the cache has not
// fresh; `progress`, when set, hears how it goes.
Selection SelectTakes(const lesson::Lesson& lesson, const measures::DeliveryProfile& profile,
                      bool includeFlagged, std::string_view lessonLabel, ExportNames* names,
                      unsigned threads, const measures::JudgingProgress& progress = {});

}  // namespace voxtar::exporting
