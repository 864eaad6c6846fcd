// The check of a saved take: how long it is, how loud, whether it clipped, and whether the
// speech in it has room before and after it, turned into verdicts an operator acts on at once
// (record again) and a one-line summary for the dialog.
//
// Speech is found on short windows rather than single samples. A window of 10 ms is voiced when
// its RMS reaches -50 dBFS, and voice is a run of at least 3 voiced windows (30 ms): a
// microphone's hiss at -55 dBFS RMS has single samples above -50 dBFS but no voiced window, and
// a click shorter than 10 ms touches at most two windows, while a syllable lasts 50 ms and more.
// The threshold lies between a quiet room through an ordinary microphone (-60 dBFS and below)
// and the softest speech sounds at a usable gain.
//
// No Qt in this interface, so the command-line checker uses it as the dialog does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/level_meter.h"
#include "audio/wave_element.h"

namespace voxtar::audio {

inline constexpr double kSilenceThresholdDb = -50.0;
inline constexpr double kTooQuietPeakDb = -30.0;
inline constexpr std::uint32_t kWindowMs = 10;
inline constexpr int kMinVoicedWindows = 3;
// Less room than this before the first or after the last voiced window: the take was cut.
inline constexpr std::uint32_t kMinEdgeSilenceMs = 100;

// The parts of a format that make a take differ from the template recording.
struct TakeFormat {
  int sampleRate = 0;
  int channels = 0;
  int subFormat = 0;  // SF_INFO.format & SF_FORMAT_SUBMASK

  bool operator==(const TakeFormat&) const = default;
};

TakeFormat FormatOf(const WaveElement& element);
// "44100 Hz, mono, 16-bit".
std::string DescribeFormat(const TakeFormat& format);

struct TakeCheck {
  std::uint64_t frames = 0;
  std::uint32_t durationMs = 0;
  double peakDb = kFloorDb;        // of the whole take, clicks included
  double voicedPeakDb = kFloorDb;  // of the voice only: what "too quiet" looks at
  double voicedRmsDb = kFloorDb;   // of the voice only; kFloorDb without any
  std::uint64_t clippedSamples = 0;
  std::uint32_t leadingSilenceMs = 0;   // before the first voiced window (all of it if silent)
  std::uint32_t trailingSilenceMs = 0;  // after the last voiced window (all of it if silent)

  // Verdicts; none of them set means ok. A silent take is neither too quiet nor cut.
  bool clipped = false;
  bool tooQuiet = false;
  bool silent = false;
  bool cutAtStart = false;
  bool cutAtEnd = false;
  bool formatMismatch = false;  // set by the caller that compared the take with the template

  bool ok() const {
    return !clipped && !tooQuiet && !silent && !cutAtStart && !cutAtEnd && !formatMismatch;
  }
};

TakeCheck CheckTake(const WaveElement& take);

// Reads the file (as the wave device reads it) and checks it. False with *error (plain English)
// when the file cannot be read; *format receives the file's format when not null.
bool CheckTakeFile(std::u16string_view path, TakeCheck* check, TakeFormat* format,
                   std::string* error);

// How serious the check's outcome is, for its colour: ok; warning (too quiet, cut: listen
// again); bad (clipped, silent, format mismatch: record again).
enum class TakeSeverity { Ok, Warning, Bad };
TakeSeverity SeverityOf(const TakeCheck& check);

// The verdicts as words, in a fixed order: "clipped", "too quiet", "silent", "cut at the start",
// "cut at the end", "format mismatch"; just "ok" when there is none.
std::vector<std::string_view> VerdictWords(const TakeCheck& check);

// One line for the dialog: "ok, peak -6.2 dB, 2.4 s" or the verdicts with their figures, as
// "clipped (37 samples), cut at the end".
std::string SummaryLine(const TakeCheck& check);

}  // namespace voxtar::audio
