// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/waveform_overview.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "audio/sound_file.h"
#include "platform/file_system.h"
#include "platform/utf8.h"

namespace voxtar::measures {

namespace {

constexpr float kNone = std::numeric_limits<float>::infinity();
// Frames read from a file at a time.
constexpr sf_count_t kChunkFrames = 16384;

// A sample of each memory kind as a fraction of full scale. Each is monotonic, so the fraction of
// the lowest raw sample is the lowest fraction.
float Fraction(std::uint8_t raw) {
  return static_cast<float>(static_cast<int>(raw) - 128) / 128.0f;
}
float Fraction(std::int16_t raw) {
  return static_cast<float>(raw) / 32768.0f;
}
float Fraction(std::int32_t raw) {
  return static_cast<float>(raw) / 2147483648.0f;
}
float Fraction(float raw) {
  return raw;
}

// The lowest and highest of `count` samples; copied out byte-wise, as a captured block need not
// be aligned for its kind. A float NaN is passed over (a bin of nothing else stays empty). Runs
// of a fixed number of samples, each sample to its own lane, so the compiler vectorizes them.
template <typename Sample>
std::pair<Sample, Sample> LowHigh(const std::byte* data, std::size_t count) {
  constexpr std::size_t kLanes = 64 / sizeof(Sample);
  std::array<Sample, kLanes> low;
  std::array<Sample, kLanes> high;
  low.fill(std::numeric_limits<Sample>::max());
  high.fill(std::numeric_limits<Sample>::lowest());
  const auto fold = [&](const std::byte* run, std::size_t lanes) {
    std::array<Sample, kLanes> values;
    std::memcpy(values.data(), run, lanes * sizeof(Sample));
    for (std::size_t lane = 0; lane < lanes; ++lane) {
      low[lane] = values[lane] < low[lane] ? values[lane] : low[lane];
      high[lane] = values[lane] > high[lane] ? values[lane] : high[lane];
    }
  };
  std::size_t at = 0;
  for (; at + kLanes <= count; at += kLanes) {
    fold(data + at * sizeof(Sample), kLanes);
  }
  fold(data + at * sizeof(Sample), count - at);
  Sample lowest = low[0];
  Sample highest = high[0];
  for (std::size_t lane = 1; lane < kLanes; ++lane) {
    lowest = low[lane] < lowest ? low[lane] : lowest;
    highest = high[lane] > highest ? high[lane] : highest;
  }
  return {lowest, highest};
}

// Reads up to `frames` frames of the open file into `to`, as samples of `kind` (8-bit through
// 16 bits, as the element reads them); how many frames came.
sf_count_t ReadChunk(SNDFILE* file, audio::SampleKind kind, std::size_t channels,
                     std::vector<short>& shorts, std::byte* to) {
  switch (kind) {
    case audio::SampleKind::UInt8: {
      const sf_count_t got = sf_readf_short(file, shorts.data(), kChunkFrames);
      const std::size_t count = static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * channels;
      std::transform(shorts.begin(), shorts.begin() + static_cast<std::ptrdiff_t>(count), to,
                     [](short value) { return static_cast<std::byte>((value >> 8) + 128); });
      return got;
    }
    case audio::SampleKind::Int16:
      return sf_readf_short(file, reinterpret_cast<short*>(to), kChunkFrames);
    case audio::SampleKind::Int32:
      return sf_readf_int(file, reinterpret_cast<int*>(to), kChunkFrames);
    case audio::SampleKind::Float:
      return sf_readf_float(file, reinterpret_cast<float*>(to), kChunkFrames);
  }
  return 0;
}

}  // namespace

WaveformOverview::WaveformOverview(int sampleRate, int channels, audio::SampleKind kind,
                                   std::uint64_t expectedFrames)
    : sampleRate_(sampleRate), channels_(std::max(channels, 1)), kind_(kind) {
  while ((expectedFrames + binFrames_ - 1) / binFrames_ > kMaxBins) {
    binFrames_ *= 2;
  }
  const auto bins = static_cast<std::size_t>((expectedFrames + binFrames_ - 1) / binFrames_);
  mins_.reserve(bins);
  maxs_.reserve(bins);
}

std::uint32_t WaveformOverview::lengthMs() const {
  if (sampleRate_ <= 0) {
    return 0;
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(
      frames_ * 1000u / static_cast<std::uint64_t>(sampleRate_), UINT32_MAX));
}

float WaveformOverview::peak() const {
  float peak = 0.0f;
  for (std::size_t bin = 0; bin < mins_.size(); ++bin) {
    peak = std::max({peak, -mins_[bin], maxs_[bin]});
  }
  return peak;
}

bool WaveformOverview::clipped() const {
  for (std::size_t bin = 0; bin < mins_.size(); ++bin) {
    if (Clipped(mins_[bin], maxs_[bin])) {
      return true;
    }
  }
  return false;
}

bool WaveformOverview::Clipped(float low, float high) const {
  const double clipHigh = kind_ == audio::SampleKind::UInt8 ? 127.0 / 128.0 : audio::kClipFraction;
  return static_cast<double>(high) >= clipHigh || static_cast<double>(low) <= -audio::kClipFraction;
}

std::optional<WaveColumn> WaveformOverview::Column(std::uint64_t from, std::uint64_t to) const {
  if (from >= frames_) {
    return std::nullopt;
  }
  const auto first = static_cast<std::size_t>(from / binFrames_);
  const auto end = static_cast<std::size_t>(
      std::min<std::uint64_t>((std::max(to, from + 1) + binFrames_ - 1) / binFrames_, bins()));
  WaveColumn column{kNone, -kNone, false};
  for (std::size_t bin = first; bin < end; ++bin) {
    column.min = std::min(column.min, mins_[bin]);
    column.max = std::max(column.max, maxs_[bin]);
  }
  column.clipped = Clipped(column.min, column.max);
  return column;
}

void WaveformOverview::Grow(std::uint64_t frames) {
  // Coarser bins, each the merge of two neighbours, until the take fits.
  while ((frames + binFrames_ - 1) / binFrames_ > kMaxBins) {
    const std::size_t merged = (mins_.size() + 1) / 2;
    for (std::size_t bin = 0; bin < merged; ++bin) {
      const std::size_t second = std::min(2 * bin + 1, mins_.size() - 1);
      mins_[bin] = std::min(mins_[2 * bin], mins_[second]);
      maxs_[bin] = std::max(maxs_[2 * bin], maxs_[second]);
    }
    mins_.resize(merged);
    maxs_.resize(merged);
    binFrames_ *= 2;
  }
  const auto bins = static_cast<std::size_t>((frames + binFrames_ - 1) / binFrames_);
  mins_.resize(bins, kNone);
  maxs_.resize(bins, -kNone);
}

void WaveformOverview::Put(std::uint64_t frame, float low, float high) {
  const auto bin = static_cast<std::size_t>(frame / binFrames_);
  mins_[bin] = std::min(mins_[bin], low);
  maxs_[bin] = std::max(maxs_[bin], high);
}

template <typename Sample>
void WaveformOverview::Fold(const std::byte* samples, std::size_t count) {
  const auto channels = static_cast<std::size_t>(channels_);
  const std::uint64_t end = frames_ + count / channels;
  Grow(end);
  for (std::uint64_t at = frames_; at < end;) {
    const std::uint64_t run = std::min(end - at, binFrames_ - at % binFrames_);
    const auto [low, high] = LowHigh<Sample>(samples, static_cast<std::size_t>(run) * channels);
    Put(at, Fraction(low), Fraction(high));
    samples += static_cast<std::size_t>(run) * channels * sizeof(Sample);
    at += run;
  }
  frames_ = end;
}

void WaveformOverview::Append(std::span<const std::byte> block) {
  const std::size_t frameBytes = audio::BytesPerSample(kind_) * static_cast<std::size_t>(channels_);
  const std::size_t count = block.size() / frameBytes * static_cast<std::size_t>(channels_);
  if (count == 0) {
    return;
  }
  switch (kind_) {
    case audio::SampleKind::UInt8:
      Fold<std::uint8_t>(block.data(), count);
      break;
    case audio::SampleKind::Int16:
      Fold<std::int16_t>(block.data(), count);
      break;
    case audio::SampleKind::Int32:
      Fold<std::int32_t>(block.data(), count);
      break;
    case audio::SampleKind::Float:
      Fold<float>(block.data(), count);
      break;
  }
}

void WaveformOverview::Append(const audio::LevelSummary& summary) {
  if (summary.frames == 0) {
    return;
  }
  const auto peak = static_cast<float>(summary.peak);
  const std::uint64_t end = frames_ + summary.frames;
  Grow(end);
  for (std::uint64_t at = frames_; at < end; at += binFrames_ - at % binFrames_) {
    Put(at, -peak, peak);
  }
  frames_ = end;
}

std::pair<std::uint64_t, std::uint64_t> ColumnFrames(std::size_t index, std::size_t columns,
                                                     std::uint64_t span) {
  if (columns == 0) {
    return {0, 0};
  }
  const std::uint64_t first = span * index / columns;
  return {first, std::max(first + 1, span * (index + 1) / columns)};
}

std::optional<WaveformOverview> OverviewOf(const audio::WaveElement& take,
                                           const std::stop_token& stop) {
  WaveformOverview overview(take.sampleRate, take.channels, take.kind, take.frames());
  const bool whole =
      take.samples.ForEachSpan(0, take.frames(), [&](std::span<const std::byte> span) {
        if (stop.stop_requested()) {
          return false;
        }
        overview.Append(span);
        return true;
      });
  if (!whole) {
    return std::nullopt;
  }
  return overview;
}

std::optional<WaveformOverview> OverviewOfFile(std::u16string_view path, std::string* error,
                                               const std::stop_token& stop) {
  error->clear();
  audio::SoundFileReader file;
  if (!file.Open(path, error)) {
    return std::nullopt;
  }
  const SF_INFO& info = file.info();
  const audio::SampleKind kind = audio::SampleKindFor(info.format);
  const auto channels = static_cast<std::size_t>(info.channels);
  WaveformOverview overview(info.samplerate, info.channels, kind,
                            static_cast<std::uint64_t>(std::max<sf_count_t>(info.frames, 0)));
  std::vector<short> shorts(
      kind == audio::SampleKind::UInt8 ? static_cast<std::size_t>(kChunkFrames) * channels : 0);
  std::vector<std::byte> chunk(static_cast<std::size_t>(kChunkFrames) * channels *
                               audio::BytesPerSample(kind));
  for (;;) {
    if (stop.stop_requested()) {
      return std::nullopt;
    }
    const sf_count_t got = ReadChunk(file.handle(), kind, channels, shorts, chunk.data());
    if (got > 0) {
      overview.Append(std::span(chunk).first(static_cast<std::size_t>(got) * channels *
                                             audio::BytesPerSample(kind)));
    }
    if (got < kChunkFrames) {
      break;
    }
  }
  if (sf_error(file.handle()) != SF_ERR_NO_ERROR) {
    *error = "The sound file is damaged and cannot be read: " + platform::ToUtf8(path) + " (" +
             file.LastError() + ")";
    return std::nullopt;
  }
  return overview;
}

}  // namespace voxtar::measures
