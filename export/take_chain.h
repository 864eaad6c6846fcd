// SPDX-License-Identifier: GPL-3.0-or-later
// One take made into what a delivery expects: cut down to its voice with the room around it that
// the profile keeps, mixed to the channels and resampled (libsoxr, high quality) to the rate asked
// for, brought to a loudness target without passing the peak limits, dithered where it loses
// resolution, and written as a WAV file whole or not at all. The take is held in memory while it
// goes through: an export of a whole course holds a few takes at a time, whatever its size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "measures/take_measures.h"

namespace voxtar::exporting {

enum class SampleBits { Int16, Int24, Float32 };

// "16", "24", "32f": as --bits names them.
std::string_view BitsName(SampleBits bits);
std::optional<SampleBits> BitsFromName(std::string_view name);

struct ChainSettings {
  std::optional<int> sampleRate = {};  // unset: the take's
  std::optional<int> channels = {};    // unset: the take's
  SampleBits bits = SampleBits::Int16;
  // Seconds of room kept before and after the voice; unset: the take is not cut.
  std::optional<double> keepHeadS = {};
  std::optional<double> keepTailS = {};
  std::optional<double> loudnessLufs = {};  // integrated loudness it is brought to; unset: no gain
  std::optional<double> truePeakLimitDbtp = {};
  std::optional<double> peakLimitDb = {};

  // Every setting in one line: a file made with other settings is made again.
  std::string Key() const;
};

// What kept the gain below the loudness target (or brought a take down): a limit of the profile,
// or full scale, which no take may pass, whatever its format.
enum class GainLimit { None, TruePeak, Peak, FullScale };

// "", "true-peak", "peak", "full-scale".
std::string_view GainLimitWord(GainLimit limit);
std::optional<GainLimit> GainLimitFromWord(std::string_view word);

struct ChainResult {
  int sampleRate = 0;
  int channels = 0;
  std::uint64_t frames = 0;
  // The figures of what was written, before its last rounding to whole samples; the true peak
  // only where a limit asked for it.
  std::optional<double> loudnessLufs;
  std::optional<double> truePeakDbtp;
  double peakDb = measures::kFloorDb;
  double gainDb = 0.0;
  GainLimit heldBy = GainLimit::None;

  double seconds() const { return sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0; }
  bool operator==(const ChainResult&) const = default;
};

// The rate, channels and encoding of the sound file at `path` (the template recording), from its
// header; unset with *error (plain English, naming the file) when it cannot be read.
std::optional<measures::TakeFormat> SoundFileFormat(std::u16string_view path, std::string* error);

// Makes the take file `source`, measured as `measures` (where its voice lies), into the WAV file
// `target`, which stays inside `confinedTo` (see platform::SaveFile). False with *error (plain
// English, naming the file) when the take cannot be read, changed since it was measured, or the
// file cannot be written; `target` is then as it was.
bool ExportTake(std::u16string_view source, const measures::TakeMeasures& measures,
                const ChainSettings& settings, std::u16string_view target,
                std::u16string_view confinedTo, ChainResult* result, std::string* error);

}  // namespace voxtar::exporting
