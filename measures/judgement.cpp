#include "measures/judgement.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace voxtar::measures {

namespace {

struct ProblemInfo {
  Problem problem;
  std::string_view word;
  std::string_view name;
  Severity severity;
};

constexpr std::array<ProblemInfo, kProblemCount> kProblems = {{
    {Problem::Clipped, "clipped", "clipped", Severity::Bad},
    {Problem::TooQuiet, "too-quiet", "too quiet", Severity::Warning},
    {Problem::TooLoud, "too-loud", "too loud", Severity::Warning},
    {Problem::Silent, "silent", "silent", Severity::Bad},
    {Problem::CutStart, "cut-start", "cut at the start", Severity::Warning},
    {Problem::CutEnd, "cut-end", "cut at the end", Severity::Warning},
    {Problem::HeadLong, "head-long", "long silence at the start", Severity::Warning},
    {Problem::TailLong, "tail-long", "long silence at the end", Severity::Warning},
    {Problem::Noisy, "noisy", "noisy", Severity::Warning},
    {Problem::Loudness, "loudness", "loudness off target", Severity::Warning},
    {Problem::TruePeak, "true-peak", "true peak too high", Severity::Warning},
    {Problem::Format, "format", "format mismatch", Severity::Bad},
    {Problem::InconsistentLoudness, "inconsistent-loudness", "loudness unlike the lesson",
     Severity::Warning},
    {Problem::InconsistentRate, "inconsistent-rate", "pace unlike the lesson", Severity::Warning},
    {Problem::TextMismatch, "text-mismatch", "does not match its text", Severity::Warning},
    {Problem::Incomplete, "incomplete", "incomplete", Severity::Warning},
    {Problem::ExtraSpeech, "extra-speech", "extra speech", Severity::Warning},
}};

const ProblemInfo& InfoOf(Problem problem) {
  return kProblems[static_cast<std::size_t>(problem)];
}

// Fixed-point text that does not follow the C locale (the window's is the desktop's).
std::string Fixed(double value, int decimals) {
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                    std::chars_format::fixed, decimals);
  return {text.data(), result.ptr};
}

// A verdict's figure: `value` with `decimals` decimals, or more where that rounding would reach
// `limit`, which it lies beyond ("-2.96" against -3, not "-3.0"); at two more decimals it is
// rounded away from the limit. Its text never contradicts the verdict it explains.
std::string Beyond(double value, int decimals, const std::optional<double>& limit) {
  if (!limit || value == *limit || !std::isfinite(value)) {
    return Fixed(value, decimals);
  }
  const bool above = value > *limit;
  const auto clear = [&](const std::string& text) {
    double shown = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), shown);
    return above ? shown > *limit : shown < *limit;
  };
  constexpr int kMoreDecimals = 2;
  for (int shown = decimals; shown <= decimals + kMoreDecimals; ++shown) {
    if (std::string text = Fixed(value, shown); clear(text)) {
      return text;
    }
  }
  const double scale = std::pow(10.0, decimals + kMoreDecimals);
  const double away = (above ? std::ceil(value * scale) : std::floor(value * scale)) / scale;
  return Fixed(away, decimals + kMoreDecimals);
}

bool Below(double value, const std::optional<double>& limit) {
  return limit && value < *limit;
}
bool Above(double value, const std::optional<double>& limit) {
  return limit && value > *limit;
}
bool Below(const std::optional<double>& value, const std::optional<double>& limit) {
  return value && Below(*value, limit);
}
bool Above(const std::optional<double>& value, const std::optional<double>& limit) {
  return value && Above(*value, limit);
}

bool TooQuietByVoicePeak(const TakeMeasures& take, const DeliveryProfile& profile) {
  return Below(take.voicedPeakDb, profile.minVoicePeakDb);
}
bool TooQuietByPeak(const TakeMeasures& take, const DeliveryProfile& profile) {
  return Below(take.peakDb, profile.minPeakDb);
}
bool TooLoudByPeak(const TakeMeasures& take, const DeliveryProfile& profile) {
  return Above(take.peakDb, profile.maxPeakDb);
}
bool NoisyByFloor(const TakeMeasures& take, const DeliveryProfile& profile) {
  return Above(take.noiseFloorDb, profile.maxNoiseFloorDb);
}

// How far the take lies from the lesson's median: LU, and percent of the median rate.
std::optional<double> LoudnessOffset(const TakeMeasures& take, const TakeContext& context) {
  if (!take.loudnessLufs || !context.lessonLoudnessLufs) {
    return std::nullopt;
  }
  return *take.loudnessLufs - *context.lessonLoudnessLufs;
}
std::optional<double> RateOffsetPercent(const TakeContext& context) {
  if (!context.speechRate || !context.lessonSpeechRate || !(*context.lessonSpeechRate > 0.0)) {
    return std::nullopt;
  }
  return (*context.speechRate / *context.lessonSpeechRate - 1.0) * 100.0;
}

