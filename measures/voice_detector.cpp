// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/voice_detector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace voxtar::measures {

namespace {

using P = VoiceParameters;

// The high band: the channels' mean through (1 + z^-1)^2 (1 - z^-L)^2, a band around
// rate / 2L (6 kHz at 48 kHz with L = 4, -6 dB at about 3 and 9 kHz, -22 dB at 1 kHz, -34 dB at
// 500 Hz) with no feedback, so it costs a few additions per sample and runs in vector lanes.
std::size_t CombLag(int rate) {
  return static_cast<std::size_t>(std::max(1L, std::lround(rate / 12000.0)));
}

// The magnitude of that filter at its peak, found on a grid fine enough for 0.01 dB.
double CombPeakGain(std::size_t lag) {
  double peak = 0.0;
  const int kSteps = 256 * static_cast<int>(lag);
  for (int step = 0; step <= kSteps; ++step) {
    const double w = std::numbers::pi * step / kSteps;
    const double sum = 2.0 * std::cos(w / 2.0);
    const double difference = 2.0 * std::sin(w * static_cast<double>(lag) / 2.0);
    peak = std::max(peak, sum * sum * difference * difference);
  }
  return peak;
}

// Four samples side by side in one vector register (a GCC and Clang extension): the sums of a
// frame run over them, four at a time and in two independent chains, at a fraction of the cost
// of one sample after the other.
using Float4 = float __attribute__((vector_size(16)));

Float4 Load4(const float* samples) {
  Float4 value;
  std::memcpy(&value, samples, sizeof value);
  return value;
}
Float4 Abs4(Float4 value) {
  return value < 0.0f ? -value : value;
}
Float4 Max4(Float4 a, Float4 b) {
  return a > b ? a : b;
}
double Sum4(Float4 value) {
  return static_cast<double>(value[0]) + static_cast<double>(value[1]) +
         static_cast<double>(value[2]) + static_cast<double>(value[3]);
}
float Max4(Float4 value) {
  return std::max({value[0], value[1], value[2], value[3]});
}

// Adds the sum and the sum of squares of `count` samples, and takes in their peak.
void SumsAndPeak(const float* samples, std::size_t count, double* sum, double* squares,
                 float* peak) {
  Float4 sums0 = {};
  Float4 sums1 = {};
  Float4 squares0 = {};
  Float4 squares1 = {};
  Float4 high0 = {};
  Float4 high1 = {};
  std::size_t at = 0;
  for (; at + 8 <= count; at += 8) {
    const Float4 first = Load4(samples + at);
    const Float4 second = Load4(samples + at + 4);
    sums0 += first;
    sums1 += second;
    squares0 += first * first;
    squares1 += second * second;
    high0 = Max4(Abs4(first), high0);  // a NaN is passed over
    high1 = Max4(Abs4(second), high1);
  }
  float last = 0.0f;
  for (; at < count; ++at) {
    *sum += static_cast<double>(samples[at]);
    *squares += static_cast<double>(samples[at] * samples[at]);
    last = std::max(last, std::fabs(samples[at]));
  }
  *sum += Sum4(sums0) + Sum4(sums1);
  *squares += Sum4(squares0) + Sum4(squares1);
  *peak = std::max({*peak, last, Max4(Max4(high0, high1))});
}

// The sum of squares of the high band over mono[from, end), from at least 2L + 2: the filter
// reaches that far back.
double HighBandSquares(const float* mono, std::size_t from, std::size_t end, std::size_t lag) {
  const auto l1 = static_cast<std::ptrdiff_t>(lag);
  const auto l2 = 2 * l1;
  // (1 + z^-1)^2 at x, then (1 - z^-L)^2 over those.
  const auto band = [&](const float* x) {
    const float c0 = x[0] + 2.0f * x[-1] + x[-2];
    const float c1 = x[-l1] + 2.0f * x[-l1 - 1] + x[-l1 - 2];
    const float c2 = x[-l2] + 2.0f * x[-l2 - 1] + x[-l2 - 2];
    return c0 - 2.0f * c1 + c2;
  };
  const auto band4 = [&](const float* x) {
    const Float4 c0 = Load4(x) + 2.0f * Load4(x - 1) + Load4(x - 2);
    const Float4 c1 = Load4(x - l1) + 2.0f * Load4(x - l1 - 1) + Load4(x - l1 - 2);
    const Float4 c2 = Load4(x - l2) + 2.0f * Load4(x - l2 - 1) + Load4(x - l2 - 2);
    return c0 - 2.0f * c1 + c2;
  };
  Float4 sums0 = {};
  Float4 sums1 = {};
  std::size_t n = from;
  for (; n + 8 <= end; n += 8) {
    const Float4 first = band4(mono + n);
    const Float4 second = band4(mono + n + 4);
    sums0 += first * first;
    sums1 += second * second;
  }
  double total = Sum4(sums0) + Sum4(sums1);
  for (; n < end; ++n) {
    const float y = band(mono + n);
    total += static_cast<double>(y * y);
  }
  return total;
}

double LevelDb(float energy) {
  return energy > 0.0f ? 10.0 * std::log10(static_cast<double>(energy)) : FloorTracker::kLowestDb;
}

std::size_t FramesInWindow() {
  return P::kFloorWindowMs / P::kFrameMs;
}

// The level at the percentile of these frames' levels.
template <typename Level>
std::optional<double> Percentile(std::span<const VoiceFrameLevels> frames, Level level) {
  if (frames.empty()) {
    return std::nullopt;
  }
  std::vector<double> levels;
  levels.reserve(frames.size());
  for (const VoiceFrameLevels& frame : frames) {
    levels.push_back(level(frame));
  }
  const auto rank =
      static_cast<std::size_t>(std::ceil(P::kFloorPercentile * static_cast<double>(levels.size())));
  const auto nth = levels.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(rank, 1) - 1);
  std::nth_element(levels.begin(), nth, levels.end());
  return *nth;
}

}  // namespace

