// SPDX-License-Identifier: GPL-3.0-or-later
// What a take measures: its level and loudness, where its voice lies, how much room it has before
// and after, and how loud the room is around it. Measured by streaming the file in chunks, in one
// pass; what is kept is the levels of each 10 ms frame (20 bytes: 120 KB a minute).
//
// Voice is what the voice detector finds (voice_detector.h), primed with the take's own room:
// the head runs to the onset of the first span, the tail from the end of the last. The voice's
// peak and RMS are those of its voice-like frames (not a click between its words), the noise
// floor the RMS of every frame outside the spans.
//
// Loudness (integrated, range) and true peak follow ITU-R BS.1770 / EBU R 128 (libebur128): a mono
// take is weighted as one channel, so a sine at -20 dBFS peak reads about -23 LUFS.
//
// No Qt: the window and voxtar-lesson measure alike.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/level_meter.h"
#include "measures/voice_detector.h"

namespace voxtar::measures {

using audio::kFloorDb;  // the floor of every dBFS figure

// Noise is measured outside the voice: the head, the tail, and the pauses between its spans (a
// pause inside a span is a closure or a breath between syllables, full of their decay). With
// less than this much of it in all, the noise floor is unknown.
inline constexpr std::uint32_t kMinNoiseMs = 100;
// The loudness range needs this much of a take (its short-term windows last 3 s); a shorter
// take has none.
inline constexpr std::uint32_t kMinLoudnessRangeMs = 3000;

// The parts of a format that make a take differ from the template recording.
struct TakeFormat {
  int sampleRate = 0;
  int channels = 0;
  int subFormat = 0;  // SF_INFO.format & SF_FORMAT_SUBMASK

  bool operator==(const TakeFormat&) const = default;
};

// "44100 Hz, mono, 16-bit".
std::string DescribeFormat(const TakeFormat& format);

struct TakeMeasures {
  TakeFormat format;
  std::uint64_t frames = 0;
  std::uint32_t durationMs = 0;

  double peakDb = kFloorDb;          // sample peak of the whole take, clicks included
  double rmsDb = kFloorDb;           // unweighted RMS of the whole take
  double voicedPeakDb = kFloorDb;    // of the voice only; kFloorDb without any
  double voicedRmsDb = kFloorDb;     // of the voice only; kFloorDb without any
  std::uint64_t clippedSamples = 0;  // at 99.9 % of full scale or the format's limit

  bool voiced = false;             // false: the take is silent
  std::uint32_t headMs = 0;        // before the voice's onset (all of it if silent)
  std::uint32_t tailMs = 0;        // after the voice's end (all of it if silent)
  std::uint32_t voicedSpanMs = 0;  // onset to end of the voice; 0 if silent

  std::optional<double> noiseFloorDb;     // RMS outside the voice; unknown below kMinNoiseMs of it
  std::optional<double> loudnessLufs;     // integrated; unknown when every block is gated away
  std::optional<double> loudnessRangeLu;  // unknown for a take under kMinLoudnessRangeMs
  double truePeakDbtp = kFloorDb;

  // Voice RMS minus noise floor; unknown with the floor or without voice.
  std::optional<double> snrDb() const {
    if (!noiseFloorDb || !voiced) {
      return std::nullopt;
    }
    return voicedRmsDb - *noiseFloorDb;
  }

  bool operator==(const TakeMeasures&) const = default;
};

// Measures the take file at `path` (resolved ignoring letter case, as the recorder finds takes).
// False with *error (plain English, naming the file) when it cannot be read.
bool MeasureTakeFile(std::u16string_view path, TakeMeasures* measures, std::string* error);

// The loudness and peaks of interleaved samples in memory (1.0 = full scale), found as
// MeasureTakeFile finds them in a file: what an export works out its gain from. The true peak,
// which costs more than the rest together, only when asked for. Unset when libebur128 has no
// memory for it.
struct SignalLevels {
  std::optional<double> loudnessLufs;  // integrated; unknown when every block is gated away
  std::optional<double> truePeakDbtp;
  double peakDb = kFloorDb;
};
std::optional<SignalLevels> MeasureSignal(std::span<const float> samples, int channels, int rate,
                                          bool truePeak);

// Characters per second of voiced span: the prompt's text (without the edit marker "> ") over the
// time its voice takes. Unknown for a silent take or an empty text.
std::optional<double> SpeechRate(const TakeMeasures& measures, std::u16string_view text);

}  // namespace voxtar::measures
