// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/take_chain.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "audio/sound_file.h"
#include "audio/wave_element.h"
#include "export/name_hash_p.h"
#include "platform/file_system.h"

namespace voxtar::exporting {

namespace {

using measures::TakeMeasures;

// A take on its way through the chain: interleaved, 1.0 = full scale.
struct Sound {
  int rate = 0;
  int channels = 0;
  int bits = 0;  // the resolution the take was recorded in
  std::vector<float> samples;
  bool changed = false;  // values made anew (mixed down, resampled, gain): not the take's own
  bool cut = false;      // trimmed: less than the whole take

  std::size_t frames() const { return samples.size() / static_cast<std::size_t>(channels); }
};

int BitsOf(int subFormat) {
  switch (subFormat) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
      return 8;
    case SF_FORMAT_PCM_24:
      return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      return 32;
    default:
      return 16;  // 16-bit, and the compressed encodings, which decode to 16 bits
  }
}

int BitsOf(SampleBits bits) {
  switch (bits) {
    case SampleBits::Int16:
      return 16;
    case SampleBits::Int24:
      return 24;
    case SampleBits::Float32:
      break;
  }
  return 32;
}

std::string Failure(std::string_view sentence, std::u16string_view path, std::string_view cause) {
  std::string text(sentence);
  text += ": " + platform::ToUtf8(path);
  if (!cause.empty()) {
    text += " (" + std::string(cause) + ")";
  }
  return text;
}

// Frames [first, end) of a take of `frames` frames: its voice with at most the room the settings
// keep before and after it; all of it when it has no voice or is not cut. The measured head and
// tail are whole milliseconds, rounded down: a trim never reaches into the voice.
std::pair<std::uint64_t, std::uint64_t> KeptSpan(const TakeMeasures& take, int rate,
                                                 const ChainSettings& settings) {
  const std::uint64_t frames = take.frames;
  if (!take.voiced || !settings.keepHeadS || !settings.keepTailS) {
    return {0, frames};
  }
  const auto framesOf = [rate](double seconds) {
    return static_cast<std::uint64_t>(std::llround(std::max(seconds, 0.0) * rate));
  };
  const std::uint64_t head = std::uint64_t{take.headMs} * static_cast<std::uint64_t>(rate) / 1000;
  const std::uint64_t tail = std::uint64_t{take.tailMs} * static_cast<std::uint64_t>(rate) / 1000;
  const std::uint64_t keepHead = framesOf(*settings.keepHeadS);
  const std::uint64_t keepTail = framesOf(*settings.keepTailS);
  const std::uint64_t first = head > keepHead ? head - keepHead : 0;
  const std::uint64_t end = frames - std::min(frames, tail > keepTail ? tail - keepTail : 0);
  return first < end ? std::pair{first, end} : std::pair{std::uint64_t{0}, frames};
}

// Reads the part of the take that the trim keeps.
bool ReadKept(std::u16string_view path, const TakeMeasures& take, const ChainSettings& settings,
              Sound* sound, std::string* error) {
  audio::SoundFileReader file;
  if (!file.Open(path, error)) {
    return false;
  }
  const SF_INFO& info = file.info();
  // The trim and the judgement stand on the measures: a take since replaced is not exported.
  const measures::TakeFormat format{info.samplerate, info.channels,
                                    info.format & SF_FORMAT_SUBMASK};
  if (format != take.format || static_cast<std::uint64_t>(info.frames) != take.frames) {
    *error = Failure("The take changed while it was exported", path, {});
    return false;
  }
  const auto [first, end] = KeptSpan(take, info.samplerate, settings);
  sound->cut = end - first < take.frames;
  sound->rate = info.samplerate;
  sound->channels = info.channels;
  sound->bits = BitsOf(format.subFormat);
  sound->samples.resize(static_cast<std::size_t>(end - first) *
                        static_cast<std::size_t>(info.channels));
  const auto count = static_cast<sf_count_t>(end - first);
  if ((first > 0 && !file.Seek(static_cast<sf_count_t>(first))) ||
      file.ReadFloat(sound->samples.data(), count) != count) {
    *error = Failure("The take cannot be read to its end", path, file.LastError());
    return false;
  }
  return true;
}

// Down to mono by averaging, up by copying; more channels than two go through mono.
void Mix(Sound* sound, int channels) {
  const auto from = static_cast<std::size_t>(sound->channels);
  const auto to = static_cast<std::size_t>(channels);
  const std::size_t frames = sound->frames();
  std::vector<float> mixed(frames * to);
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const float* in = sound->samples.data() + frame * from;
    float value = in[0];
    if (from > 1) {
      double sum = 0.0;
      for (std::size_t c = 0; c < from; ++c) {
        sum += in[c];
      }
      value = static_cast<float>(sum / static_cast<double>(from));
    }
    std::fill_n(mixed.data() + frame * to, to, value);
  }
  sound->changed = sound->changed || from > 1;
  sound->samples = std::move(mixed);
  sound->channels = channels;
}