// ---- VoiceFrameAnalyzer

VoiceFrameAnalyzer::VoiceFrameAnalyzer(int sampleRate, int channels)
    : sampleRate_(std::max(sampleRate, 1)),
      channels_(std::max(channels, 1)),
      frameLength_(std::max<std::uint64_t>(
          1, static_cast<std::uint64_t>(sampleRate_) * P::kFrameMs / 1000u)),
      lag_(CombLag(sampleRate_)),
      highGain_(static_cast<float>(1.0 / CombPeakGain(lag_))),
      reach_(2 * lag_ + 2) {
  mono_.assign(static_cast<std::size_t>(frameLength_), 0.0f);
}

void VoiceFrameAnalyzer::AddSamples(const float* samples, std::size_t frames) {
  const auto channels = static_cast<std::size_t>(channels_);
  float* mono = mono_.data() + static_cast<std::size_t>(filled_);
  if (channels == 1) {
    SumsAndPeak(samples, frames, &monoSum_, &monoSquares_, &peak_);
    std::copy(samples, samples + frames, mono);
  } else {
    double sum = 0.0;
    SumsAndPeak(samples, frames * channels, &sum, &sumSquares_, &peak_);
    const float scale = 1.0f / static_cast<float>(channels);
    for (std::size_t n = 0; n < frames; ++n) {
      float mix = 0.0f;
      for (std::size_t c = 0; c < channels; ++c) {
        mix += samples[n * channels + c];
      }
      mono[n] = mix * scale;
      monoSum_ += static_cast<double>(mono[n]);
      monoSquares_ += static_cast<double>(mono[n] * mono[n]);
    }
  }
  filled_ += frames;
}

VoiceFrameLevels VoiceFrameAnalyzer::Complete() {
  const auto filled = static_cast<std::size_t>(filled_);
  const auto count = static_cast<double>(filled);
  // The band of the frame's own samples: none of the last frame's rings on into this one (the
  // end of a voice stays where it is), and a frame too short for the filter has none.
  const double high = filled > reach_ ? HighBandSquares(mono_.data(), reach_, filled, lag_) : 0.0;
  VoiceFrameLevels levels;
  const double squares = channels_ == 1 ? monoSquares_ : sumSquares_;
  levels.energy = static_cast<float>(squares / (count * channels_));
  const double mean = monoSum_ / count;
  levels.acEnergy = static_cast<float>(std::max(0.0, monoSquares_ / count - mean * mean));
  levels.highEnergy =
      filled > reach_
          ? static_cast<float>(high / static_cast<double>(filled - reach_)) * highGain_ * highGain_
          : 0.0f;
  levels.peak = peak_;
  levels.length = static_cast<std::uint32_t>(filled);
  // A float take may hold infinities or NaN: such a frame counts as full scale, never as room.
  if (!std::isfinite(levels.energy) || !std::isfinite(levels.acEnergy) ||
      !std::isfinite(levels.highEnergy)) {
    levels.energy = levels.acEnergy = levels.highEnergy = 1.0f;
  }
  sumSquares_ = monoSum_ = monoSquares_ = 0.0;
  peak_ = 0.0f;
  filled_ = 0;
  return levels;
}

