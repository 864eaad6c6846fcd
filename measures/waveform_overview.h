// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of a take: the lowest and highest sample of every stretch of it, all channels folded
// into one trace, kept in a few tens of thousands of bins so that a view of any width is drawn
// from them without the samples. A sample reaching 99.9 % of full scale (or an 8-bit format's
// largest value) is clipped, as the take check counts it; whether a stretch holds one follows
// from its lowest and highest sample.
//
// A bin holds a power of two of frames, the fewest for which the take fits in kMaxBins; a take
// that grows (a recording in progress) doubles its bins' length as it goes, merging neighbours.
// So an overview fed a take piece by piece equals the overview of the whole take at once.
//
// Plain data, no threads of its own; the take's overview is computed in one pass, which a stop
// request (std::stop_token) ends early for a caller on a worker thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/level_meter.h"
#include "audio/sample_kind.h"
#include "audio/wave_element.h"

namespace voxtar::measures {

// One stretch of a take: its lowest and highest sample, -1..1 of full scale (a float take may go
// beyond).
struct WaveColumn {
  float min = 0.0f;
  float max = 0.0f;
  bool clipped = false;

  bool operator==(const WaveColumn&) const = default;
};

class WaveformOverview {
 public:
  static constexpr std::size_t kMaxBins = std::size_t{1} << 16;

  WaveformOverview() = default;
  // An empty overview of sound of this format, whose bins suit a take of `expectedFrames` (a
  // longer one still fits: its bins grow).
  WaveformOverview(int sampleRate, int channels, audio::SampleKind kind,
                   std::uint64_t expectedFrames = 0);

  // Appends interleaved samples of the overview's kind; a trailing partial frame is ignored.
  void Append(std::span<const std::byte> block);
  // Appends a block known only by its level summary (what the capture side posts while
  // recording): its peak both ways over its frames.
  void Append(const audio::LevelSummary& summary);

  int sampleRate() const { return sampleRate_; }
  int channels() const { return channels_; }
  audio::SampleKind kind() const { return kind_; }
  std::uint64_t frames() const { return frames_; }
  std::uint32_t lengthMs() const;
  std::uint64_t binFrames() const { return binFrames_; }
  std::size_t bins() const { return mins_.size(); }
  // The largest magnitude of any sample, and whether any sample clipped.
  float peak() const;
  bool clipped() const;

  // The stretch of frames [from, to), widened to the bins it touches; none past the end.
  std::optional<WaveColumn> Column(std::uint64_t from, std::uint64_t to) const;

  bool operator==(const WaveformOverview&) const = default;

 private:
  void Grow(std::uint64_t frames);
  // Folds `count` samples (whole frames) that start at frame frames_ into the bins.
  template <typename Sample>
  void Fold(const std::byte* samples, std::size_t count);
  void Put(std::uint64_t frame, float low, float high);
  bool Clipped(float low, float high) const;

  int sampleRate_ = 0;
  int channels_ = 0;
  audio::SampleKind kind_ = audio::SampleKind::Int16;
  std::uint64_t frames_ = 0;
  std::uint64_t binFrames_ = 1;
  std::vector<float> mins_;
  std::vector<float> maxs_;
};

// Frames [first, end) of column `index` when `columns` columns show the first `span` frames; at
// least one frame, so a take shorter than its view shows each frame over several columns.
std::pair<std::uint64_t, std::uint64_t> ColumnFrames(std::size_t index, std::size_t columns,
                                                     std::uint64_t span);

// The overview of a take in memory. Empty when `stop` was requested before it was done.
std::optional<WaveformOverview> OverviewOf(const audio::WaveElement& take,
                                           const std::stop_token& stop = {});
// The overview of a take file, read in chunks. Nothing, with *error (plain English, naming the
// file), when it cannot be read; nothing with an empty *error when stopped.
std::optional<WaveformOverview> OverviewOfFile(std::u16string_view path, std::string* error,
                                               const std::stop_token& stop = {});

}  // namespace voxtar::measures
