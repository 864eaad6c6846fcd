// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/speech_comparison.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/utf8.h"
#include "textcheck/alignment.h"
#include "textcheck/speech_synthesis.h"

namespace voxtar::textcheck {

namespace {

// Alignments larger than this many cells are banded around a first alignment of frames four
// times as long, within kBandRadius frames of it.
constexpr std::size_t kFullAlignmentCells = 40000;
constexpr int kCoarseFactor = 4;
constexpr int kBandRadius = 12;

// The cost of an alignment that does not exist (paces more than three times apart).
constexpr double kNoFit = 100.0;

// Vocal tracts: the reading's filter bank is moved by each of these factors, and each text is
// compared at the one it fits best (a higher voice than the synthesizer's fits at 1.1 or 1.2).
constexpr std::array<double, 4> kWarps = {0.9, 1.0, 1.1, 1.2};

// Below this share the text is incomplete, or the reading holds extra speech.
constexpr double kMinCoverage = 0.8;
// Frames that count for the coverage: no further than this below the loud frames.
constexpr double kVoicedDb = 25.0;

// The borders of a mismatch, each between the readings of the right text and of another text:
// the reading's cost over the best neighbour's (it fits a neighbour as well as its own text),
constexpr double kNeighbourBorder = 1.0;
// its cost over the cost of its own words in reverse order (it fits no better when the sounds of
// the text are out of order: it says other sounds),
constexpr double kFoilBorder = 0.92;
// and its cost alone (it fits nothing well). The cost alone counts only while the reading fits its
// text no clearer than this ratio to every other text: a voice far from the synthesizer's costs
// more everywhere, but still fits its text far better than the others.
constexpr double kCostBorder = 3.6;
constexpr double kClearRatio = 0.75;
// How steeply textMatch falls from 1 to 0 around the border (0.5).
constexpr double kSteepness = 6.0;

Alignment AlignInto(const SpeechFeatures& query, const SpeechFeatures& target,
                    const SpeechFeatures& coarseQuery, const SpeechFeatures& coarseTarget) {
  const int rows = query.frames();
  const int columns = target.frames();
  const auto distance = [](const SpeechFeatures& a, const SpeechFeatures& b) {
    return [&a, &b](int row, int column) { return FrameDistance(a.frame(row), b.frame(column)); };
  };
  if (static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns) <= kFullAlignmentCells) {
    BandedCosts costs(rows, columns);
    costs.Fill(distance(query, target));
    return AlignOpenEnds(costs);
  }
  BandedCosts coarseCosts(coarseQuery.frames(), coarseTarget.frames());
  coarseCosts.Fill(distance(coarseQuery, coarseTarget));
  Alignment coarse = AlignOpenEnds(coarseCosts);
  if (!coarse.found) {
    return coarse;
  }
  BandedCosts costs(BandAround(coarse, kCoarseFactor, rows, columns, kBandRadius), columns);
  costs.Fill(distance(query, target));
  return AlignOpenEnds(costs);
}

// The mean cost of the alignment of every cell (for the coarse frames), kNoFit without one.
double CoarseCost(const SpeechFeatures& query, const SpeechFeatures& target) {
  BandedCosts costs(query.frames(), target.frames());
  costs.Fill(
      [&](int row, int column) { return FrameDistance(query.frame(row), target.frame(column)); });
  const Alignment alignment = AlignOpenEnds(costs);
  return alignment.found ? alignment.cost : kNoFit;
}

// The share of the speech's voiced frames between the first and the last frame the alignment
// meets. Only frames within kVoicedDb of the loud ones count: a breath at the edge of a reading
// is no speech that the text lacks.
double Coverage(const Alignment& alignment, const SpeechFeatures& speech) {
  int voiced = 0;
  int covered = 0;
  for (int frame = 0; frame < speech.frames(); ++frame) {
    if (speech.levels[static_cast<std::size_t>(frame)] >= -kVoicedDb) {
      ++voiced;
      covered += frame >= alignment.firstColumn() && frame <= alignment.lastColumn() ? 1 : 0;
    }
  }
  return voiced == 0 ? 1.0 : static_cast<double>(covered) / voiced;
}

// The text's words in reverse order, or a single word's letters: the same sounds in another
// order. A reading of the text fits it clearly worse than the text; a reading of another text
// fits both alike.
std::u16string Foil(std::u16string_view text) {
  std::vector<std::u16string_view> words;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t space = std::min(text.find(u' ', at), text.size());
    if (space > at) {
      words.push_back(text.substr(at, space - at));
    }
    at = space + 1;
  }
  std::u16string foil;
  if (words.size() >= 2) {
    std::reverse(words.begin(), words.end());
    for (const std::u16string_view word : words) {
      foil += (foil.empty() ? u"" : u" ") + std::u16string(word);
    }
    return foil;
  }
  // Letter by letter, a pair of surrogates kept in order.
  for (std::size_t end = text.size(); end > 0;) {
    std::size_t start = end - 1;
    if (start > 0 && text[start] >= u'\xDC00' && text[start] <= u'\xDFFF' &&
        text[start - 1] >= u'\xD800' && text[start - 1] <= u'\xDBFF') {
      --start;
    }
    foil += text.substr(start, end - start);
    end = start;
  }
  return foil;
}