void VoiceFrameAnalyzer::Feed(std::span<const float> block, std::vector<VoiceFrameLevels>* frames) {
  const auto channels = static_cast<std::size_t>(channels_);
  // A sample frame split between blocks first.
  if (!partial_.empty()) {
    const std::size_t missing = std::min(channels - partial_.size(), block.size());
    partial_.insert(partial_.end(), block.begin(),
                    block.begin() + static_cast<std::ptrdiff_t>(missing));
    block = block.subspan(missing);
    if (partial_.size() < channels) {
      return;
    }
    AddSamples(partial_.data(), 1);
    partial_.clear();
    if (filled_ == frameLength_) {
      frames->push_back(Complete());
    }
  }
  std::size_t whole = block.size() / channels;
  const float* samples = block.data();
  while (whole > 0) {
    const auto take =
        static_cast<std::size_t>(std::min<std::uint64_t>(whole, frameLength_ - filled_));
    AddSamples(samples, take);
    samples += take * channels;
    whole -= take;
    if (filled_ == frameLength_) {
      frames->push_back(Complete());
    }
  }
  partial_.assign(samples, block.data() + block.size());
}

std::optional<VoiceFrameLevels> VoiceFrameAnalyzer::Flush() {
  partial_.clear();
  if (filled_ == 0) {
    return std::nullopt;
  }
  return Complete();
}

// ---- FloorTracker

FloorTracker::FloorTracker(std::size_t window)
    : counts_(static_cast<std::size_t>((kHighestDb - kLowestDb) / kStepDb) + 1, 0),
      ring_(std::max<std::size_t>(window, 1), 0),
      window_(std::max<std::size_t>(window, 1)) {}

std::size_t FloorTracker::BinOf(double levelDb) const {
  const double bin = std::floor((std::clamp(levelDb, kLowestDb, kHighestDb) - kLowestDb) / kStepDb);
  return std::min(static_cast<std::size_t>(bin), counts_.size() - 1);
}

void FloorTracker::Add(double levelDb) {
  const std::size_t bin = BinOf(levelDb);
  if (size_ == window_) {
    const std::size_t old = ring_[next_];
    --counts_[old];
    below_ -= old < bin_ ? 1 : 0;
  } else {
    ++size_;
  }
  ring_[next_] = static_cast<std::uint16_t>(bin);
  ++counts_[bin];
  below_ += bin < bin_ ? 1 : 0;
  next_ = (next_ + 1) % window_;
  Settle();
}

void FloorTracker::Fill(double levelDb) {
  std::fill(counts_.begin(), counts_.end(), 0u);
  const std::size_t bin = BinOf(levelDb);
  std::fill(ring_.begin(), ring_.end(), static_cast<std::uint16_t>(bin));
  counts_[bin] = static_cast<std::uint32_t>(window_);
  size_ = window_;
  next_ = 0;
  bin_ = bin;
  below_ = 0;
}

void FloorTracker::Settle() {
  const auto rank = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::ceil(P::kFloorPercentile * static_cast<double>(size_))));
  while (below_ >= rank) {
    --bin_;
    below_ -= counts_[bin_];
  }
  while (below_ + counts_[bin_] < rank) {
    below_ += counts_[bin_];
    ++bin_;
  }
}

std::optional<double> FloorTracker::floorDb() const {
  if (size_ == 0) {
    return std::nullopt;
  }
  const double level = kLowestDb + (static_cast<double>(bin_) + 0.5) * kStepDb;
  return std::clamp(level + P::kFloorBiasDb, P::kMinFloorDb, P::kMaxFloorDb);
}

// ---- VoiceDetector

VoiceDetector::VoiceDetector(int sampleRate, int channels)
    : analyzer_(sampleRate, channels), floor_(FramesInWindow()), highFloor_(FramesInWindow()) {}

std::uint64_t VoiceDetector::FramesOfMs(std::uint32_t ms) const {
  return static_cast<std::uint64_t>(analyzer_.sampleRate()) * ms / 1000u;
}

void VoiceDetector::Prime(std::span<const float> room) {
  VoiceFrameAnalyzer analyzer(analyzer_.sampleRate(), analyzer_.channels());
  std::vector<VoiceFrameLevels> frames;
  analyzer.Feed(room, &frames);
  if (const std::optional<VoiceFrameLevels> last = analyzer.Flush()) {
    frames.push_back(*last);
  }
  PrimeFloor(frames);
}

void VoiceDetector::PrimeFloor(std::span<const VoiceFrameLevels> frames) {
  const std::optional<double> level =
      Percentile(frames, [](const VoiceFrameLevels& frame) { return LevelDb(frame.acEnergy); });
  const std::optional<double> high =
      Percentile(frames, [](const VoiceFrameLevels& frame) { return LevelDb(frame.highEnergy); });
  if (level && high) {
    floor_.Fill(*level);
    highFloor_.Fill(*high);
  }
}

