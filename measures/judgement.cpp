// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/judgement.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

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

std::string SecondsFigure(std::uint32_t ms, const std::optional<double>& limitS = std::nullopt) {
  return Beyond(ms / 1000.0, 1, limitS);
}

// The form and figures of a finding; its words come after (FindingWords).
Finding Measure(Problem problem, const TakeMeasures& take, const DeliveryProfile& profile,
                const TakeContext& context) {
  using Form = FindingForm;
  switch (problem) {
    case Problem::Clipped:
      return {problem, {}, Form::Samples, {std::to_string(take.clippedSamples)}};
    case Problem::TooQuiet:
      // The figure of the limit that was missed, the voice's peak first.
      if (!TooQuietByVoicePeak(take, profile) && TooQuietByPeak(take, profile)) {
        return {problem, {}, Form::PeakDb, {Beyond(take.peakDb, 1, profile.minPeakDb)}};
      }
      if (!TooQuietByVoicePeak(take, profile) && Below(take.voicedRmsDb, profile.minRmsDb)) {
        return {problem, {}, Form::RmsDb, {Beyond(take.voicedRmsDb, 1, profile.minRmsDb)}};
      }
      return {problem, {}, Form::PeakDb, {Beyond(take.voicedPeakDb, 1, profile.minVoicePeakDb)}};
    case Problem::TooLoud:
      return TooLoudByPeak(take, profile)
                 ? Finding{problem, {}, Form::PeakDb, {Beyond(take.peakDb, 1, profile.maxPeakDb)}}
                 : Finding{
                       problem, {}, Form::RmsDb, {Beyond(take.voicedRmsDb, 1, profile.maxRmsDb)}};
    case Problem::HeadLong:
      return {problem, {}, Form::Seconds, {SecondsFigure(take.headMs, profile.maxHeadS)}};
    case Problem::TailLong:
      return {problem, {}, Form::Seconds, {SecondsFigure(take.tailMs, profile.maxTailS)}};
    case Problem::Noisy:
      if (NoisyByFloor(take, profile) || !take.snrDb()) {
        return {problem,
                {},
                Form::FloorDb,
                {Beyond(take.noiseFloorDb.value_or(kFloorDb), 1, profile.maxNoiseFloorDb)}};
      }
      return {problem, {}, Form::SnrDb, {Beyond(*take.snrDb(), 1, profile.minSnrDb)}};
    case Problem::Loudness: {
      const double lufs = take.loudnessLufs.value_or(kFloorDb);
      std::optional<double> edge;  // of the band the take lies outside
      if (profile.loudnessLufs) {
        const double tolerance = profile.loudnessToleranceLu.value_or(1.0);
        edge = lufs > *profile.loudnessLufs ? *profile.loudnessLufs + tolerance
                                            : *profile.loudnessLufs - tolerance;
      }
      return {problem, {}, Form::Lufs, {Beyond(lufs, 1, edge)}};
    }
    case Problem::TruePeak:
      return {problem, {}, Form::Dbtp, {Beyond(take.truePeakDbtp, 1, profile.maxTruePeakDbtp)}};
    case Problem::InconsistentLoudness:
      if (const std::optional<double> offset = LoudnessOffset(take, context)) {
        return {problem,
                {},
                *offset > 0 ? Form::LouderLu : Form::QuieterLu,
                {Beyond(std::fabs(*offset), 1, profile.loudnessConsistencyLu)}};
      }
      break;
    case Problem::InconsistentRate:
      if (const std::optional<double> offset = RateOffsetPercent(context)) {
        return {problem,
                {},
                *offset > 0 ? Form::FasterPercent : Form::SlowerPercent,
                {Beyond(std::fabs(*offset), 0, profile.rateConsistencyPercent)}};
      }
      break;
    case Problem::Format:
      if (context.expectedFormat) {
        return {problem,
                {},
                Form::Formats,
                {DescribeFormat(take.format), DescribeFormat(*context.expectedFormat)}};
      }
      break;
    // The take check says the same of each: the words are not those of the prompt.
    case Problem::TextMismatch:
      return {problem, {}, Form::TextMatch, {Fixed(context.text->textMatch, 2)}};
    case Problem::Incomplete:
      return {problem, {}, Form::TextSaidPercent, {Fixed(context.text->textCoverage * 100.0, 0)}};
    case Problem::ExtraSpeech:
      return {problem, {}, Form::TextMoreSaid, {}};
    case Problem::Silent:
    case Problem::CutStart:
    case Problem::CutEnd:
      break;
  }
  return {problem, {}, Form::Name, {}};
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

std::string FindingWords(const Finding& finding) {
  const std::vector<std::string>& figures = finding.figures;
  std::string name(ProblemName(finding.problem));
  const auto figure = [&figures](std::size_t i) {
    return i < figures.size() ? figures[i] : std::string();
  };
  switch (finding.form) {
    case FindingForm::Name:
      break;
    case FindingForm::Samples:
      return name + " (" + figure(0) + (figure(0) == "1" ? " sample)" : " samples)");
    case FindingForm::PeakDb:
      return name + " (peak " + figure(0) + " dB)";
    case FindingForm::RmsDb:
      return name + " (RMS " + figure(0) + " dB)";
    case FindingForm::FloorDb:
      return name + " (floor " + figure(0) + " dB)";
    case FindingForm::SnrDb:
      return name + " (SNR " + figure(0) + " dB)";
    case FindingForm::Seconds:
      return name + " (" + figure(0) + " s)";
    case FindingForm::Lufs:
      return "loudness " + figure(0) + " LUFS";
    case FindingForm::Dbtp:
      return "true peak " + figure(0) + " dBTP";
    case FindingForm::LouderLu:
      return figure(0) + " LU louder than the lesson";
    case FindingForm::QuieterLu:
      return figure(0) + " LU quieter than the lesson";
    case FindingForm::FasterPercent:
      return figure(0) + " % faster than the lesson";
    case FindingForm::SlowerPercent:
      return figure(0) + " % slower than the lesson";
    case FindingForm::Formats:
      return name + " (" + figure(0) + ", not " + figure(1) + ")";
    case FindingForm::TextMatch:
      return "does not match its text (match " + figure(0) + ")";
    case FindingForm::TextSaidPercent:
      return "does not match its text (" + figure(0) + " % of it said)";
    case FindingForm::TextMoreSaid:
      return "does not match its text (more was said)";
  }
  return name;
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
    Finding finding = Measure(problem, take, profile, context);
    finding.text = FindingWords(finding);
    judgement.findings.push_back(std::move(finding));
    judgement.severity = std::max(judgement.severity, SeverityOf(problem));
  }
  if (judgement.findings.empty()) {
    judgement.figures = {Fixed(take.peakDb, 1), SecondsFigure(take.durationMs)};
    judgement.summary = "ok, peak " + judgement.figures[0] + " dB, " + judgement.figures[1] + " s";
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
