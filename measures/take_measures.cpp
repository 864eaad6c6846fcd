// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/take_measures.h"

#include <ebur128.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/sound_file.h"
#include "lesson/lesson.h"
#include "platform/file_system.h"

namespace voxtar::measures {

namespace {

using audio::ToDbfs;

// Samples read per chunk (whole windows, at least one): constant memory whatever the length.
constexpr std::size_t kChunkSamples = 32768;

std::string_view SubFormatName(int subFormat) {
  switch (subFormat) {
    case SF_FORMAT_PCM_U8:
      return "8-bit";
    case SF_FORMAT_PCM_S8:
      return "8-bit signed";
    case SF_FORMAT_PCM_16:
      return "16-bit";
    case SF_FORMAT_PCM_24:
      return "24-bit";
    case SF_FORMAT_PCM_32:
      return "32-bit";
    case SF_FORMAT_FLOAT:
      return "32-bit float";
    case SF_FORMAT_DOUBLE:
      return "64-bit float";
    case SF_FORMAT_ULAW:
      return "u-law";
    case SF_FORMAT_ALAW:
      return "A-law";
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
      return "ADPCM";
    case SF_FORMAT_GSM610:
      return "GSM";
    default:
      return "other encoding";
  }
}

// A C library's message as UTF-8.
std::string Utf8Text(const char* bytes) {
  const std::string_view text(bytes);
  return platform::IsValidUtf8(text) ? std::string(text)
                                     : platform::ToUtf8(platform::FromUtf8(text));
}

// "SENTENCE: PATH (CAUSE)", the cause left out when empty.
std::string FileError(std::string_view sentence, std::u16string_view path,
                      const std::string& cause = {}) {
  std::string text(sentence);
  text += ": " + platform::ToUtf8(path);
  return cause.empty() ? text : text + " (" + cause + ")";
}

// A sample at or above this counts as clipped: 99.9 % of full scale, or the largest value of an
// 8-bit format (127/128). The negative full scale always reaches -99.9 %.
double ClipLevel(int subFormat) {
  const bool eightBit = subFormat == SF_FORMAT_PCM_U8 || subFormat == SF_FORMAT_PCM_S8;
  return eightBit ? 127.0 / 128.0 : audio::kClipFraction;
}

// Samples at or beyond the clip level, either way.
std::uint64_t CountClipped(const float* samples, std::size_t count, double clipLevel) {
  std::uint64_t clipped = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto value = static_cast<double>(samples[i]);
    clipped += value >= clipLevel || value <= -audio::kClipFraction ? 1u : 0u;
  }
  return clipped;
}

// Sums over the frames of a take that are voice, or room.
struct FrameSums {
  double sumSquares = 0.0;
  double peak = 0.0;
  std::uint64_t samples = 0;