bool Resample(Sound* sound, int rate, std::u16string_view path, std::string* error) {
  const std::size_t frames = sound->frames();
  const auto channels = static_cast<unsigned>(sound->channels);
  const auto room =
      static_cast<std::size_t>(std::ceil(static_cast<double>(frames) * rate / sound->rate)) + 1;
  std::vector<float> resampled(room * channels);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // the export runs a take per core
  std::size_t done = 0;
  if (const soxr_error_t failed =
          soxr_oneshot(sound->rate, rate, channels, sound->samples.data(), frames, nullptr,
                       resampled.data(), room, &done, &io, &quality, &runtime)) {
    *error = Failure("The take cannot be resampled", path, failed);
    return false;
  }
  resampled.resize(done * channels);
  sound->samples = std::move(resampled);
  sound->rate = rate;
  sound->changed = true;
  return true;
}

// The loudness and peaks of the sound before its gain. A sound that is the whole take as it was
// read has the take's own, which its measures hold: a gain adds to them and nothing else changes
// them, so it is measured only where it was cut, mixed or resampled.
std::optional<measures::SignalLevels> LevelsOf(const Sound& sound, const TakeMeasures& take,
                                               const ChainSettings& settings) {
  const bool truePeak = settings.truePeakLimitDbtp.has_value();
  if (!sound.cut && !sound.changed && sound.rate == take.format.sampleRate &&
      sound.channels == take.format.channels) {
    measures::SignalLevels levels;
    levels.loudnessLufs = take.loudnessLufs;
    levels.peakDb = take.peakDb;
    if (truePeak) {
      levels.truePeakDbtp = take.truePeakDbtp;
    }
    return levels;
  }
  return measures::MeasureSignal(sound.samples, sound.channels, sound.rate, truePeak);
}

// The gain that brings the sound to the loudness target, held back by every limit it would pass.
double ChooseGain(const measures::SignalLevels& levels, const ChainSettings& settings,
                  GainLimit* heldBy) {
  double gain = 0.0;
  if (settings.loudnessLufs && levels.loudnessLufs) {
    gain = *settings.loudnessLufs - *levels.loudnessLufs;
  }
  *heldBy = GainLimit::None;
  const auto hold = [&](const std::optional<double>& limit, const std::optional<double>& level,
                        GainLimit which) {
    if (limit && level && *level + gain > *limit) {
      gain = *limit - *level;
      *heldBy = which;
    }
  };
  hold(settings.truePeakLimitDbtp, levels.truePeakDbtp, GainLimit::TruePeak);
  hold(settings.peakLimitDb, levels.peakDb, GainLimit::Peak);
  hold(0.0, levels.peakDb, GainLimit::FullScale);
  return gain;
}

// Triangular dither of less than one step either way: the sum of two uniform values. Seeded per
// file, so the same export writes the same bytes.
class Dither {
 public:
  explicit Dither(std::uint64_t seed) : state_(seed | 1u) {}
  double Next() { return Uniform() - Uniform(); }

 private:
  double Uniform() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<double>(state_ >> 11) * 0x1.0p-53;
  }
  std::uint64_t state_;
};

// `value` rounded to the nearest whole number, halves to even, as std::nearbyint rounds in the
// default rounding mode, without a call into the maths library for each sample: adding 1.5 * 2^52
// leaves no bits for a fraction. Exact for |value| < 2^51, far beyond any sample times its gain.
double Nearest(double value) {
  constexpr double kNoFraction = 0x1.8p52;
  return (value + kNoFraction) - kNoFraction;
}

// Whole samples of `steps` to full scale, left-justified by `shift` bits, dithered when asked. A
// sample that is no number (a damaged float file) is silence.
template <typename Sample>
std::vector<Sample> Quantized(const std::vector<float>& samples, double factor, double steps,
                              int shift, Dither* dither) {
  std::vector<Sample> whole(samples.size());
  const double scale = factor * steps;
  const double highest = steps - 1.0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    double value = std::isnan(samples[i]) ? 0.0 : samples[i] * scale;
    if (dither != nullptr) {
      value += dither->Next();
    }
    const double step = std::clamp(Nearest(std::clamp(value, -steps, steps)), -steps, highest);
    whole[i] = static_cast<Sample>(static_cast<Sample>(step) * (Sample{1} << shift));
  }
  return whole;
}