std::string Seconds(std::uint32_t ms, const std::optional<double>& limitS = std::nullopt) {
  return Beyond(ms / 1000.0, 1, limitS) + " s";
}

std::string FindingText(Problem problem, const TakeMeasures& take, const DeliveryProfile& profile,
                        const TakeContext& context) {
  std::string name(ProblemName(problem));
  switch (problem) {
    case Problem::Clipped:
      return name + " (" + std::to_string(take.clippedSamples) +
             (take.clippedSamples == 1 ? " sample)" : " samples)");
    case Problem::TooQuiet:
      // The figure of the limit that was missed, the voice's peak first.
      if (!TooQuietByVoicePeak(take, profile) && TooQuietByPeak(take, profile)) {
        return name + " (peak " + Beyond(take.peakDb, 1, profile.minPeakDb) + " dB)";
      }
      if (!TooQuietByVoicePeak(take, profile) && Below(take.voicedRmsDb, profile.minRmsDb)) {
        return name + " (RMS " + Beyond(take.voicedRmsDb, 1, profile.minRmsDb) + " dB)";
      }
      return name + " (peak " + Beyond(take.voicedPeakDb, 1, profile.minVoicePeakDb) + " dB)";
    case Problem::TooLoud:
      return TooLoudByPeak(take, profile)
                 ? name + " (peak " + Beyond(take.peakDb, 1, profile.maxPeakDb) + " dB)"
                 : name + " (RMS " + Beyond(take.voicedRmsDb, 1, profile.maxRmsDb) + " dB)";
    case Problem::HeadLong:
      return name + " (" + Seconds(take.headMs, profile.maxHeadS) + ")";
    case Problem::TailLong:
      return name + " (" + Seconds(take.tailMs, profile.maxTailS) + ")";
    case Problem::Noisy:
      if (NoisyByFloor(take, profile) || !take.snrDb()) {
        return name + " (floor " +
               Beyond(take.noiseFloorDb.value_or(kFloorDb), 1, profile.maxNoiseFloorDb) + " dB)";
      }
      return name + " (SNR " + Beyond(*take.snrDb(), 1, profile.minSnrDb) + " dB)";
    case Problem::Loudness: {
      const double lufs = take.loudnessLufs.value_or(kFloorDb);
      std::optional<double> edge;  // of the band the take lies outside
      if (profile.loudnessLufs) {
        const double tolerance = profile.loudnessToleranceLu.value_or(1.0);
        edge = lufs > *profile.loudnessLufs ? *profile.loudnessLufs + tolerance
                                            : *profile.loudnessLufs - tolerance;
      }
      return "loudness " + Beyond(lufs, 1, edge) + " LUFS";
    }
    case Problem::TruePeak:
      return "true peak " + Beyond(take.truePeakDbtp, 1, profile.maxTruePeakDbtp) + " dBTP";
    case Problem::InconsistentLoudness:
      if (const std::optional<double> offset = LoudnessOffset(take, context)) {
        return Beyond(std::fabs(*offset), 1, profile.loudnessConsistencyLu) + " LU " +
               (*offset > 0 ? "louder" : "quieter") + " than the lesson";
      }
      return name;
    case Problem::InconsistentRate:
      if (const std::optional<double> offset = RateOffsetPercent(context)) {
        return Beyond(std::fabs(*offset), 0, profile.rateConsistencyPercent) + " % " +
               (*offset > 0 ? "faster" : "slower") + " than the lesson";
      }
      return name;
    case Problem::Format:
      if (context.expectedFormat) {
        return name + " (" + DescribeFormat(take.format) + ", not " +
               DescribeFormat(*context.expectedFormat) + ")";
      }
      return name;
    // The take check says the same of each: the words are not those of the prompt.
    case Problem::TextMismatch:
      return "does not match its text (match " + Fixed(context.text->textMatch, 2) + ")";
    case Problem::Incomplete:
      return "does not match its text (" + Fixed(context.text->textCoverage * 100.0, 0) +
             " % of it said)";
    case Problem::ExtraSpeech:
      return "does not match its text (more was said)";
    case Problem::Silent:
    case Problem::CutStart:
    case Problem::CutEnd:
      break;
  }
  return name;
}

}  // namespace

std::string_view ProblemWord(Problem problem) {
  return InfoOf(problem).word;
}