// Letters and digits only, folded to lower case (Latin and Cyrillic): two prompts that differ in
// nothing else sound alike.
std::u16string Words(std::u16string_view text) {
  std::u16string words;
  for (char16_t unit : text) {
    if ((unit >= u'A' && unit <= u'Z') || (unit >= u'\u0410' && unit <= u'\u042F')) {
      unit = static_cast<char16_t>(unit + 0x20);
    } else if (unit >= u'\u0400' && unit <= u'\u040F') {
      unit = static_cast<char16_t>(unit + 0x50);
    }
    if (HasSpeakableText(std::u16string_view(&unit, 1))) {
      words += unit;
    }
  }
  return words;
}

}  // namespace

struct SpeechComparison::Reference {
  std::mutex mutex;  // held while it is made
  bool made = false;
  std::string error;  // why it could not be made
  SpeechFeatures features;
  SpeechFeatures coarse;
};

TextVerdict JudgeScores(const ReadingScores& scores) {
  TextVerdict verdict;
  if (!scores.judged) {
    return verdict;
  }
  verdict.judged = true;
  verdict.textCoverage = std::clamp(scores.own.textCoverage, 0.0, 1.0);
  verdict.voiceCoverage = std::clamp(scores.own.voiceCoverage, 0.0, 1.0);
  const bool incomplete = verdict.textCoverage < kMinCoverage;
  const bool extra = verdict.voiceCoverage < kMinCoverage;
  // What the reading and the texts have in common: all of both, the reading within the text
  // (incomplete) or the text within the reading (extra speech).
  const auto cost = [&](const TextFit& fit) {
    return std::max(incomplete == extra ? fit.cost()
                    : incomplete        ? fit.readingCost
                                        : fit.textCost,
                    1e-6);
  };
  const double own = cost(scores.own);
  double border = 0.0;  // 1 at the border of a mismatch
  double ratio = 0.0;   // to the best other text
  for (const TextFit& neighbour : scores.neighbours) {
    ratio = std::max(ratio, own / cost(neighbour));
    border = std::max(border, own / cost(neighbour) / kNeighbourBorder);
  }
  // Reversed words share their sounds with a part of the text, so they tell nothing about a
  // reading of only a part.
  if (scores.hasFoil && !incomplete && !extra) {
    ratio = std::max(ratio, own / cost(scores.foil));
    border = std::max(border, own / cost(scores.foil) / kFoilBorder);
  }
  const double alone = own / kCostBorder;
  border = std::max(border, ratio == 0.0 ? alone : std::min(alone, ratio / kClearRatio));
  verdict.textMatch = 1.0 / (1.0 + std::pow(border, kSteepness));
  if (border > 1.0) {
    verdict.problems.push_back(
        TextProblem::Mismatch);  // the coverage of another text means nothing
    return verdict;
  }
  if (incomplete) {
    verdict.problems.push_back(TextProblem::Incomplete);
  }
  if (extra) {
    verdict.problems.push_back(TextProblem::ExtraSpeech);
  }
  return verdict;
}

SpeechComparison::SpeechComparison(std::size_t references)
    : capacity_(std::max<std::size_t>(references, 1)) {}

SpeechComparison::~SpeechComparison() = default;

std::shared_ptr<const SpeechComparison::Reference> SpeechComparison::ReferenceFor(
    const std::string& voice, std::u16string_view text, double upperHz) {
  const std::string key =
      voice + '\n' + std::to_string(std::lround(upperHz)) + '\n' + platform::ToUtf8(text);
  std::shared_ptr<Reference> reference;
  {
    const std::lock_guard lock(mutex_);
    std::shared_ptr<Reference>& entry = references_[key];
    if (entry == nullptr) {
      entry = std::make_shared<Reference>();
      order_.push_back(key);
      while (order_.size() > capacity_) {
        references_.erase(order_.front());
        order_.pop_front();
      }
    }
    reference = entry;
  }
  const std::lock_guard lock(reference->mutex);
  if (!reference->made) {
    Speech speech;
    SpeakingStyle style;
    style.voice = voice;
    style.wordsPerMinute = kWordsPerMinute;
    if (Synthesize(text, style, &speech, &reference->error)) {
      reference->features = ComputeFeatures(speech.samples, speech.sampleRate, upperHz);
      reference->coarse = Coarse(reference->features, kCoarseFactor);
    }
    reference->made = true;
  }
  return reference;
}

