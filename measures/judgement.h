// SPDX-License-Identifier: GPL-3.0-or-later
// A take judged against a delivery profile: its problems as short machine words (for JSON, the
// report, the export), as words for people ("cut at the end", what voxtar-lesson prints), with
// their figures for the window's strip ("too quiet (peak -34.0 dB)", "4.1 LU louder than the
// lesson"), and how serious they are, for the strip's colour.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "measures/delivery_profile.h"
#include "measures/take_measures.h"
#include "measures/text_check.h"

namespace voxtar::measures {

// In the order they are reported.
enum class Problem {
  Clipped,
  TooQuiet,
  TooLoud,
  Silent,
  CutStart,
  CutEnd,
  HeadLong,
  TailLong,
  Noisy,
  Loudness,
  TruePeak,
  Format,
  InconsistentLoudness,
  InconsistentRate,
  TextMismatch,
  Incomplete,
  ExtraSpeech,
};
inline constexpr int kProblemCount = 17;

// "clipped", "too-quiet", ..., "inconsistent-rate".
std::string_view ProblemWord(Problem problem);
std::optional<Problem> ProblemFromWord(std::string_view word);
// "clipped", "too quiet", "cut at the start", ...: the words voxtar-lesson prints.
std::string_view ProblemName(Problem problem);

// ok; warning (listen again, or fix at export); bad (clipped, silent, format: record again).
enum class Severity { Ok, Warning, Bad };
Severity SeverityOf(Problem problem);

// Where a take stands: what it is compared with beyond the profile's limits.
struct TakeContext {
  std::optional<TakeFormat> expectedFormat = {};  // the template recording's; unset: not judged
  std::optional<double> speechRate = {};          // the take's (SpeechRate)
  std::optional<double> lessonLoudnessLufs = {};  // median of the lesson's takes
  std::optional<double> lessonSpeechRate = {};    // median of the lesson's takes
  std::optional<TextCheck> text = {};             // unset: not checked (yet)
};

// What a finding's figures measure, so that the window can word it in the operator's language.
enum class FindingForm {
  Name,             // the problem's name alone
  Samples,          // clipped: the number of clipped samples
  PeakDb,           // the name, then a peak in dB
  RmsDb,            // the name, then an RMS level in dB
  FloorDb,          // the name, then the noise floor in dB
  SnrDb,            // the name, then the signal-to-noise ratio in dB
  Seconds,          // the name, then a length in seconds
  Lufs,             // the integrated loudness in LUFS
  Dbtp,             // the true peak in dBTP
  LouderLu,         // LU louder than the lesson
  QuieterLu,        // LU quieter than the lesson
  FasterPercent,    // percent faster than the lesson
  SlowerPercent,    // percent slower than the lesson
  Formats,          // the take's format, then the expected one
  TextMatch,        // does not match its text: how well it matches, 0..1
  TextSaidPercent,  // does not match its text: the percent of the text said
  TextMoreSaid,     // does not match its text: more was said
};

struct Finding {
  Problem problem;
  std::string text;  // "too quiet (peak -34.0 dB)"
  FindingForm form = FindingForm::Name;
  // The figures of `text` as it shows them ("-34.0"), in the order of `form`.
  std::vector<std::string> figures = {};

  bool operator==(const Finding&) const = default;
};

struct Judgement {
  std::vector<Finding> findings;  // in the order of Problem; empty when the take passes
  Severity severity = Severity::Ok;
  // One line for the window: "ok, peak -6.2 dB, 2.4 s", or the findings' texts joined with ", ".
  std::string summary;
  // When ok: the peak in dB and the length in seconds as `summary` shows them.
  std::vector<std::string> figures;

  bool ok() const { return findings.empty(); }
  bool Has(Problem problem) const;
  std::vector<Problem> problems() const;
};

// A finding in English words from its problem, form and figures: its `text`.
std::string FindingWords(const Finding& finding);

// The problems of a take, in order. A silent take is only silent (and clipped, or of the wrong
// format): its room, level and loudness say nothing.
std::vector<Problem> FindProblems(const TakeMeasures& take, const DeliveryProfile& profile,
                                  const TakeContext& context);
// The judgement of those problems: each with its figures, the summary and the severity.
Judgement Explain(const std::vector<Problem>& problems, const TakeMeasures& take,
                  const DeliveryProfile& profile, const TakeContext& context);
Judgement Judge(const TakeMeasures& take, const DeliveryProfile& profile,
                const TakeContext& context);

}  // namespace voxtar::measures
