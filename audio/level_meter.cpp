// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/level_meter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace voxtar::audio {

namespace {

// Per kind: the sample as a signed fraction of full scale, and whether it clipped. Samples are
// copied out byte-wise: a block from the sound system need not be aligned for its kind.
struct UInt8Samples {
  using Raw = std::uint8_t;
  static double Fraction(Raw raw) { return (static_cast<int>(raw) - 128) / 128.0; }
  static bool Clipped(Raw raw) { return raw == 0 || raw == 255; }
};

template <typename Int>
struct IntSamples {
  using Raw = Int;
  static constexpr double kFullScale = -static_cast<double>(std::numeric_limits<Int>::min());
  // The smallest magnitude that counts as clipped; the format's extremes are above it.
  static constexpr double kClipAt = kClipFraction * kFullScale;
  static double Fraction(Raw raw) { return static_cast<double>(raw) / kFullScale; }
  static bool Clipped(Raw raw) {
    const auto value = static_cast<double>(raw);
    return value >= kClipAt || value <= -kClipAt;
  }
};

struct FloatSamples {
  using Raw = float;
  static double Fraction(Raw raw) { return static_cast<double>(raw); }
  static bool Clipped(Raw raw) { return std::fabs(raw) >= static_cast<float>(kClipFraction); }
};

template <typename Samples>
LevelSums Measure(const std::byte* data, std::size_t count) {
  using Raw = typename Samples::Raw;
  LevelSums sums;
  double peak = 0.0;
  double sumSquares = 0.0;
  std::uint64_t clipped = 0;
  for (std::size_t i = 0; i < count; ++i) {
    Raw raw;
    std::memcpy(&raw, data + i * sizeof(Raw), sizeof(Raw));
    const double value = Samples::Fraction(raw);
    const double magnitude = std::fabs(value);
    peak = std::max(peak, magnitude);
    sumSquares += value * value;
    clipped += Samples::Clipped(raw) ? 1u : 0u;
  }
  sums.peak = peak;
  sums.sumSquares = sumSquares;
  sums.samples = count;
  sums.clippedSamples = clipped;
  return sums;
}

}  // namespace

double ToDbfs(double linear) {
  if (!(linear > 0.0)) {
    return kFloorDb;
  }
  return std::max(kFloorDb, 20.0 * std::log10(linear));
}

void LevelSums::Add(const LevelSums& other) {
  peak = std::max(peak, other.peak);
  sumSquares += other.sumSquares;
  samples += other.samples;
  clippedSamples += other.clippedSamples;
}

double LevelSums::rms() const {
  return samples == 0 ? 0.0 : std::sqrt(sumSquares / static_cast<double>(samples));
}

LevelSums MeasureBlock(std::span<const std::byte> block, int channels, SampleKind kind) {
  if (channels <= 0) {
    return {};
  }
  const std::size_t frameBytes = BytesPerSample(kind) * static_cast<std::size_t>(channels);
  const std::size_t count = block.size() / frameBytes * static_cast<std::size_t>(channels);
  switch (kind) {
    case SampleKind::UInt8:
      return Measure<UInt8Samples>(block.data(), count);
    case SampleKind::Int16:
      return Measure<IntSamples<std::int16_t>>(block.data(), count);
    case SampleKind::Int32:
      return Measure<IntSamples<std::int32_t>>(block.data(), count);
    case SampleKind::Float:
      return Measure<FloatSamples>(block.data(), count);
  }
  return {};
}

LevelSummary SummarizeBlock(std::span<const std::byte> block, int channels, SampleKind kind) {
  const LevelSums sums = MeasureBlock(block, channels, kind);
  LevelSummary summary;
  summary.peak = sums.peak;
  summary.peakDb = ToDbfs(sums.peak);
  summary.rmsDb = ToDbfs(sums.rms());
  summary.clipped = sums.clippedSamples > 0;
  summary.frames =
      channels > 0 ? static_cast<std::uint32_t>(sums.samples / static_cast<unsigned>(channels)) : 0;
  return summary;
}

void LevelMeterState::Reset() {
  *this = LevelMeterState{};
}

double LevelMeterState::Fallen(double db, Clock::time_point now) const {
  const double seconds = std::chrono::duration<double>(now - last_).count();
  return std::max(kFloorDb, db - kFallDbPerSecond * std::max(0.0, seconds));
}

void LevelMeterState::Feed(const LevelSummary& summary, Clock::time_point at) {
  peakDb_ = std::max(summary.peakDb, Fallen(peakDb_, at));
  rmsDb_ = std::max(summary.rmsDb, Fallen(rmsDb_, at));
  last_ = at;
  if (summary.peakDb >= holdDb_ || at - holdAt_ > kPeakHold) {
    holdDb_ = summary.peakDb;
    holdAt_ = at;
  }
  clipped_ = clipped_ || summary.clipped;
}

LevelDisplay LevelMeterState::Display(Clock::time_point now) const {
  LevelDisplay display;
  display.peakDb = Fallen(peakDb_, now);
  display.rmsDb = Fallen(rmsDb_, now);
  // A hold that has run out falls back with the peak it was kept above.
  display.holdDb = now - holdAt_ > kPeakHold ? display.peakDb : std::max(holdDb_, display.peakDb);
  display.clipped = clipped_;
  return display;
}

}  // namespace voxtar::audio