bool SpeechComparison::ReferencesFor(const PromptTexts& texts, double upperHz,
                                     References* references, std::string* error) {
  *references = {};
  const std::u16string_view text = ReadableText(texts.text);
  if (!HasSpeakableText(text)) {
    return true;
  }
  const auto reference = [&](std::u16string_view words, std::shared_ptr<const Reference>* made) {
    const std::string voice = texts.voice.empty() ? VoiceForText(words) : texts.voice;
    *made = ReferenceFor(voice, words, upperHz);
    if (!(*made)->error.empty()) {
      *error = (*made)->error;
      return false;
    }
    return true;
  };
  if (!reference(text, &references->own)) {
    return false;
  }
  const std::u16string ownWords = Words(text);
  const std::u16string foil = Foil(text);
  if (Words(foil) != ownWords && !reference(foil, &references->foil)) {  // not "no, no, no"
    return false;
  }
  for (const std::u16string_view neighbour : texts.neighbours) {
    const std::u16string_view other = ReadableText(neighbour);
    if (!HasSpeakableText(other) || Words(other) == ownWords) {
      continue;  // the same words: a lesson may say a line twice
    }
    std::shared_ptr<const Reference> made;
    if (!reference(other, &made)) {
      return false;
    }
    references->neighbours.push_back(std::move(made));
  }
  return true;
}

bool SpeechComparison::Prepare(const PromptTexts& texts, int sampleRate, std::string* error) {
  References references;
  return sampleRate <= 0 || ReferencesFor(texts, UpperFrequency(sampleRate), &references, error);
}

bool SpeechComparison::Score(const Reading& reading, const PromptTexts& texts,
                             ReadingScores* scores, std::string* error) {
  *scores = {};
  if (reading.sampleRate <= 0) {
    return true;
  }
  const double upperHz = UpperFrequency(reading.sampleRate);
  References references;
  if (!ReferencesFor(texts, upperHz, &references, error)) {
    return false;
  }
  if (references.own == nullptr || references.own->features.frames() == 0) {
    return true;  // nothing to say
  }
  const std::vector<SpeechFeatures> takes =
      ComputeFeatures(reading.samples, reading.sampleRate, upperHz, kWarps);
  if (takes.empty() || takes.front().frames() == 0) {
    return true;  // no voice
  }
  std::vector<SpeechFeatures> coarseTakes;
  coarseTakes.reserve(takes.size());
  for (const SpeechFeatures& take : takes) {
    coarseTakes.push_back(Coarse(take, kCoarseFactor));
  }
  const auto fit = [&](const Reference& reference) {
    // The warp at which the text fits best, found on the coarse frames.
    std::size_t best = 0;
    double bestCost = 0.0;
    for (std::size_t w = 0; w < takes.size(); ++w) {
      const double cost = CoarseCost(coarseTakes[w], reference.coarse) +
                          CoarseCost(reference.coarse, coarseTakes[w]);
      if (w == 0 || cost < bestCost) {
        best = w;
        bestCost = cost;
      }
    }
    const SpeechFeatures& take = takes[best];
    const SpeechFeatures& coarseTake = coarseTakes[best];
    const SpeechFeatures& speech = reference.features;
    const Alignment into = AlignInto(take, speech, coarseTake, reference.coarse);
    const Alignment back = AlignInto(speech, take, reference.coarse, coarseTake);
    TextFit result;
    result.readingCost = into.found ? into.cost : kNoFit;
    result.textCost = back.found ? back.cost : kNoFit;
    result.textCoverage = into.found ? Coverage(into, speech) : back.found ? 1.0 : 0.0;
    result.voiceCoverage = back.found ? Coverage(back, take) : into.found ? 1.0 : 0.0;
    return result;
  };
  scores->judged = true;
  scores->own = fit(*references.own);
  if (references.foil != nullptr && references.foil->features.frames() > 0) {
    scores->foil = fit(*references.foil);
    scores->hasFoil = true;
  }
  for (const std::shared_ptr<const Reference>& neighbour : references.neighbours) {
    if (neighbour->features.frames() > 0) {
      scores->neighbours.push_back(fit(*neighbour));
    }
  }
  return true;
}

bool SpeechComparison::Judge(const Reading& reading, const PromptTexts& texts, TextVerdict* verdict,
                             std::string* error) {
  ReadingScores scores;
  if (!Score(reading, texts, &scores, error)) {
    return false;
  }
  *verdict = JudgeScores(scores);
  return true;
}

SpeechComparison& SharedSpeechComparison() {
  static SpeechComparison comparison;
  return comparison;
}

}  // namespace voxtar::textcheck