std::optional<Problem> ProblemFromWord(std::string_view word) {
  const auto* found = std::find_if(kProblems.begin(), kProblems.end(),
                                   [word](const ProblemInfo& info) { return info.word == word; });
  return found == kProblems.end() ? std::nullopt : std::optional<Problem>(found->problem);
}

std::string_view ProblemName(Problem problem) {
  return InfoOf(problem).name;
}

Severity SeverityOf(Problem problem) {
  return InfoOf(problem).severity;
}

bool Judgement::Has(Problem problem) const {
  return std::any_of(findings.begin(), findings.end(),
                     [problem](const Finding& finding) { return finding.problem == problem; });
}

std::vector<Problem> Judgement::problems() const {
  std::vector<Problem> list;
  list.reserve(findings.size());
  for (const Finding& finding : findings) {
    list.push_back(finding.problem);
  }
  return list;
}

std::vector<Problem> FindProblems(const TakeMeasures& take, const DeliveryProfile& profile,
                                  const TakeContext& context) {
  const double headMs = take.headMs;
  const double tailMs = take.tailMs;
  const auto ms = [](const std::optional<double>& seconds) -> std::optional<double> {
    return seconds ? std::optional<double>(*seconds * 1000.0) : std::nullopt;
  };
  const std::optional<double> loudnessOffset = LoudnessOffset(take, context);
  const std::optional<double> rateOffset = RateOffsetPercent(context);
  const bool voiced = take.voiced;
  const bool textChecked =
      voiced && profile.checkText && context.text.has_value() && context.text->judged;
  const std::array<std::pair<Problem, bool>, kProblemCount> checks = {{
      {Problem::Clipped,
       Above(static_cast<double>(take.clippedSamples), profile.maxClippedSamples)},
      {Problem::TooQuiet,
       voiced && (TooQuietByVoicePeak(take, profile) || TooQuietByPeak(take, profile) ||
                  Below(take.voicedRmsDb, profile.minRmsDb))},
      {Problem::TooLoud,
       voiced && (TooLoudByPeak(take, profile) || Above(take.voicedRmsDb, profile.maxRmsDb))},
      {Problem::Silent, !voiced},
      {Problem::CutStart, voiced && Below(headMs, ms(profile.minHeadS))},
      {Problem::CutEnd, voiced && Below(tailMs, ms(profile.minTailS))},
      {Problem::HeadLong, voiced && Above(headMs, ms(profile.maxHeadS))},
      {Problem::TailLong, voiced && Above(tailMs, ms(profile.maxTailS))},
      {Problem::Noisy,
       voiced && (NoisyByFloor(take, profile) || Below(take.snrDb(), profile.minSnrDb))},
      {Problem::Loudness, voiced && profile.loudnessLufs && take.loudnessLufs &&
                              std::fabs(*take.loudnessLufs - *profile.loudnessLufs) >
                                  profile.loudnessToleranceLu.value_or(1.0)},
      {Problem::TruePeak, voiced && Above(take.truePeakDbtp, profile.maxTruePeakDbtp)},
      {Problem::Format, context.expectedFormat && take.format != *context.expectedFormat},
      {Problem::InconsistentLoudness,
       voiced && loudnessOffset &&
           Above(std::fabs(*loudnessOffset), profile.loudnessConsistencyLu)},
      {Problem::InconsistentRate,
       voiced && rateOffset && Above(std::fabs(*rateOffset), profile.rateConsistencyPercent)},
      {Problem::TextMismatch, textChecked && context.text->mismatch},
      {Problem::Incomplete, textChecked && context.text->incomplete},
      {Problem::ExtraSpeech, textChecked && context.text->extraSpeech},
  }};
  std::vector<Problem> problems;
  for (const auto& [problem, applies] : checks) {
    if (applies) {
      problems.push_back(problem);
    }
  }
  return problems;
}

Judgement Explain(const std::vector<Problem>& problems, const TakeMeasures& take,
                  const DeliveryProfile& profile, const TakeContext& context) {
  Judgement judgement;
  for (const Problem problem : problems) {
    judgement.findings.push_back({problem, FindingText(problem, take, profile, context)});
    judgement.severity = std::max(judgement.severity, SeverityOf(problem));
  }
  if (judgement.findings.empty()) {
    judgement.summary = "ok, peak " + Fixed(take.peakDb, 1) + " dB, " + Seconds(take.durationMs);
    return judgement;
  }
  for (const Finding& finding : judgement.findings) {
    judgement.summary += (judgement.summary.empty() ? "" : ", ") + finding.text;
  }
  return judgement;
}

Judgement Judge(const TakeMeasures& take, const DeliveryProfile& profile,
                const TakeContext& context) {
  return Explain(FindProblems(take, profile, context), take, profile, context);
}

}  // namespace voxtar::measures
