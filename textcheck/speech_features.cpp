// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/speech_features.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>

namespace voxtar::textcheck {

namespace {

constexpr double kFrameSeconds = 0.025;
constexpr double kPreEmphasis = 0.97;
constexpr double kLowerHz = 100.0;  // below: hum and rumble, no speech sounds
constexpr double kUpperHz = 7600.0;
constexpr int kMelBands = 26;
// c0 (the level) to c9: the envelope of the spectrum, without the detail of the voice's pitch.
constexpr int kCepstra = 10;
// Slopes over two frames each way, weighted twice the cepstra: how the sounds change tells more
// than where each one lies, which depends on the voice.
constexpr int kDeltaSpan = 2;
constexpr double kDeltaWeight = 2.0;
constexpr int kDimensions = 2 * kCepstra;
// A frame this far below the loud frames of the speech is quiet: room, breath, a pause; and so is
// one within kAboveNoiseDb of the room noise (the quietest twentieth of the frames).
constexpr double kQuietDb = 35.0;
constexpr double kAboveNoiseDb = 8.0;
// Band energies this far below the loud frames are all one: room noise or digital silence.
constexpr double kFloorDb = 50.0;
// Pauses are shortened to this many frames.
constexpr int kMaxPauseFrames = 15;
// Samples beyond this are clipped, ones that are no number are silence.
constexpr float kMaxSample = 1000.0F;
// Loud frames of a signal quieter than this hold no speech.
constexpr double kSilentDb = -100.0;

// FFTW's plans, one per size, made once: making a plan is not thread-safe, running one is.
class FftPlans {
 public:
  FftPlans() = default;
  ~FftPlans() {
    for (const auto& [size, plan] : plans_) {
      fftwf_destroy_plan(plan);
    }
    fftwf_cleanup();
  }
  FftPlans(const FftPlans&) = delete;
  FftPlans& operator=(const FftPlans&) = delete;

  fftwf_plan For(int size) {
    const std::lock_guard lock(mutex_);
    fftwf_plan& plan = plans_[size];
    if (plan == nullptr) {
      float* in = fftwf_alloc_real(static_cast<std::size_t>(size));
      fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(size) / 2 + 1);
      plan = fftwf_plan_dft_r2c_1d(size, in, out, FFTW_ESTIMATE);
      fftwf_free(in);
      fftwf_free(out);
    }
    return plan;
  }

 private:
  std::mutex mutex_;
  std::map<int, fftwf_plan> plans_;
};

fftwf_plan PlanFor(int size) {
  static FftPlans plans;
  return plans.For(size);
}

struct FftwFree {
  void operator()(void* memory) const { fftwf_free(memory); }
};

double Mel(double hz) {
  return 2595.0 * std::log10(1.0 + hz / 700.0);
}
double Hz(double mel) {
  return 700.0 * (std::pow(10.0, mel / 2595.0) - 1.0);
}

// Triangular filters, equally spaced in mel, over the bins of a transform of `size` points. With
// a warp, the filters move to `warp` times their frequencies (up to 85 % of the top, then linearly
// back to the top): a shorter vocal tract's formants lie higher by about that factor.
struct FilterBank {
  struct Filter {
    int firstBin = 0;
    std::vector<float> weights;
  };
  std::vector<Filter> filters;

  FilterBank(int size, int sampleRate, double upperHz, double warp, int bands) {
    const double low = Mel(kLowerHz);
    const double high = Mel(upperHz);
    const double binHz = static_cast<double>(sampleRate) / size;
    const double knee = 0.85 * upperHz * std::min(1.0, 1.0 / warp);
    const auto warped = [&](double hz) {
      return hz <= knee ? warp * hz
                        : warp * knee + (upperHz - warp * knee) * (hz - knee) / (upperHz - knee);
    };
    for (int band = 0; band < bands; ++band) {
      const double left = warped(Hz(low + (high - low) * band / (bands + 1)));
      const double centre = warped(Hz(low + (high - low) * (band + 1) / (bands + 1)));
      const double right = warped(Hz(low + (high - low) * (band + 2) / (bands + 1)));
      Filter filter;
      filter.firstBin = static_cast<int>(std::ceil(left / binHz));
      for (int bin = filter.firstBin; bin * binHz < right && bin <= size / 2; ++bin) {
        const double hz = bin * binHz;
        const double weight =
            hz < centre ? (hz - left) / (centre - left) : (right - hz) / (right - centre);
        filter.weights.push_back(static_cast<float>(std::max(weight, 0.0)));
      }
      filters.push_back(std::move(filter));
    }
  }

