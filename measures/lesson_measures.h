// SPDX-License-Identifier: GPL-3.0-or-later
// A lesson's takes judged together: each take against the profile and against the lesson's
// medians, so a take much louder or faster than the others is flagged ("inconsistent-loudness",
// "inconsistent-rate"). The window keeps one up to date as takes are saved (SetMeasures, then
// Judge the take) and steps to the next flagged take (NextFlagged); voxtar-lesson fills one from a
// whole lesson (MeasureTakes) and judges every take.
//
// One thread at a time: the medians are worked out on first use after a change.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "measures/delivery_profile.h"
#include "measures/judgement.h"
#include "measures/measure_cache.h"
#include "measures/take_measures.h"
#include "measures/text_check.h"

namespace voxtar::measures {

class LessonMeasures {
 public:
  struct Prompt {
    std::u16string name;  // the take's file name, as in the lesson index
    std::u16string text;  // as stored, edit marker and all
  };

  LessonMeasures() = default;
  // `expectedFormat`: the template recording's format, when takes must match it.
  explicit LessonMeasures(DeliveryProfile profile,
                          std::optional<TakeFormat> expectedFormat = std::nullopt);

  const DeliveryProfile& profile() const { return profile_; }
  void SetProfile(DeliveryProfile profile, std::optional<TakeFormat> expectedFormat);

  // The lesson's prompts in order. Measures of names still among them are kept.
  void SetPrompts(std::vector<Prompt> prompts);
  // A prompt's text changed (its speaking rate follows it).
  void SetText(std::size_t index, std::u16string text);
  // Adds or replaces the measures of the take `name` (names compare exactly). False when no
  // prompt has that name.
  bool SetMeasures(std::u16string_view name, const TakeMeasures& measures);
  // The take is gone, or could not be read.
  void ForgetMeasures(std::u16string_view name);
  // What the check of the take of prompt `index` against its text found. Dropped when the take,
  // its text or a neighbour's text changes.
  void SetTextCheck(std::size_t index, const TextCheck& check);
  // Null when the take was not checked (yet).
  const TextCheck* textCheck(std::size_t index) const;
  // What the take of prompt `index` is checked against; it views the prompts' texts.
  TextRequest TextRequestAt(std::size_t index) const;

  std::size_t size() const { return prompts_.size(); }
  const Prompt& prompt(std::size_t index) const { return prompts_[index]; }
  // Null when the prompt has no measured take.
  const TakeMeasures* measures(std::size_t index) const;
  std::optional<double> SpeechRateAt(std::size_t index) const;
  // Medians over the measured takes that have the figure; unset without any.
  std::optional<double> medianLoudnessLufs() const;
  std::optional<double> medianSpeechRate() const;

  TakeContext ContextAt(std::size_t index) const;
  // The take's judgement in its lesson; unset when the prompt has no measured take.
  std::optional<Judgement> Judge(std::size_t index) const;
  // The first prompt after `from` whose take has a problem, going round past the end to `from`
  // itself; unset when no take has one. `from` may be size() (before the first prompt).
  std::optional<std::size_t> NextFlagged(std::size_t from) const;

 private:
  void Changed() { mediansKnown_ = false; }
  void DropTextChecks(std::u16string_view name);
  void WorkOutMedians() const;

  DeliveryProfile profile_;
  std::optional<TakeFormat> expectedFormat_;
  std::vector<Prompt> prompts_;
  std::set<std::u16string, std::less<>> names_;
  std::map<std::u16string, TakeMeasures, std::less<>> measures_;
  std::vector<std::optional<TextCheck>> texts_;  // per prompt
  mutable bool mediansKnown_ = false;
  mutable std::optional<double> medianLoudness_;
  mutable std::optional<double> medianRate_;
};

// One take as MeasureTakes found it.
struct MeasuredTake {
  bool read = false;  // false: *error says why
  TakeMeasures measures;
  std::string error;
  std::optional<FileStamp> stamp;  // of the file measured, as the cache keeps it
};

// Measures the take files `names` of `promptDirectory` (ending in the separator): from the
// cache where it is fresh, else from the file, on up to `threads` threads; new measures are
// stored in the cache. Results in the order of `names`. The cache may be null. `measured`, when
// set, is called (from any of the threads, one at a time) as each take is done.
std::vector<MeasuredTake> MeasureTakes(std::u16string_view promptDirectory,
                                       const std::vector<std::u16string>& names,
                                       MeasureCache* cache, unsigned threads,
                                       const std::function<void()>& measured = {});

}  // namespace voxtar::measures
