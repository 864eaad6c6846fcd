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

struct Finding {
  Problem problem;
  std::string text;  // "too quiet (peak -34.0 dB)"

  bool operator==(const Finding&) const = default;
};

struct Judgement {
  std::vector<Finding> findings;  // in the order of Problem; empty when the take passes
  Severity severity = Severity::Ok;
  // One line for the window: "ok, peak -6.2 dB, 2.4 s", or the findings' texts joined with ", ".
  std::string summary;

  bool ok() const { return findings.empty(); }
  bool Has(Problem problem) const;
  std::vector<Problem> problems() const;
};

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
