// SPDX-License-Identifier: GPL-3.0-or-later
// The judge that needs no recogniser and no model: the prompt's text is spoken by eSpeak NG, and
// the reading is aligned with that reference speech by dynamic time warping of their spectra,
// open at both ends. A reading is judged from
//   - how well it fits its own text (the mean distance of the aligned frames),
//   - how much better it fits its own text than the texts of its neighbours (a wrong line whose
//     length happens to match fits its own text no better than the line it belongs to), and than
//     its own words in reverse order (the same sounds out of order: a reading of another text fits
//     them as well as its own; this holds for a prompt without neighbours too),
//   - the share of the text it covers (a reading that stops early is incomplete) and the share of
//     the reading the text covers (the rest is extra speech).
// It compares sounds, not words: a mispronounced word in a right take is not its business.
//
// References are synthesized once per voice and text and kept, so a lesson's neighbours are
// spoken once. Safe to call from several threads; the synthesis runs one at a time.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "textcheck/reading_judge.h"
#include "textcheck/speech_features.h"

namespace voxtar::textcheck {

// How well a reading fits one text: the alignments both ways.
struct TextFit {
  double readingCost = 0.0;    // the reading aligned into the text
  double textCost = 0.0;       // the text aligned into the reading
  double textCoverage = 0.0;   // of the text, by the reading's alignment
  double voiceCoverage = 0.0;  // of the reading, by the text's alignment

  // Both ways at once: low only when each is found in the other.
  double cost() const { return 0.5 * (readingCost + textCost); }
};

// The figures a verdict is made from (speech_comparison.cpp weighs them).
struct ReadingScores {
  bool judged = false;
  TextFit own;
  bool hasFoil = false;             // false when the words read the same both ways
  TextFit foil;                     // of the text's words in reverse order
  std::vector<TextFit> neighbours;  // of the neighbours' texts
};

// The verdict on the scores.
TextVerdict JudgeScores(const ReadingScores& scores);

class SpeechComparison final : public ReadingJudge {
 public:
  // The synthesizer's pace, in eSpeak NG's words per minute.
  static constexpr int kWordsPerMinute = 150;

  // Keeps the references of up to `references` texts.
  explicit SpeechComparison(std::size_t references = 512);
  ~SpeechComparison() override;
  SpeechComparison(const SpeechComparison&) = delete;
  SpeechComparison& operator=(const SpeechComparison&) = delete;

  bool Judge(const Reading& reading, const PromptTexts& texts, TextVerdict* verdict,
             std::string* error) override;

  // The figures behind the verdict.
  bool Score(const Reading& reading, const PromptTexts& texts, ReadingScores* scores,
             std::string* error);

  // Synthesizes what the texts need for readings at `sampleRate` ahead of the first reading
  // (say, on a worker thread while the operator speaks). False with *error as Judge.
  bool Prepare(const PromptTexts& texts, int sampleRate, std::string* error);

 private:
  struct Reference;
  struct References {
    std::shared_ptr<const Reference> own;
    std::shared_ptr<const Reference> foil;  // none for words that read the same both ways
    std::vector<std::shared_ptr<const Reference>> neighbours;
  };
  // The references of the texts; own is none without anything to say.
  bool ReferencesFor(const PromptTexts& texts, double upperHz, References* references,
                     std::string* error);
  std::shared_ptr<const Reference> ReferenceFor(const std::string& voice, std::u16string_view text,
                                                double upperHz);

  std::mutex mutex_;
  std::size_t capacity_;
  std::map<std::string, std::shared_ptr<Reference>> references_;
  std::list<std::string> order_;  // of the keys, oldest first
};

// The process's comparison judge, with its references, for everything that checks takes.
SpeechComparison& SharedSpeechComparison();

}  // namespace voxtar::textcheck
