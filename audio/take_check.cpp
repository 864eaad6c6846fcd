#include "audio/take_check.h"

#include <utility>
#include <vector>

#include "measures/delivery_profile.h"

namespace voxtar::audio {

namespace {

using measures::Problem;

measures::DeliveryProfile Course() {
  return *measures::BuiltInProfile("course");
}

measures::TakeMeasures MeasuresOf(const TakeCheck& check) {
  measures::TakeMeasures take;
  take.frames = check.frames;
  take.durationMs = check.durationMs;
  take.peakDb = check.peakDb;
  take.voicedPeakDb = check.voicedPeakDb;
  take.voicedRmsDb = check.voicedRmsDb;
  take.clippedSamples = check.clippedSamples;
  take.voiced = !check.silent;
  take.headMs = check.leadingSilenceMs;
  take.tailMs = check.trailingSilenceMs;
  return take;
}

measures::Judgement JudgementOf(const TakeCheck& check) {
  const std::pair<bool, Problem> verdicts[] = {
      {check.clipped, Problem::Clipped}, {check.tooQuiet, Problem::TooQuiet},
      {check.silent, Problem::Silent},   {check.cutAtStart, Problem::CutStart},
      {check.cutAtEnd, Problem::CutEnd}, {check.formatMismatch, Problem::Format},
  };
  std::vector<Problem> problems;
  for (const auto& [applies, problem] : verdicts) {
    if (applies) {
      problems.push_back(problem);
    }
  }
  return measures::Explain(problems, MeasuresOf(check), Course(), {});
}

}  // namespace

bool CheckTakeFile(std::u16string_view path, TakeCheck* check, TakeFormat* format,
                   std::string* error) {
  measures::TakeMeasures take;
  if (!measures::MeasureTakeFile(path, &take, error)) {
    return false;
  }
  const measures::Judgement judgement = measures::Judge(take, Course(), {});
  TakeCheck checked;
  checked.frames = take.frames;
  checked.durationMs = take.durationMs;
  checked.peakDb = take.peakDb;
  checked.voicedPeakDb = take.voicedPeakDb;
  checked.voicedRmsDb = take.voicedRmsDb;
  checked.clippedSamples = take.clippedSamples;
  checked.leadingSilenceMs = take.headMs;
  checked.trailingSilenceMs = take.tailMs;
  checked.clipped = judgement.Has(Problem::Clipped);
  checked.tooQuiet = judgement.Has(Problem::TooQuiet);
  checked.silent = judgement.Has(Problem::Silent);
  checked.cutAtStart = judgement.Has(Problem::CutStart);
  checked.cutAtEnd = judgement.Has(Problem::CutEnd);
  *check = checked;
  if (format != nullptr) {
    *format = take.format;
  }
  return true;
}

TakeSeverity SeverityOf(const TakeCheck& check) {
  return JudgementOf(check).severity;
}

std::string SummaryLine(const TakeCheck& check) {
  return JudgementOf(check).summary;
}

std::vector<std::string_view> VerdictWords(const TakeCheck& check) {
  std::vector<std::string_view> words;
  for (const measures::Finding& finding : JudgementOf(check).findings) {
    words.push_back(measures::ProblemName(finding.problem));
  }
  if (words.empty()) {
    words.emplace_back("ok");
  }
  return words;
}

}  // namespace voxtar::audio