  void Add(const VoiceFrameLevels& frame, std::size_t channels) {
    const std::uint64_t count = std::uint64_t{frame.length} * channels;
    sumSquares += static_cast<double>(frame.energy) * static_cast<double>(count);
    peak = std::max(peak, static_cast<double>(frame.peak));
    samples += count;
  }
  double rms() const {
    return samples > 0 ? std::sqrt(sumSquares / static_cast<double>(samples)) : 0.0;
  }
};

// Where the voice lies in a take whose frames are all measured, and the levels of its voice
// and its room: the detector is primed from the take's own quiet frames (so that a take that
// begins in a word is found cut) and then decides frame by frame. Voice is the voice-like frames
// inside a span, in runs as long as one that begins a voice (a click between two words is not
// the voice's peak); room is every frame outside the spans (pauses inside a span, stop closures
// and breaths, are neither).
struct VoiceFound {
  std::vector<VoiceSpan> spans;
  FrameSums voice;
  FrameSums room;
};
VoiceFound FindVoice(const std::vector<VoiceFrameLevels>& frames, int rate, int channels) {
  VoiceDetector detector(rate, channels);
  detector.PrimeFloor(frames);
  std::vector<bool> active(frames.size());
  std::size_t run = 0;
  const auto endRun = [&](std::size_t end) {
    if (run < static_cast<std::size_t>(VoiceParameters::kMinStartFrames)) {
      std::fill_n(active.begin() + static_cast<std::ptrdiff_t>(end - run),
                  static_cast<std::ptrdiff_t>(run), false);
    }
    run = 0;
  };
  for (std::size_t k = 0; k < frames.size(); ++k) {
    detector.Push(frames[k]);
    active[k] = detector.decisions().front().active;
    if (active[k]) {
      ++run;
    } else {
      endRun(k);
    }
  }
  endRun(frames.size());
  detector.Finish();
  VoiceFound found;
  found.spans = detector.spans();
  const auto perFrame = static_cast<std::size_t>(channels);
  std::uint64_t at = 0;
  auto span = found.spans.begin();
  for (std::size_t k = 0; k < frames.size(); ++k) {
    while (span != found.spans.end() && span->end <= at) {
      ++span;
    }
    const bool inside = span != found.spans.end() && span->first <= at;
    if (!inside) {
      found.room.Add(frames[k], perFrame);
    } else if (active[k]) {
      found.voice.Add(frames[k], perFrame);
    }
    at += frames[k].length;
  }
  return found;
}

struct LoudnessDestroyer {
  void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using LoudnessState = std::unique_ptr<ebur128_state, LoudnessDestroyer>;

// The true peak, found by libebur128 on 4 times the rate (twice at 96 kHz and more), costs far
// more than the rest of the measures together. An interpolated sample is a weighted sum of its
// neighbours whose weights add up to less than kInterpolationGain in magnitude, so no window
// whose sample peak lies that far below the take's peak can hold the take's true peak: only the
// windows near the peak so far are passed on, each run of them with the window before and after
// (the samples its interpolation reaches into, and a junction made only of quiet samples). At
// rates so low that a window is shorter than the interpolation's reach, every window goes.
class TruePeakFinder {
 public:
  static constexpr double kInterpolationGain = 2.5;
  static constexpr std::uint64_t kMinWindowFrames = 64;

  TruePeakFinder(unsigned channels, unsigned long rate, std::uint64_t windowFrames)
      : state_(ebur128_init(channels, rate, EBUR128_MODE_TRUE_PEAK)),
        channels_(channels),
        everyWindow_(windowFrames < kMinWindowFrames) {
    previous_.reserve(static_cast<std::size_t>(windowFrames) * channels);
  }
  bool ready() const { return state_ != nullptr; }

  // The next window of the take; false when libebur128 ran out of memory.
  bool Add(const float* samples, std::size_t frames, double windowPeak) {
    peak_ = std::max(peak_, windowPeak);
    const std::size_t count = frames * channels_;
    if (everyWindow_ || windowPeak * kInterpolationGain >= peak_) {
      if (!previousFed_ && !previous_.empty() && !Feed(previous_.data(), previous_.size())) {
        return false;
      }
      leadOutDue_ = true;
      previousFed_ = true;
      return Feed(samples, count);
    }
    previousFed_ = leadOutDue_;
    if (leadOutDue_) {
      leadOutDue_ = false;
      return Feed(samples, count);
    }
    previous_.assign(samples, samples + count);
    return true;
  }

  // Linear, 1.0 = full scale.
  double TruePeak() const {
    double truePeak = 0.0;
    for (unsigned c = 0; c < channels_; ++c) {
      double channelPeak = 0.0;
      if (ebur128_true_peak(state_.get(), c, &channelPeak) == EBUR128_SUCCESS) {
        truePeak = std::max(truePeak, channelPeak);
      }
    }
    return truePeak;
  }

 private:
  bool Feed(const float* samples, std::size_t count) {
    return ebur128_add_frames_float(state_.get(), samples, count / channels_) == EBUR128_SUCCESS;
  }

