// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a take says its prompt: what a judge of readings found, kept with the take's measures
// and judged with them ("text-mismatch", "incomplete", "extra-speech"). The judging itself lies
// above this room (it needs a synthesizer, or later a recogniser): a judge is plugged in once per
// process, and every judgement of a lesson's takes asks it. No Qt.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "measures/take_measures.h"

namespace voxtar::measures {

struct TextCheck {
  // Of what the take was judged against (TextJudge::Digest): a verdict holds while it is the same.
  std::uint64_t digest = 0;
  bool judged = false;        // false: nothing to judge (a text without words), and no problem
  double textMatch = 0.0;     // 0..1: how clearly the reading fits its text
  double textCoverage = 0.0;  // 0..1: the share of the text the reading covers
  bool mismatch = false;      // the take reads another text
  bool incomplete = false;    // part of the text is missing
  bool extraSpeech = false;   // more was said than the text

  bool operator==(const TextCheck&) const = default;
};

// What a take is judged against: its prompt's text (as stored, edit marker and all), the texts of
// the prompts either side of it (empty where there is none) and the voice (empty: by the script).
struct TextRequest {
  std::u16string_view text;
  std::u16string_view previous;
  std::u16string_view next;
  std::string_view voice;
};

// A judge of readings. Safe to call from several threads at once.
class TextJudge {
 public:
  virtual ~TextJudge() = default;
  // Whether `voice` (a profile's "voice") can be spoken.
  virtual bool KnowsVoice(std::string_view voice) const = 0;
  // Changes whenever the verdict on the same take may come out differently.
  virtual std::uint64_t Digest(const TextRequest& request) const = 0;
  // Judges the take file at `path`, whose voice the measures `take` found. False with *error
  // (plain English) when the file cannot be read or the judge cannot work.
  virtual bool Check(std::u16string_view path, const TakeMeasures& take, const TextRequest& request,
                     TextCheck* check, std::string* error) = 0;
};

// The judge every judgement of this process asks; none (the default): texts are not checked.
void PlugTextJudge(TextJudge* judge);
TextJudge* PluggedTextJudge();

}  // namespace voxtar::measures
