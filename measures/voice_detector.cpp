#include "measures/voice_detector.h"

#include <algorithm>
#include <array>
#include <cmath>
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

// The magnitude of that filter at its peak.
double CombPeakGain(std::size_t lag) {
  double peak = 0.0;
  constexpr int kSteps = 2048;
  for (int step = 0; step <= kSteps; ++step) {
    const double w = std::numbers::pi * step / kSteps;
    const double sum = 2.0 * std::cos(w / 2.0);
    const double difference = 2.0 * std::sin(w * static_cast<double>(lag) / 2.0);
    peak = std::max(peak, sum * sum * difference * difference);
  }
  return peak;
}

// Lanes of independent sums, which the compiler turns into vector instructions.
constexpr std::size_t kLanes = 8;

// The sum of squares and the peak of `count` samples.
void SquaresAndPeak(const float* samples, std::size_t count, double* squares, float* peak) {
  std::array<float, kLanes> sum{};
  std::array<float, kLanes> high{};
  std::size_t at = 0;
  for (; at + kLanes <= count; at += kLanes) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      const float value = samples[at + lane];
      const float magnitude = value < 0.0f ? -value : value;
      sum[lane] += value * value;
      high[lane] = magnitude > high[lane] ? magnitude : high[lane];
    }
  }
  for (; at < count; ++at) {
    const float magnitude = std::fabs(samples[at]);
    sum[0] += samples[at] * samples[at];
    high[0] = magnitude > high[0] ? magnitude : high[0];
  }
  double total = 0.0;
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    total += static_cast<double>(sum[lane]);
    *peak = std::max(*peak, high[lane]);
  }
  *squares += total;
}

// The sum of squares of the high band over mono[from, end); mono[from - 2L - 2, from) is history.
double HighBandSquares(const float* mono, std::size_t from, std::size_t end, std::size_t lag) {
  const std::size_t l1 = lag;
  const std::size_t l2 = 2 * lag;
  const auto band = [&](std::size_t n) {
    const float* x = mono + n;
    const float c0 = x[0] + 2.0f * x[-1] + x[-2];
    const float c1 = x[-static_cast<std::ptrdiff_t>(l1)] +
                     2.0f * x[-static_cast<std::ptrdiff_t>(l1 + 1)] +
                     x[-static_cast<std::ptrdiff_t>(l1 + 2)];
    const float c2 = x[-static_cast<std::ptrdiff_t>(l2)] +
                     2.0f * x[-static_cast<std::ptrdiff_t>(l2 + 1)] +
                     x[-static_cast<std::ptrdiff_t>(l2 + 2)];
    return c0 - 2.0f * c1 + c2;
  };
  std::array<float, kLanes> sum{};
  std::size_t n = from;
  for (; n + kLanes <= end; n += kLanes) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      const float y = band(n + lane);
      sum[lane] += y * y;
    }
  }
  for (; n < end; ++n) {
    const float y = band(n);
    sum[0] += y * y;
  }
  double total = 0.0;
  for (const float lane : sum) {
    total += static_cast<double>(lane);
  }
  return total;
}

// The sum of squares of mono[from, end) less their mean.
double AcSquares(const float* mono, std::size_t from, std::size_t end) {
  std::array<float, kLanes> sum{};
  std::size_t n = from;
  for (; n + kLanes <= end; n += kLanes) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      sum[lane] += mono[n + lane];
    }
  }
  double total = 0.0;
  for (; n < end; ++n) {
    total += static_cast<double>(mono[n]);
  }
  for (const float lane : sum) {
    total += static_cast<double>(lane);
  }
  const auto mean = static_cast<float>(total / static_cast<double>(end - from));
  std::array<float, kLanes> squares{};
  n = from;
  for (; n + kLanes <= end; n += kLanes) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      const float value = mono[n + lane] - mean;
      squares[lane] += value * value;
    }
  }
  double result = 0.0;
  for (; n < end; ++n) {
    const float value = mono[n] - mean;
    result += static_cast<double>(value * value);
  }
  for (const float lane : squares) {
    result += static_cast<double>(lane);
  }
  return result;
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
  const auto rank = static_cast<std::size_t>(
      std::ceil(P::kFloorPercentile * static_cast<double>(levels.size())));
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
      history_(2 * lag_ + 2) {
  mono_.assign(history_ + static_cast<std::size_t>(frameLength_), 0.0f);
}