std::span<const VoiceEvent> VoiceDetector::Feed(std::span<const float> block) {
  events_.clear();
  decisions_.clear();
  if (finished_) {
    return {};
  }
  frames_.clear();
  analyzer_.Feed(block, &frames_);
  for (const VoiceFrameLevels& frame : frames_) {
    Decide(frame);
  }
  return events_;
}

std::span<const VoiceEvent> VoiceDetector::Feed(std::span<const std::byte> block,
                                                audio::SampleKind kind) {
  audio::DecodeSamples(kind, block, &decoded_);
  return Feed(decoded_);
}

std::span<const VoiceEvent> VoiceDetector::Push(const VoiceFrameLevels& frame) {
  events_.clear();
  decisions_.clear();
  if (!finished_) {
    Decide(frame);
  }
  return events_;
}

std::span<const VoiceEvent> VoiceDetector::Finish() {
  events_.clear();
  decisions_.clear();
  if (finished_) {
    return {};
  }
  if (const std::optional<VoiceFrameLevels> last = analyzer_.Flush()) {
    Decide(*last);
  }
  if (state_ == State::Voice) {
    EndVoice();
  }
  finished_ = true;
  return events_;
}

void VoiceDetector::Decide(const VoiceFrameLevels& frame) {
  const double level = LevelDb(frame.acEnergy);
  const double high = LevelDb(frame.highEnergy);
  const std::optional<double> floor = floor_.floorDb();
  const std::optional<double> highFloor = highFloor_.floorDb();
  const bool loud = floor && level >= *floor + P::kStartDb;
  const bool active = loud || (floor && level >= *floor + P::kContinueDb) ||
                      (highFloor && high >= *highFloor + P::kHighContinueDb);
  const std::uint64_t first = position_;
  const std::uint64_t end = position_ + frame.length;
  decisions_.push_back({first, frame.length, active, loud, floor, highFloor});
  floor_.Add(level);
  highFloor_.Add(high);
  position_ = end;

  if (state_ == State::Voice) {
    // Voice resumes after a pause only with a run as long as one that begins a voice: a click
    // or a key pressed after the last word does not lengthen it.
    runActive_ = active ? runActive_ + 1 : 0;
    if (runActive_ >= P::kMinStartFrames) {
      lastVoiced_ = end;
    } else if (!active && end - *lastVoiced_ > FramesOfMs(P::kHangoverMs)) {
      EndVoice();
    }
    return;
  }
  // The rise that leads to an onset, through short gaps.
  const bool rising =
      (floor && level >= *floor + P::kRiseDb) || (highFloor && high >= *highFloor + P::kRiseDb);
  if (rising) {
    if (!riseFirst_ || riseGap_ > FramesOfMs(P::kRiseGapMs)) {
      riseFirst_ = first;
    }
    riseGap_ = 0;
  } else {
    riseGap_ += frame.length;
  }
  if (!active) {
    runLoud_ = 0;
    return;
  }
  if (loud && runLoud_++ == 0) {
    runFirstLoud_ = first;
  }
  if (runLoud_ >= P::kMinStartFrames) {
    // Whole frames, so that a span begins where a frame does.
    const std::uint64_t lookback = frameLength() * (P::kLookbackMs / P::kFrameMs);
    onset_ = std::max(riseFirst_.value_or(runFirstLoud_),
                      runFirstLoud_ > lookback ? runFirstLoud_ - lookback : 0);
    lastVoiced_ = end;
    state_ = State::Voice;
    runActive_ = runLoud_;
    runLoud_ = 0;
    riseFirst_.reset();
    events_.push_back({VoiceEvent::Kind::Onset, onset_});
  }
}

void VoiceDetector::EndVoice() {
  spans_.push_back({onset_, *lastVoiced_});
  spansVoiced_ += *lastVoiced_ - onset_;
  events_.push_back({VoiceEvent::Kind::End, *lastVoiced_});
  state_ = State::Quiet;
}

std::optional<std::uint64_t> VoiceDetector::voiceSince() const {
  return state_ == State::Voice ? std::optional<std::uint64_t>(onset_) : std::nullopt;
}

std::uint64_t VoiceDetector::silenceFrames() const {
  return position_ - lastVoiced_.value_or(0);
}

std::uint32_t VoiceDetector::silenceMs() const {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(
      silenceFrames() * 1000u / static_cast<std::uint64_t>(analyzer_.sampleRate()), UINT32_MAX));
}

std::uint64_t VoiceDetector::voicedFrames() const {
  return spansVoiced_ + (state_ == State::Voice ? *lastVoiced_ - onset_ : 0);
}

}  // namespace voxtar::measures
