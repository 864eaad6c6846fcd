// Takes made up in memory for the level and take-check tests and benchmarks (the program itself
// never uses this): silence in a given format with tone bursts, a hiss floor and clicks put into
// it, each sample encoded as the sound system would deliver it for that format.
#pragma once

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "audio/wave_element.h"

namespace voxtar::audio {

// Encodes `value` (-1..1 of full scale; beyond it saturates, except for float) as one sample of
// the take's format at `to`.
inline void EncodeTakeSample(const WaveElement& take, double value, std::byte* to) {
  if ((take.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24) {
    // 24 bits, left-justified.
    const auto raw = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(std::clamp(std::lround(value * 8388608.0), -8388608L, 8388607L))
        << 8);
    std::memcpy(to, &raw, 4);
    return;
  }
  EncodeSample(take.kind, value, to);
}

// Replaces frames [first, end) of the take with `value(frame, channel)`.
template <typename Value>
void PutFrames(WaveElement* take, std::uint64_t first, std::uint64_t end, Value&& value) {
  const std::size_t sampleBytes = BytesPerSample(take->kind);
  const auto channels = static_cast<std::size_t>(take->channels);
  if (end <= first) {
    return;
  }
  std::vector<std::byte> bytes(static_cast<std::size_t>(end - first) * take->bytesPerFrame());
  std::byte* to = bytes.data();
  for (std::uint64_t n = first; n < end; ++n) {
    for (std::size_t c = 0; c < channels; ++c, to += sampleBytes) {
      EncodeTakeSample(*take, value(n, c), to);
    }
  }
  take->samples.Write(first, bytes);
}

// Encodes `value` as sample `index` (counted over all channels) of the element.
inline void PutSample(WaveElement* take, std::size_t index, double value) {
  const auto channels = static_cast<std::size_t>(take->channels);
  std::vector<std::byte> frame(take->bytesPerFrame());
  take->samples.CopyOut(index / channels, frame);
  EncodeTakeSample(*take, value, frame.data() + index % channels * BytesPerSample(take->kind));
  take->samples.Write(index / channels, frame);
}

// All the take's frames in one buffer.
inline std::vector<std::byte> Bytes(const WaveElement& take) {
  std::vector<std::byte> bytes(static_cast<std::size_t>(take.samples.bytes()));
  take.samples.CopyOut(0, bytes);
  return bytes;
}

// A take of `seconds` of silence in the libsndfile `format`.
inline WaveElement SilentTake(int format, int rate, int channels, double seconds) {
  return MakeElement(format, rate, channels,
                     static_cast<std::uint64_t>(std::lround(seconds * rate)));
}

// Adds a sine of `amplitude` (0..1 of full scale) and `frequency` from `from` to `to` seconds on
// every channel, replacing what was there.
inline void AddTone(WaveElement* take, double from, double to, double amplitude,
                    double frequency = 440.0) {
  const auto first = static_cast<std::uint64_t>(std::lround(from * take->sampleRate));
  const auto end =
      std::min(static_cast<std::uint64_t>(std::lround(to * take->sampleRate)), take->frames());
  PutFrames(take, first, end, [&](std::uint64_t n, std::size_t) {
    return amplitude * std::sin(2.0 * std::numbers::pi * frequency *
                                static_cast<double>(n - first) / take->sampleRate);
  });
}

// Replaces the whole take with a steady hiss, uniform in -amplitude..amplitude (its RMS is
// amplitude / sqrt(3)), the same every run.
inline void FillHiss(WaveElement* take, double amplitude) {
  std::uint32_t state = 12345;
  PutFrames(take, 0, take->frames(), [&](std::uint64_t, std::size_t) {
    state = state * 1664525u + 1013904223u;
    const double unit = static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
    return amplitude * (2.0 * unit - 1.0);
  });
}

// 2.4 s with two "words" of `amplitude`, 300 ms of room before them and 500 ms after: a good
// take at half scale.
inline WaveElement SpokenTake(int format, int rate = 44100, int channels = 1,
                              double amplitude = 0.5) {
  WaveElement take = SilentTake(format, rate, channels, 2.4);
  AddTone(&take, 0.3, 0.8, amplitude, 220.0);
  AddTone(&take, 1.0, 1.9, amplitude, 330.0);
  return take;
}

// Pink noise (-3 dB per octave from about 10 Hz up), the same every run for a seed: uniform white
// noise through a sum of first-order low-passes spaced an octave or two apart, the usual room
// noise of a voice test.
class PinkNoise {
 public:
  explicit PinkNoise(std::uint32_t seed) : state_(seed) {}

  double Next() {
    state_ = state_ * 1664525u + 1013904223u;
    const double white = static_cast<double>(state_ >> 8) / static_cast<double>(1u << 23) - 1.0;
    b_[0] = 0.99886 * b_[0] + white * 0.0555179;
    b_[1] = 0.99332 * b_[1] + white * 0.0750759;
    b_[2] = 0.96900 * b_[2] + white * 0.1538520;
    b_[3] = 0.86650 * b_[3] + white * 0.3104856;
    b_[4] = 0.55000 * b_[4] + white * 0.5329522;
    b_[5] = -0.7616 * b_[5] - white * 0.0168980;
    const double pink = b_[0] + b_[1] + b_[2] + b_[3] + b_[4] + b_[5] + b_[6] + white * 0.5362;
    b_[6] = white * 0.115926;
    return pink;
  }

 private:
  std::uint32_t state_;
  double b_[7] = {};
};

// `count` samples of pink noise whose RMS is exactly `rmsDb` dBFS (over all of them).
inline std::vector<double> PinkRoom(std::size_t count, double rmsDb, std::uint32_t seed = 1) {
  PinkNoise pink(seed);
  for (int n = 0; n < 20000; ++n) {
    pink.Next();  // past the filter's start
  }
  std::vector<double> room(count);
  double sumSquares = 0.0;
  for (double& sample : room) {
    sample = pink.Next();
    sumSquares += sample * sample;
  }
  const double rms = std::sqrt(sumSquares / static_cast<double>(std::max<std::size_t>(count, 1)));
  const double gain = rms > 0.0 ? std::pow(10.0, rmsDb / 20.0) / rms : 0.0;
  for (double& sample : room) {
    sample *= gain;
  }
  return room;
}

}  // namespace voxtar::audio
