// SPDX-License-Identifier: GPL-3.0-or-later
// Reference speech: a prompt's text spoken by eSpeak NG, through the library, into memory. The
// library keeps its voice, rate and output in process-wide state, so every synthesis holds one
// lock from choosing the voice to the last sample, and the library is set up once, on first use.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace voxtar::textcheck {

// How the synthesizer speaks. `voice` is an eSpeak NG voice name ("en-us", "ru"), a variant may
// follow it ("en-gb+f2"); the rest are eSpeak NG's own scales.
struct SpeakingStyle {
  std::string voice;
  int wordsPerMinute = 150;  // 80..450
  int pitch = 50;            // 0..100
  int pitchRange = 50;       // 0..100, 0 is a monotone
};

// Synthesized speech: mono samples at `sampleRate` (1.0 = full scale).
struct Speech {
  std::vector<float> samples;
  int sampleRate = 0;
};

// The voice that reads `text` when none is set: the text's script decides (Cyrillic "ru", Greek
// "el", Armenian "hy", Georgian "ka", anything else "en-us").
std::string VoiceForText(std::u16string_view text);

// The text a reading is checked against: without the edit marker "> " in front.
std::u16string_view ReadableText(std::u16string_view text);

// Whether the text holds anything to say: a letter or a digit of any script.
bool HasSpeakableText(std::u16string_view text);

// Speaks `text` (UTF-16) in `style`. False with *error (plain English) when eSpeak NG cannot be
// set up (its data missing), has no such voice, or fails.
bool Synthesize(std::u16string_view text, const SpeakingStyle& style, Speech* speech,
                std::string* error);

// Whether eSpeak NG knows the voice `name` (a variant after "+" is checked too), for settings
// that name one. False also when eSpeak NG cannot be set up.
bool IsKnownVoice(std::string_view name);

}  // namespace voxtar::textcheck
