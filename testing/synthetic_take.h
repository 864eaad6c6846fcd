// SPDX-License-Identifier: GPL-3.0-or-later
// Takes made up in memory for the level and take-check tests and benchmarks (the program itself
// never uses this): silence in a given format with tone bursts, a hiss floor and clicks put into
// it, each sample encoded as the sound system would deliver it for that format; pink room noise
// and made-up speech for the voice detector.
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

// Made-up speech for the voice tests, mono with a peak of 1.0 and voice from its first sample to
// its last: syllables of 110-230 ms, each a vowel on a pitch of 100-220 Hz with harmonics up to
// 4 kHz (falling 6 dB per octave) that swells in 20 ms and fades in 50 ms, some led by a
// fricative or the burst of a plosive; pauses of 30-140 ms between words, a comma pause of
// `commaPauseS` after the first half, and the last word ending in a fricative tail (noise around
// 6 kHz, 20 dB below its vowel) that fades out: the /s/ a detector must not cut off.
inline std::vector<double> SpokenSentence(int rate, std::uint32_t seed, double commaPauseS = 1.0,
                                          int syllables = 10) {
  std::uint32_t state = seed * 2654435761u + 1;
  const auto random = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
  };
  const auto frames = [rate](double seconds) {
    return static_cast<std::size_t>(std::lround(seconds * rate));
  };
  std::vector<double> voice;
  // Noise around 6 kHz (white noise through a resonator), at an RMS of about `level`.
  const auto fricative = [&](double seconds, double level, double fadeIn, double fadeOut) {
    const double w = 2.0 * std::numbers::pi * std::min(6000.0, 0.3 * rate) / rate;
    const double r = 0.75;
    double y1 = 0.0;
    double y2 = 0.0;
    const std::size_t count = frames(seconds);
    for (std::size_t n = 0; n < count; ++n) {
      const double white = 2.0 * random() - 1.0;
      const double y = white + 2.0 * r * std::cos(w) * y1 - r * r * y2;
      y2 = y1;
      y1 = y;
      const double t = static_cast<double>(n) / rate;
      const double envelope = std::min({1.0, t / fadeIn, (seconds - t) / fadeOut});
      voice.push_back(level * 0.55 * envelope * y);
    }
  };
  const auto pause = [&](double seconds) { voice.resize(voice.size() + frames(seconds), 0.0); };
  for (int syllable = 0; syllable < syllables; ++syllable) {
    const double level = std::pow(10.0, -12.0 * random() / 20.0);
    const double lead = random();
    if (lead < 0.25) {
      fricative(0.04 + 0.05 * random(), 0.15 * level, 0.01, 0.01);
    } else if (lead < 0.5) {
      fricative(0.01, 0.5 * level, 0.002, 0.005);  // a burst
      pause(0.02);
    }
    // One period of the vowel's wave, repeated.
    const double pitch = 100.0 + 120.0 * random();
    const std::size_t period = std::max<std::size_t>(2, frames(1.0 / pitch));
    std::vector<double> wave(period);
    for (int harmonic = 1; harmonic * pitch < 4000.0; ++harmonic) {
      const double phase = 2.0 * std::numbers::pi * random();
      for (std::size_t n = 0; n < period; ++n) {
        wave[n] += std::sin(2.0 * std::numbers::pi * harmonic * static_cast<double>(n) /
                                static_cast<double>(period) +
                            phase) /
                   harmonic;
      }
    }
    const double seconds = 0.11 + 0.12 * random();
    const std::size_t count = frames(seconds);
    for (std::size_t n = 0; n < count; ++n) {
      const double t = static_cast<double>(n) / rate;
      const double envelope = std::min({1.0, t / 0.02, (seconds - t) / 0.05});
      voice.push_back(0.4 * level * envelope * wave[n % period]);
    }
    if (syllable + 1 == syllables) {
      fricative(0.12 + 0.08 * random(), 0.07 * level, 0.01, 0.06);  // the final /s/
    } else if (syllable + 1 == syllables / 2) {
      pause(commaPauseS);
    } else if (random() < 0.5) {
      pause(0.03 + 0.11 * random());
    }
  }
  double peak = 0.0;
  for (const double sample : voice) {
    peak = std::max(peak, std::fabs(sample));
  }
  for (double& sample : voice) {
    sample /= peak;
  }
  return voice;
}

}  // namespace voxtar::audio