  LoudnessState state_;
  unsigned channels_;
  std::vector<float> previous_;  // the last window, when it was not passed on
  bool everyWindow_;
  double peak_ = 0.0;
  bool previousFed_ = false;
  bool leadOutDue_ = false;
};

std::uint32_t MsOf(std::uint64_t frames, int rate) {
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(frames * 1000u / static_cast<std::uint64_t>(rate), UINT32_MAX));
}

// Reads the open file through and fills *m; false with *error when it breaks off.
bool Measure(SNDFILE* file, const SF_INFO& info, std::u16string_view path, TakeMeasures* m,
             std::string* error) {
  const auto channels = static_cast<std::size_t>(info.channels);
  const auto rate = static_cast<unsigned long>(info.samplerate);
  const LoudnessState loudness(
      ebur128_init(static_cast<unsigned>(info.channels), rate,
                   EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM));
  VoiceFrameAnalyzer analyzer(info.samplerate, info.channels);
  const std::uint64_t window = analyzer.frameLength();
  TruePeakFinder truePeak(static_cast<unsigned>(info.channels), rate, window);
  if (!loudness || !truePeak.ready()) {
    *error = FileError("The loudness of the sound file cannot be measured", path,
                       DescribeFormat(m->format));
    return false;
  }
  // Whole frames per chunk, so that no frame but the last is split.
  const std::uint64_t windowsPerChunk =
      std::max<std::uint64_t>(1, kChunkSamples / (window * channels));
  const std::uint64_t chunkFrames = window * windowsPerChunk;
  std::vector<float> chunk(static_cast<std::size_t>(chunkFrames) * channels);
  std::vector<VoiceFrameLevels> frames;
  frames.reserve(static_cast<std::size_t>(std::max<sf_count_t>(info.frames, 0)) / window + 1);

  const double clipLevel = ClipLevel(m->format.subFormat);
  const auto clipCheck = static_cast<float>(std::min(clipLevel, audio::kClipFraction));
  std::uint64_t clipped = 0;
  // The true peak and the clipped samples of each frame, as the analyzer completes it.
  const auto frameDone = [&](const VoiceFrameLevels& levels, const float* samples) {
    clipped += levels.peak >= clipCheck
                   ? CountClipped(samples, std::size_t{levels.length} * channels, clipLevel)
                   : 0;
    return truePeak.Add(samples, levels.length, static_cast<double>(levels.peak));
  };
  for (;;) {
    const sf_count_t got = sf_readf_float(file, chunk.data(), static_cast<sf_count_t>(chunkFrames));
    if (got <= 0) {
      break;
    }
    const auto gotFrames = static_cast<std::size_t>(got);
    if (ebur128_add_frames_float(loudness.get(), chunk.data(), gotFrames) != EBUR128_SUCCESS) {
      *error = FileError("There is not enough memory to measure the sound file", path);
      return false;
    }
    const std::size_t before = frames.size();
    analyzer.Feed(std::span(chunk.data(), gotFrames * channels), &frames);
    const float* samples = chunk.data();
    for (std::size_t k = before; k < frames.size(); ++k) {
      if (!frameDone(frames[k], samples)) {
        *error = FileError("There is not enough memory to measure the sound file", path);
        return false;
      }
      samples += static_cast<std::size_t>(window) * channels;
    }
    if (static_cast<std::uint64_t>(got) < chunkFrames) {
      if (const std::optional<VoiceFrameLevels> last = analyzer.Flush()) {
        frames.push_back(*last);
        if (!frameDone(*last, samples)) {
          *error = FileError("There is not enough memory to measure the sound file", path);
          return false;
        }
      }
      break;
    }
  }
  if (sf_error(file) != SF_ERR_NO_ERROR) {
    *error = "The sound file is damaged and cannot be read: " + Utf8Text(sf_strerror(file));
    return false;
  }

  FrameSums all;
  for (const VoiceFrameLevels& frame : frames) {
    all.Add(frame, channels);
  }
  const std::uint64_t frameCount = all.samples / channels;
  const VoiceFound voice = FindVoice(frames, info.samplerate, info.channels);
  m->frames = frameCount;
  m->durationMs = MsOf(frameCount, info.samplerate);
  m->peakDb = ToDbfs(all.peak);
  m->rmsDb = ToDbfs(all.rms());
  m->voicedPeakDb = ToDbfs(voice.voice.peak);
  m->voicedRmsDb = ToDbfs(voice.voice.rms());
  m->clippedSamples = clipped;
  m->voiced = !voice.spans.empty();
  if (m->voiced) {
    const std::uint64_t first = voice.spans.front().first;
    const std::uint64_t end = voice.spans.back().end;
    m->headMs = MsOf(first, info.samplerate);
    m->tailMs = MsOf(frameCount - end, info.samplerate);
    m->voicedSpanMs = MsOf(end - first, info.samplerate);
  } else {
    m->headMs = m->tailMs = m->durationMs;
    m->voicedSpanMs = 0;
  }
  const std::uint64_t noiseFrames =
      static_cast<std::uint64_t>(info.samplerate) * kMinNoiseMs / 1000u;
  if (voice.room.samples > 0 && voice.room.samples / channels >= noiseFrames) {
    m->noiseFloorDb = ToDbfs(voice.room.rms());
  }
  double lufs = 0.0;
  if (ebur128_loudness_global(loudness.get(), &lufs) == EBUR128_SUCCESS && std::isfinite(lufs)) {
    m->loudnessLufs = lufs;
  }
  double range = 0.0;
  if (m->durationMs >= kMinLoudnessRangeMs &&
      ebur128_loudness_range(loudness.get(), &range) == EBUR128_SUCCESS && std::isfinite(range)) {
    m->loudnessRangeLu = range;
  }
  m->truePeakDbtp = ToDbfs(truePeak.TruePeak());
  return true;
}

}  // namespace

