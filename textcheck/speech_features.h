// SPDX-License-Identifier: GPL-3.0-or-later
// What the text check compares of two pieces of speech: mel-frequency cepstra of 25 ms frames
// every 10 ms, with their slopes, normalised over the speech so that microphone, level and voice
// weigh less than what is said. Silence at the edges is left out and long pauses are shortened,
// so a reading and its reference compare by their sounds, not by how long the speaker paused.
// The filter bank is laid out in Hz for the signal's own sample rate: any rate compares with any.
#pragma once

#include <span>
#include <vector>

namespace voxtar::textcheck {

// Frames per second.
inline constexpr int kFrameRate = 100;

struct SpeechFeatures {
  int dimensions = 0;
  std::vector<float> values;  // frame after frame
  // The frame of the signal each kept frame was made from (10 ms apart in the signal).
  std::vector<int> sourceFrames;
  // The level of each kept frame in dB against the loud frames of the speech (0 and below, mostly).
  std::vector<float> levels;

  int frames() const { return dimensions == 0 ? 0 : static_cast<int>(values.size()) / dimensions; }
  std::span<const float> frame(int index) const {
    const auto width = static_cast<std::size_t>(dimensions);
    return std::span(values).subspan(static_cast<std::size_t>(index) * width, width);
  }
};

// The features of mono `samples` at `sampleRate`, the filter bank reaching up to `upperHz` (below
// half the rate). Empty when the signal holds no speech (no frame louder than its quietest ones).
SpeechFeatures ComputeFeatures(std::span<const float> samples, int sampleRate, double upperHz);

// The features with the filter bank moved to `warps` times its frequencies, one set per warp (the
// frames kept are the same in all): a reading compares with the reference of another voice best
// at the warp that matches their vocal tracts.
std::vector<SpeechFeatures> ComputeFeatures(std::span<const float> samples, int sampleRate,
                                            double upperHz, std::span<const double> warps);

// The highest frequency the filter bank of a signal at `sampleRate` reaches: 7600 Hz, or less
// for a rate that cannot carry it. Two signals compare with the same upper frequency.
double UpperFrequency(int sampleRate);

// Every `factor` frames averaged into one: for a quick first alignment.
SpeechFeatures Coarse(const SpeechFeatures& features, int factor);

// The distance between two frames of the same dimensions.
float FrameDistance(std::span<const float> a, std::span<const float> b);

}  // namespace voxtar::textcheck
