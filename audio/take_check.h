// The window's check of a saved take: the "course" profile's judgement (measures/), under the
// names the window has used so far. The window moves on to measures::LessonMeasures to judge a
// take within its lesson and against the working directory's profile; then this goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/level_meter.h"
#include "measures/judgement.h"
#include "measures/take_measures.h"

namespace voxtar::audio {

using TakeFormat = measures::TakeFormat;
// ok; warning (too quiet, cut: listen again); bad (clipped, silent, format mismatch).
using TakeSeverity = measures::Severity;

struct TakeCheck {
  std::uint64_t frames = 0;
  std::uint32_t durationMs = 0;
  double peakDb = kFloorDb;        // of the whole take, clicks included
  double voicedPeakDb = kFloorDb;  // of the voice only: what "too quiet" looks at
  double voicedRmsDb = kFloorDb;   // of the voice only; kFloorDb without any
  std::uint64_t clippedSamples = 0;
  std::uint32_t leadingSilenceMs = 0;   // before the first voiced window (all of it if silent)
  std::uint32_t trailingSilenceMs = 0;  // after the last voiced window (all of it if silent)

  // Verdicts; none of them set means ok. A silent take is neither too quiet nor cut.
  bool clipped = false;
  bool tooQuiet = false;
  bool silent = false;
  bool cutAtStart = false;
  bool cutAtEnd = false;
  bool formatMismatch = false;  // set by the caller that compared the take with the template

  bool ok() const {
    return !clipped && !tooQuiet && !silent && !cutAtStart && !cutAtEnd && !formatMismatch;
  }
};

// Measures the file and checks it. False with *error (plain English) when the file cannot be
// read; *format receives the file's format when not null.
bool CheckTakeFile(std::u16string_view path, TakeCheck* check, TakeFormat* format,
                   std::string* error);

TakeSeverity SeverityOf(const TakeCheck& check);
// One line for the dialog: "ok, peak -6.2 dB, 2.4 s" or the verdicts with their figures, as
// "clipped (37 samples), cut at the end".
std::string SummaryLine(const TakeCheck& check);
// The verdicts as words, in a fixed order: "clipped", "too quiet", "silent", "cut at the start",
// "cut at the end", "format mismatch"; just "ok" when there is none.
std::vector<std::string_view> VerdictWords(const TakeCheck& check);

}  // namespace voxtar::audio
