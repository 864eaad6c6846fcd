// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/take_text_judge.h"

#include "textcheck/reading_file.h"
#include "textcheck/speech_comparison.h"
#include "textcheck/speech_synthesis.h"

namespace voxtar::textcheck {

namespace {

PromptTexts TextsOf(const measures::TextRequest& request) {
  PromptTexts texts{request.text, {}, std::string(request.voice)};
  for (const std::u16string_view neighbour : {request.previous, request.next}) {
    if (!neighbour.empty()) {
      texts.neighbours.push_back(neighbour);
    }
  }
  return texts;
}

}  // namespace

bool TakeTextJudge::KnowsVoice(std::string_view voice) const {
  return IsKnownVoice(voice);
}

std::uint64_t TakeTextJudge::Digest(const measures::TextRequest& request) const {
  return VerdictDigest(TextsOf(request));
}

bool TakeTextJudge::Check(std::u16string_view path, const measures::TakeMeasures& take,
                          const measures::TextRequest& request, measures::TextCheck* check,
                          std::string* error) {
  const PromptTexts texts = TextsOf(request);
  TextVerdict verdict;
  // The voice detector's span, as every other judgement of the take has it.
  if (!JudgeTakeFile(path, take.headMs, take.voiced ? take.voicedSpanMs : 0, texts, judge_,
                     &verdict, error)) {
    return false;
  }
  *check = {VerdictDigest(texts),
            verdict.judged,
            verdict.textMatch,
            verdict.textCoverage,
            verdict.has(TextProblem::Mismatch),
            verdict.has(TextProblem::Incomplete),
            verdict.has(TextProblem::ExtraSpeech)};
  return true;
}

TakeTextJudge& SharedTakeTextJudge() {
  static TakeTextJudge judge(SharedSpeechComparison());
  return judge;
}

void PlugSpeechCheck() {
  measures::PlugTextJudge(&SharedTakeTextJudge());
}

}  // namespace voxtar::textcheck