void VoiceFrameAnalyzer::AddSamples(const float* samples, std::size_t frames) {
  const auto channels = static_cast<std::size_t>(channels_);
  SquaresAndPeak(samples, frames * channels, &sumSquares_, &peak_);
  float* mono = mono_.data() + history_ + static_cast<std::size_t>(filled_);
  if (channels == 1) {
    std::copy(samples, samples + frames, mono);
  } else {
    const float scale = 1.0f / static_cast<float>(channels);
    for (std::size_t n = 0; n < frames; ++n) {
      float sum = 0.0f;
      for (std::size_t c = 0; c < channels; ++c) {
        sum += samples[n * channels + c];
      }
      mono[n] = sum * scale;
    }
  }
  filled_ += frames;
}

VoiceFrameLevels VoiceFrameAnalyzer::Complete() {
  const auto filled = static_cast<std::size_t>(filled_);
  const double high = HighBandSquares(mono_.data(), history_, history_ + filled, lag_);
  const double ac = AcSquares(mono_.data(), history_, history_ + filled);
  VoiceFrameLevels levels;
  levels.energy = static_cast<float>(sumSquares_ / (static_cast<double>(filled) * channels_));
  levels.acEnergy = static_cast<float>(ac / static_cast<double>(filled));
  levels.highEnergy =
      static_cast<float>(high / static_cast<double>(filled)) * highGain_ * highGain_;
  levels.peak = peak_;
  levels.length = static_cast<std::uint32_t>(filled);
  // A float take may hold infinities or NaN: such a frame counts as full scale, never as room.
  if (!std::isfinite(levels.energy) || !std::isfinite(levels.acEnergy) ||
      !std::isfinite(levels.highEnergy)) {
    levels.energy = levels.acEnergy = levels.highEnergy = 1.0f;
  }
  // The last samples are the next frame's history.
  std::copy(mono_.begin() + static_cast<std::ptrdiff_t>(filled),
            mono_.begin() + static_cast<std::ptrdiff_t>(filled + history_), mono_.begin());
  sumSquares_ = 0.0;
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
    const auto take = static_cast<std::size_t>(
        std::min<std::uint64_t>(whole, frameLength_ - filled_));
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
    --counts_[ring_[next_]];
  } else {
    ++size_;
  }
  ring_[next_] = static_cast<std::uint16_t>(bin);
  ++counts_[bin];
  next_ = (next_ + 1) % window_;
}

void FloorTracker::Fill(double levelDb) {
  std::fill(counts_.begin(), counts_.end(), 0u);
  const std::size_t bin = BinOf(levelDb);
  std::fill(ring_.begin(), ring_.end(), static_cast<std::uint16_t>(bin));
  counts_[bin] = static_cast<std::uint32_t>(window_);
  size_ = window_;
  next_ = 0;
}

std::optional<double> FloorTracker::floorDb() const {
  if (size_ == 0) {
    return std::nullopt;
  }
  const auto rank = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::ceil(P::kFloorPercentile * static_cast<double>(size_))));
  std::size_t seen = 0;
  std::size_t bin = 0;
  for (; bin + 1 < counts_.size(); ++bin) {
    seen += counts_[bin];
    if (seen >= rank) {
      break;
    }
  }
  const double level = kLowestDb + (static_cast<double>(bin) + 0.5) * kStepDb;
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
  const bool rising = (floor && level >= *floor + P::kRiseDb) ||
                      (highFloor && high >= *highFloor + P::kRiseDb);
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
