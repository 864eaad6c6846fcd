// SPDX-License-Identifier: GPL-3.0-or-later
// The voice of a take file as a reading: the span the voice detector found, with a little room
// either side, mixed to mono at the file's own rate. No Qt.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "textcheck/reading_judge.h"

namespace voxtar::textcheck {

// Room read on either side of the voice: the detector's threshold cuts soft first and last
// sounds, which the alignment then still finds.
inline constexpr std::uint32_t kReadingMarginMs = 100;
// A reading longer than this is cut off: no prompt takes this long to say.
inline constexpr std::uint32_t kMaxReadingMs = 60000;

// Reads the voice of the take file at `path` (resolved ignoring letter case): `voiceLengthMs`
// from `voiceStartMs` (a silent take has length 0 and gives an empty reading). False with *error
// (plain English, naming the file) when it cannot be read.
bool ReadReading(std::u16string_view path, std::uint32_t voiceStartMs, std::uint32_t voiceLengthMs,
                 Reading* reading, std::string* error);

// Reads the voice of the take file and has `judge` judge it against `texts`: what the recorder
// does with a take it has measured (voiceStartMs is its head, voiceLengthMs its voiced span).
bool JudgeTakeFile(std::u16string_view path, std::uint32_t voiceStartMs,
                   std::uint32_t voiceLengthMs, const PromptTexts& texts, ReadingJudge& judge,
                   TextVerdict* verdict, std::string* error);

}  // namespace voxtar::textcheck
