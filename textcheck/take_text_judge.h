// SPDX-License-Identifier: GPL-3.0-or-later
// The judge of readings that the take judgements of the window and voxtar-lesson plug in
// (measures::PlugTextJudge): a take's voice, as the voice detector found it, compared with its
// prompt's text spoken by eSpeak NG (speech_comparison.h), its neighbours' texts as the wrong
// lines it must fit worse. No Qt.
#pragma once

#include "measures/text_check.h"
#include "textcheck/reading_judge.h"

namespace voxtar::textcheck {

class TakeTextJudge final : public measures::TextJudge {
 public:
  explicit TakeTextJudge(ReadingJudge& judge) : judge_(judge) {}

  bool KnowsVoice(std::string_view voice) const override;
  std::uint64_t Digest(const measures::TextRequest& request) const override;
  bool Check(std::u16string_view path, const measures::TakeMeasures& take,
             const measures::TextRequest& request, measures::TextCheck* check,
             std::string* error) override;

 private:
  ReadingJudge& judge_;
};

// The judge over the process's comparison (SharedSpeechComparison).
TakeTextJudge& SharedTakeTextJudge();
// Plugs it in for every judgement of this process.
void PlugSpeechCheck();

}  // namespace voxtar::textcheck
