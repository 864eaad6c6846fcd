// SPDX-License-Identifier: GPL-3.0-or-later
// Does a take say its prompt? The problems a judge of a reading finds and the figures it gives,
// whatever way it judges: comparing the sound of the reading with speech synthesized from the
// text (speech_comparison.h) or, later, recognising the words. No Qt.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar::textcheck {

enum class TextProblem : std::uint8_t {
  Mismatch,     // the take reads another text
  Incomplete,   // part of the text is missing
  ExtraSpeech,  // more was said than the text
};

// "text-mismatch", "incomplete", "extra-speech".
std::string_view ProblemWord(TextProblem problem);

// The voice of a take: mono samples (1.0 = full scale) at their own rate, from a little before
// its voice to a little after (room and breaths at the edges do not count).
struct Reading {
  std::vector<float> samples;
  int sampleRate = 0;
};

// What a reading is judged against.
struct PromptTexts {
  std::u16string_view text;  // the prompt's text; an edit marker "> " in front is ignored
  // The texts of its neighbours in the lesson (the prompts before and after it): the reading
  // must fit its own text clearly better than these. Empty ones are left out.
  std::vector<std::u16string_view> neighbours;
  std::string voice;  // an eSpeak NG voice ("ru", "en-us"); empty: by the text's script
};

struct TextVerdict {
  bool judged = false;  // false: nothing to judge (a text without words, a reading without voice)
  double textMatch = 0.0;      // 0..1: how clearly the reading fits its text; below 0.5 it does not
  double textCoverage = 0.0;   // 0..1: the share of the text the reading covers
  double voiceCoverage = 0.0;  // 0..1: the share of the reading the text covers
  std::vector<TextProblem> problems;  // in the order of TextProblem, each at most once

  bool has(TextProblem problem) const;
};

// A digest of what a verdict depends on besides the take: the texts (edit markers aside), the
// neighbours in order, the voice, and the version of the judgement. A verdict kept with a take
// holds while its digest is the same.
std::uint64_t VerdictDigest(const PromptTexts& texts);

// Judges readings. Implementations are safe to call from several threads at once.
class ReadingJudge {
 public:
  virtual ~ReadingJudge() = default;
  // False with *error (plain English) when the judge cannot work (its synthesizer or model is
  // missing); a reading it has nothing to say about gives verdict->judged false.
  virtual bool Judge(const Reading& reading, const PromptTexts& texts, TextVerdict* verdict,
                     std::string* error) = 0;
};

}  // namespace voxtar::textcheck