  // The energy of each band of a power spectrum.
  void Apply(const float* power, float* energies) const {
    for (std::size_t band = 0; band < filters.size(); ++band) {
      const Filter& filter = filters[band];
      double energy = 0.0;
      for (std::size_t k = 0; k < filter.weights.size(); ++k) {
        energy += filter.weights[k] * power[static_cast<std::size_t>(filter.firstBin) + k];
      }
      energies[band] = static_cast<float>(energy);
    }
  }
};

// The frames kept of a signal: quiet frames at the edges are left out, long pauses shortened.
std::vector<int> KeptFrames(const std::vector<double>& levels, double quiet) {
  std::vector<int> kept;
  int run = 0;  // quiet frames since the last loud one
  for (std::size_t frame = 0; frame < levels.size(); ++frame) {
    if (levels[frame] < quiet) {
      ++run;
      continue;
    }
    // The end of a pause: its first and last frames stay, up to kMaxPauseFrames in all.
    if (!kept.empty() && run > 0) {
      const int keepHead = std::min(run, kMaxPauseFrames / 2);
      const int keepTail = std::min(run - keepHead, kMaxPauseFrames - keepHead);
      const int pauseStart = static_cast<int>(frame) - run;
      for (int i = 0; i < keepHead; ++i) {
        kept.push_back(pauseStart + i);
      }
      for (int i = keepTail; i > 0; --i) {
        kept.push_back(static_cast<int>(frame) - i);
      }
    }
    kept.push_back(static_cast<int>(frame));
    run = 0;
  }
  return kept;
}

// A sample as the transform can take it: a float file may hold anything.
float Sane(float sample) {
  return std::isfinite(sample) ? std::clamp(sample, -kMaxSample, kMaxSample) : 0.0F;
}

}  // namespace

double UpperFrequency(int sampleRate) {
  return std::min(kUpperHz, 0.475 * sampleRate);
}

SpeechFeatures ComputeFeatures(std::span<const float> samples, int sampleRate, double upperHz) {
  const double warps[] = {1.0};
  std::vector<SpeechFeatures> features = ComputeFeatures(samples, sampleRate, upperHz, warps);
  return features.empty() ? SpeechFeatures{} : std::move(features.front());
}