// Applies the gain, rounds to the output's samples and writes the file.
bool Write(const Sound& sound, double gainDb, const ChainSettings& settings,
           std::u16string_view target, std::u16string_view confinedTo, std::string* error) {
  const double factor = std::pow(10.0, gainDb / 20.0);
  const bool requantized = sound.changed || gainDb != 0.0 || sound.bits > BitsOf(settings.bits);
  Dither dither(NameHash(target));
  Dither* const dithering = requantized ? &dither : nullptr;
  int subFormat = SF_FORMAT_PCM_16;
  std::vector<std::int16_t> shorts;
  std::vector<std::int32_t> ints;
  std::vector<float> floats;
  std::span<const std::byte> bytes;
  switch (settings.bits) {
    case SampleBits::Int16:
      shorts = Quantized<std::int16_t>(sound.samples, factor, 32768.0, 0, dithering);
      bytes = std::as_bytes(std::span(shorts));
      break;
    case SampleBits::Int24:
      subFormat = SF_FORMAT_PCM_24;
      ints = Quantized<std::int32_t>(sound.samples, factor, 8388608.0, 8, dithering);
      bytes = std::as_bytes(std::span(ints));
      break;
    case SampleBits::Float32:
      subFormat = SF_FORMAT_FLOAT;
      floats.resize(sound.samples.size());
      std::transform(sound.samples.begin(), sound.samples.end(), floats.begin(),
                     [factor](float value) { return static_cast<float>(value * factor); });
      bytes = std::as_bytes(std::span(floats));
      break;
  }
  audio::WaveElement element =
      audio::MakeElement(SF_FORMAT_WAV | subFormat, sound.rate, sound.channels);
  element.samples.Write(0, bytes);
  // An export's files are its own: a link in the place of one is not written through.
  platform::SaveFile file(target, confinedTo);
  file.RefuseLinks();
  if (!audio::WriteWave(element, file, error)) {
    return false;
  }
  if (!file.Commit()) {
    *error = Failure("The file could not be saved", target, file.error());
    return false;
  }
  return true;
}

}  // namespace

std::string_view BitsName(SampleBits bits) {
  switch (bits) {
    case SampleBits::Int16:
      return "16";
    case SampleBits::Int24:
      return "24";
    case SampleBits::Float32:
      break;
  }
  return "32f";
}

std::optional<SampleBits> BitsFromName(std::string_view name) {
  for (const SampleBits bits : {SampleBits::Int16, SampleBits::Int24, SampleBits::Float32}) {
    if (BitsName(bits) == name) {
      return bits;
    }
  }
  return std::nullopt;
}

std::string_view GainLimitWord(GainLimit limit) {
  switch (limit) {
    case GainLimit::None:
      return "";
    case GainLimit::TruePeak:
      return "true-peak";
    case GainLimit::Peak:
      return "peak";
    case GainLimit::FullScale:
      break;
  }
  return "full-scale";
}

std::optional<GainLimit> GainLimitFromWord(std::string_view word) {
  for (const GainLimit limit :
       {GainLimit::None, GainLimit::TruePeak, GainLimit::Peak, GainLimit::FullScale}) {
    if (GainLimitWord(limit) == word) {
      return limit;
    }
  }
  return std::nullopt;
}

std::optional<measures::TakeFormat> SoundFileFormat(std::u16string_view path, std::string* error) {
  audio::SoundFileReader file;
  if (!file.Open(path, error)) {
    return std::nullopt;
  }
  const SF_INFO& info = file.info();
  return measures::TakeFormat{info.samplerate, info.channels, info.format & SF_FORMAT_SUBMASK};
}

std::string ChainSettings::Key() const {
  const auto number = [](const auto& value) {
    if (!value) {
      return std::string("-");
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(*value));
    return std::string(text);
  };
  // The first word names the chain itself: a change to what it does makes every file anew.
  return "chain-1 rate " + number(sampleRate) + " channels " + number(channels) + " bits " +
         std::string(BitsName(bits)) + " head " + number(keepHeadS) + " tail " + number(keepTailS) +
         " loudness " + number(loudnessLufs) + " true-peak " + number(truePeakLimitDbtp) +
         " peak " + number(peakLimitDb);
}

bool ExportTake(std::u16string_view source, const TakeMeasures& measures,
                const ChainSettings& settings, std::u16string_view target,
                std::u16string_view confinedTo, ChainResult* result, std::string* error) {
  try {
    Sound sound;
    if (!ReadKept(source, measures, settings, &sound, error)) {
      return false;
    }
    const int channels = settings.channels.value_or(sound.channels);
    if (channels < sound.channels) {
      Mix(&sound, channels);
    }
    if (const int rate = settings.sampleRate.value_or(sound.rate);
        rate != sound.rate && !Resample(&sound, rate, source, error)) {
      return false;
    }
    if (channels > sound.channels) {
      Mix(&sound, channels);
    }
    const std::optional<measures::SignalLevels> levels = LevelsOf(sound, measures, settings);
    if (!levels) {
      throw std::bad_alloc();
    }
    ChainResult made;
    made.gainDb = ChooseGain(*levels, settings, &made.heldBy);
    if (!Write(sound, made.gainDb, settings, target, confinedTo, error)) {
      return false;
    }
    made.sampleRate = sound.rate;
    made.channels = sound.channels;
    made.frames = sound.frames();
    if (levels->loudnessLufs) {
      made.loudnessLufs = *levels->loudnessLufs + made.gainDb;
    }
    if (levels->truePeakDbtp) {
      made.truePeakDbtp = *levels->truePeakDbtp + made.gainDb;
    }
    made.peakDb = levels->peakDb + made.gainDb;
    *result = made;
    return true;
  } catch (const std::bad_alloc&) {
    *error = Failure("There is not enough memory to export the take", source, {});
    return false;
  }
}

}  // namespace voxtar::exporting