std::string DescribeFormat(const TakeFormat& format) {
  std::string channels;
  if (format.channels == 1) {
    channels = "mono";
  } else if (format.channels == 2) {
    channels = "stereo";
  } else {
    channels = std::to_string(format.channels) + " channels";
  }
  return std::to_string(format.sampleRate) + " Hz, " + channels + ", " +
         std::string(SubFormatName(format.subFormat));
}

bool MeasureTakeFile(std::u16string_view path, TakeMeasures* measures, std::string* error) {
  audio::SoundFileReader file;
  if (!file.Open(path, error)) {
    return false;
  }
  const SF_INFO& info = file.info();
  TakeMeasures measured;
  measured.format = {info.samplerate, info.channels, info.format & SF_FORMAT_SUBMASK};
  if (!Measure(file.handle(), info, path, &measured, error)) {
    return false;
  }
  *measures = measured;
  return true;
}

std::optional<SignalLevels> MeasureSignal(std::span<const float> samples, int channels, int rate,
                                          bool truePeak) {
  const auto perFrame = static_cast<std::size_t>(channels);
  const auto sampleRate = static_cast<unsigned long>(rate);
  const LoudnessState loudness(
      ebur128_init(static_cast<unsigned>(channels), sampleRate,
                   EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM));  // as a take file's, to the digit
  const std::uint64_t window =
      std::max<std::uint64_t>(1, std::uint64_t{sampleRate} * VoiceParameters::kFrameMs / 1000u);
  std::optional<TruePeakFinder> peaks;
  if (truePeak) {
    peaks.emplace(static_cast<unsigned>(channels), sampleRate, window);
  }
  const std::size_t frames = samples.size() / perFrame;
  if (!loudness || (peaks && !peaks->ready()) ||
      ebur128_add_frames_float(loudness.get(), samples.data(), frames) != EBUR128_SUCCESS) {
    return std::nullopt;
  }
  double peak = 0.0;
  for (std::size_t at = 0; at < frames; at += window) {
    const std::size_t count = std::min<std::size_t>(window, frames - at);
    const float* first = samples.data() + at * perFrame;
    double windowPeak = 0.0;
    for (const float* sample = first; sample != first + count * perFrame; ++sample) {
      windowPeak = std::max(windowPeak, std::fabs(static_cast<double>(*sample)));
    }
    peak = std::max(peak, windowPeak);
    if (peaks && !peaks->Add(first, count, windowPeak)) {
      return std::nullopt;
    }
  }
  SignalLevels levels;
  double lufs = 0.0;
  if (ebur128_loudness_global(loudness.get(), &lufs) == EBUR128_SUCCESS && std::isfinite(lufs)) {
    levels.loudnessLufs = lufs;
  }
  if (peaks) {
    levels.truePeakDbtp = ToDbfs(peaks->TruePeak());
  }
  levels.peakDb = ToDbfs(peak);
  return levels;
}

std::optional<double> SpeechRate(const TakeMeasures& measures, std::u16string_view text) {
  if (text.starts_with(lesson::kEditMarker)) {
    text.remove_prefix(lesson::kEditMarker.size());
  }
  // Characters, not UTF-16 units: the second half of a pair does not count.
  const auto characters = std::count_if(
      text.begin(), text.end(), [](char16_t unit) { return unit < 0xDC00 || unit > 0xDFFF; });
  if (characters == 0 || measures.voicedSpanMs == 0) {
    return std::nullopt;
  }
  return static_cast<double>(characters) * 1000.0 / measures.voicedSpanMs;
}

}  // namespace voxtar::measures