std::vector<SpeechFeatures> ComputeFeatures(std::span<const float> samples, int sampleRate,
                                            double upperHz, std::span<const double> warps) {
  std::vector<SpeechFeatures> result;
  const auto frameLength = static_cast<std::size_t>(std::lround(kFrameSeconds * sampleRate));
  const auto hop =
      static_cast<std::size_t>(std::lround(static_cast<double>(sampleRate) / kFrameRate));
  if (sampleRate <= 0 || frameLength < 2 || hop == 0 || samples.size() < frameLength ||
      upperHz <= kLowerHz) {
    return result;
  }
  int size = 1;
  while (static_cast<std::size_t>(size) < frameLength) {
    size *= 2;
  }
  const std::size_t bins = static_cast<std::size_t>(size) / 2 + 1;
  std::vector<float> window(frameLength);
  for (std::size_t i = 0; i < frameLength; ++i) {
    window[i] =
        static_cast<float>(0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                                  static_cast<double>(frameLength - 1)));
  }
  const std::unique_ptr<float, FftwFree> in(fftwf_alloc_real(static_cast<std::size_t>(size)));
  const std::unique_ptr<fftwf_complex, FftwFree> out(fftwf_alloc_complex(bins));
  const fftwf_plan plan = PlanFor(size);
  std::fill(in.get(), in.get() + size, 0.0F);

  // The band energies of every frame at every warp, and its level.
  const std::size_t count = 1 + (samples.size() - frameLength) / hop;
  const FilterBank plain(size, sampleRate, upperHz, 1.0, kMelBands);
  std::vector<FilterBank> banks;
  for (const double warp : warps) {
    banks.emplace_back(size, sampleRate, upperHz, warp, kMelBands);
  }
  constexpr auto kBands = static_cast<std::size_t>(kMelBands);
  std::vector<std::vector<float>> energies(warps.size(), std::vector<float>(count * kBands));
  std::vector<double> levels(count);
  std::vector<float> power(bins);
  std::vector<float> plainEnergies(kBands);
  for (std::size_t frame = 0; frame < count; ++frame) {
    const std::size_t start = frame * hop;
    float previous = start > 0 ? Sane(samples[start - 1]) : 0.0F;
    for (std::size_t i = 0; i < frameLength; ++i) {
      const float sample = Sane(samples[start + i]);
      in.get()[i] = (sample - static_cast<float>(kPreEmphasis) * previous) * window[i];
      previous = sample;
    }
    fftwf_execute_dft_r2c(plan, in.get(), out.get());
    for (std::size_t bin = 0; bin < bins; ++bin) {
      const fftwf_complex& value = out.get()[bin];
      power[bin] = (value[0] * value[0] + value[1] * value[1]) / static_cast<float>(frameLength);
    }
    for (std::size_t w = 0; w < banks.size(); ++w) {
      banks[w].Apply(power.data(), &energies[w][frame * kBands]);
    }
    plain.Apply(power.data(), plainEnergies.data());
    double total = 0.0;
    for (const float energy : plainEnergies) {
      total += energy;
    }
    levels[frame] = 10.0 * std::log10(total + 1e-20);
  }

  // The level of the loud frames; what lies far below it is room, breath or pause.
  std::vector<double> sorted = levels;
  const auto loudAt = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() * 95 / 100);
  std::nth_element(sorted.begin(), loudAt, sorted.end());
  const double loud = *loudAt;
  if (loud < kSilentDb) {
    return result;
  }
  // Room noise: the level of the quietest twentieth. A frame near it holds no speech, however loud
  // the room.
  const auto noiseAt = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 20);
  std::nth_element(sorted.begin(), noiseAt, sorted.end());
  const double quiet = std::min(std::max(loud - kQuietDb, *noiseAt + kAboveNoiseDb), loud - 10.0);
  const std::vector<int> kept = KeptFrames(levels, quiet);
  const std::size_t frames = kept.size();
  const double floor = std::pow(10.0, (loud - kFloorDb) / 10.0) / kMelBands;
  constexpr auto kStatics = static_cast<std::size_t>(kCepstra);
  constexpr auto kWidth = static_cast<std::size_t>(kDimensions);

  // The cosine transform of the log band energies into cepstra.
  std::vector<double> cosines;
  for (int k = 0; k < kCepstra; ++k) {
    for (int band = 0; band < kMelBands; ++band) {
      cosines.push_back(std::cos(std::numbers::pi * k * (band + 0.5) / kMelBands));
    }
  }

  for (const std::vector<float>& warped : energies) {
    SpeechFeatures features;
    features.dimensions = kDimensions;
    features.values.assign(frames * kWidth, 0.0F);
    features.sourceFrames = kept;
    for (const int frame : kept) {
      features.levels.push_back(static_cast<float>(levels[static_cast<std::size_t>(frame)] - loud));
    }
    // Cepstra of the floored log band energies.
    std::vector<double> logBands(kBands);
    for (std::size_t f = 0; f < frames; ++f) {
      const float* frameEnergies = &warped[static_cast<std::size_t>(kept[f]) * kBands];
      for (std::size_t band = 0; band < kBands; ++band) {
        logBands[band] = std::log(std::max(static_cast<double>(frameEnergies[band]), floor));
      }
      float* cepstrum = &features.values[f * kWidth];
      for (std::size_t k = 0; k < kStatics; ++k) {
        double sum = 0.0;
        for (std::size_t band = 0; band < logBands.size(); ++band) {
          sum += logBands[band] * cosines[k * logBands.size() + band];
        }
        cepstrum[k] = static_cast<float>(sum);
      }
    }
    // Each cepstrum to mean 0 and variance 1 over the speech.
    for (std::size_t k = 0; k < kStatics; ++k) {
      double sum = 0.0;
      double squares = 0.0;
      for (std::size_t f = 0; f < frames; ++f) {
        const double value = features.values[f * kWidth + k];
        sum += value;
        squares += value * value;
      }
      const double mean = sum / static_cast<double>(frames);
      const double deviation =
          std::sqrt(std::max(squares / static_cast<double>(frames) - mean * mean, 1e-6));
      for (std::size_t f = 0; f < frames; ++f) {
        float& value = features.values[f * kWidth + k];
        value = static_cast<float>((value - mean) / deviation);
      }
    }
    // Slopes over two frames each way.
    const auto last = static_cast<std::ptrdiff_t>(frames) - 1;
    for (std::ptrdiff_t f = 0; f <= last; ++f) {
      for (std::size_t k = 0; k < kStatics; ++k) {
        double slope = 0.0;
        for (int d = 1; d <= kDeltaSpan; ++d) {
          const auto after = static_cast<std::size_t>(std::min(f + d, last));
          const auto before = static_cast<std::size_t>(std::max(f - d, std::ptrdiff_t{0}));
          slope += static_cast<double>(d) *
                   (features.values[after * kWidth + k] - features.values[before * kWidth + k]);
        }
        features.values[static_cast<std::size_t>(f) * kWidth + kStatics + k] =
            static_cast<float>(kDeltaWeight * slope / 10.0);
      }
    }
    result.push_back(std::move(features));
  }
  return result;
}

SpeechFeatures Coarse(const SpeechFeatures& features, int factor) {
  SpeechFeatures coarse;
  coarse.dimensions = features.dimensions;
  const int frames = features.frames();
  for (int first = 0; first < frames; first += factor) {
    const int end = std::min(first + factor, frames);
    const std::size_t at = coarse.values.size();
    coarse.values.resize(at + static_cast<std::size_t>(features.dimensions), 0.0F);
    for (int f = first; f < end; ++f) {
      const std::span<const float> frame = features.frame(f);
      for (std::size_t d = 0; d < frame.size(); ++d) {
        coarse.values[at + d] += frame[d] / static_cast<float>(end - first);
      }
    }
    coarse.sourceFrames.push_back(features.sourceFrames[static_cast<std::size_t>(first)]);
    coarse.levels.push_back(
        *std::max_element(features.levels.begin() + first, features.levels.begin() + end));
  }
  return coarse;
}

float FrameDistance(std::span<const float> a, std::span<const float> b) {
  float sum = 0.0F;
  for (std::size_t d = 0; d < a.size(); ++d) {
    const float difference = a[d] - b[d];
    sum += difference * difference;
  }
  return std::sqrt(sum);
}

}  // namespace voxtar::textcheck
