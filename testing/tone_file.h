// SPDX-License-Identifier: GPL-3.0-or-later
// Sound files of a steady tone, written with libsndfile directly, for the audio tests and the
// audio benchmark (the program itself never uses this): templates, prompts and tones to play into
// the sound server, made independently of the layer's own writer.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <cstddef>
#include <filesystem>
#include <numbers>
#include <vector>

namespace voxtar::audio {

// Writes `seconds` of a sine of `frequency` Hz at `amplitude` (0..1 of full scale; 0 gives
// silence) to a new file of the libsndfile `format`, the same on every channel. False when the
// file cannot be created; sf_strerror(nullptr) then says why.
inline bool WriteToneFile(const std::filesystem::path& path, int format, int rate, int channels,
                          double seconds, double frequency, double amplitude) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    return false;
  }
  const auto frames = static_cast<std::size_t>(std::lround(seconds * rate));
  std::vector<double> samples(frames * static_cast<std::size_t>(channels));
  for (std::size_t n = 0; n < frames; ++n) {
    const double value =
        amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate);
    for (int c = 0; c < channels; ++c) {
      samples[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = value;
    }
  }
  sf_writef_double(file, samples.data(), static_cast<sf_count_t>(frames));
  sf_close(file);
  return true;
}

}  // namespace voxtar::audio
