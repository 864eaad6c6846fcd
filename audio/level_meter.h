// SPDX-License-Identifier: GPL-3.0-or-later
// The input level of captured sound: a block of interleaved samples of any memory kind summed up
// into peak, RMS and clipping, and the meter's ballistics (fall-back, peak hold, clip latch) that
// turn a stream of such summaries into what the operator sees.
//
// The summary is plain arithmetic over the block: no allocation, no locks, no Qt, so a capture
// thread can compute it per block and hand the small result to the GUI thread. LevelMeterState
// belongs to whoever draws the meter (one thread).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/sample_kind.h"

namespace voxtar::audio {

// The floor of every dBFS figure: silence and anything below it read as this.
inline constexpr double kFloorDb = -120.0;
// A sample at or above this fraction of full scale counts as clipped; so does the largest or
// smallest value of an integer format (8-bit 255 is only 127/128 of full scale).
inline constexpr double kClipFraction = 0.999;

// dBFS of a linear magnitude (1.0 = full scale), never below kFloorDb.
double ToDbfs(double linear);

// Running sums over samples, to merge blocks or windows before turning them into figures.
struct LevelSums {
  double peak = 0.0;        // largest magnitude, 1.0 = full scale (float samples may exceed it)
  double sumSquares = 0.0;  // of the samples as fractions of full scale
  std::uint64_t samples = 0;
  std::uint64_t clippedSamples = 0;

  void Add(const LevelSums& other);
  double rms() const;
};

// The sums of the whole frames in `block` (interleaved samples of `kind`, `channels` per frame);
// a trailing partial frame is ignored. All channels count alike.
LevelSums MeasureBlock(std::span<const std::byte> block, int channels, SampleKind kind);

// What the capture side hands to the meter for one block.
struct LevelSummary {
  double peak = 0.0;  // linear, 1.0 = full scale
  double peakDb = kFloorDb;
  double rmsDb = kFloorDb;
  bool clipped = false;
  std::uint32_t frames = 0;
};

LevelSummary SummarizeBlock(std::span<const std::byte> block, int channels, SampleKind kind);

// What the meter shows at one moment.
struct LevelDisplay {
  double peakDb = kFloorDb;
  double rmsDb = kFloorDb;
  double holdDb = kFloorDb;  // the highest peak of about the last second
  bool clipped = false;      // latched until Reset
};

// Meter ballistics: a rise shows at once, a fall goes back at kFallDbPerSecond, the highest peak
// stays put for kPeakHold, and a clip stays lit until Reset (the next recording).
class LevelMeterState {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kPeakHold{1000};
  static constexpr double kFallDbPerSecond = 24.0;

  void Reset();
  void Feed(const LevelSummary& summary, Clock::time_point at);
  LevelDisplay Display(Clock::time_point now) const;

 private:
  double Fallen(double db, Clock::time_point now) const;

  Clock::time_point last_{};
  double peakDb_ = kFloorDb;
  double rmsDb_ = kFloorDb;
  double holdDb_ = kFloorDb;
  Clock::time_point holdAt_{};
  bool clipped_ = false;
};

}  // namespace voxtar::audio
