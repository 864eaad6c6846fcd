// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/take_chain.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <optional>
#include <string>
#include <vector>

#include "measures/take_measures.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"
#include "tests/support/temp_dir.h"

namespace voxtar::exporting {
namespace {

using audio::SpokenTake;
using audio::WaveElement;
using measures::TakeMeasures;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kWav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
constexpr int kWavFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

class Chain : public ::testing::Test {
 protected:
  std::u16string Wide(std::string_view name) const {
    return platform::FromUtf8((tmp / name).string());
  }
  TakeMeasures Measure(std::string_view name) const {
    TakeMeasures measured;
    std::string error;
    EXPECT_TRUE(measures::MeasureTakeFile(Wide(name), &measured, &error)) << error;
    return measured;
  }
  // Saves the take, measures it and exports it to out.wav.
  ChainResult Export(const WaveElement& take, const ChainSettings& settings) const {
    std::string error;
    EXPECT_TRUE(audio::WriteWaveFile(take, Wide("take.wav"), &error)) << error;
    ChainResult result;
    EXPECT_TRUE(ExportTake(Wide("take.wav"), Measure("take.wav"), settings, Wide("out.wav"),
                           tmp.wide(), &result, &error))
        << error;
    return result;
  }
  WaveElement Read(std::string_view name) const {
    WaveElement element;
    std::string error;
    EXPECT_TRUE(audio::ReadWaveFile(Wide(name), &element, &error)) << error;
    return element;
  }

  testing::TempDir tmp;
};

// The take's words survive every change of format: the tones keep their level and place.
TEST_F(Chain, WritesTheRateBitsAndChannelsAsked) {
  struct Case {
    int format;
    int rate;
    int channels;
    ChainSettings settings;
    int wantFormat;
    int wantRate;
    int wantChannels;
  };
  const Case cases[] = {
      {kWav16, 44100, 1, {.sampleRate = 22050, .channels = 2}, kWav16, 22050, 2},
      {kWav24, 48000, 2, {.channels = 1, .bits = SampleBits::Int24}, kWav24, 48000, 1},
      {kWavFloat,
       48000,
       1,
       {.sampleRate = 16000, .bits = SampleBits::Float32},
       kWavFloat,
       16000,
       1},
      {kWav16, 22050, 2, {.sampleRate = 48000, .bits = SampleBits::Int24}, kWav24, 48000, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz to " + std::to_string(c.wantRate));
    const ChainResult result = Export(SpokenTake(c.format, c.rate, c.channels), c.settings);
    const WaveElement out = Read("out.wav");
    EXPECT_EQ(out.format, c.wantFormat);
    EXPECT_EQ(out.sampleRate, c.wantRate);
    EXPECT_EQ(out.channels, c.wantChannels);
    EXPECT_EQ(out.frames(), result.frames);
    EXPECT_NEAR(result.seconds(), 2.4, 0.001);
    const TakeMeasures measured = Measure("out.wav");
    EXPECT_NEAR(measured.peakDb, -6.0, 0.2);
    EXPECT_NEAR(measured.headMs, 300, 10);
    EXPECT_NEAR(measured.tailMs, 500, 10);
    EXPECT_EQ(result.heldBy, GainLimit::None);
  }
}

// Nothing asked of a 16-bit take: the very samples, with no dither over them.
TEST_F(Chain, AnUnchangedTakeKeepsItsSamples) {
  const WaveElement take = SpokenTake(kWav16, 44100, 2);
  Export(take, {});
  EXPECT_EQ(audio::Bytes(Read("out.wav")), audio::Bytes(take));
}

TEST_F(Chain, TrimKeepsTheRoomAskedAroundTheVoice) {
  struct Case {
    std::optional<double> head;
    std::optional<double> tail;
    std::uint32_t wantHeadMs;  // the take has 300 ms before its voice, 500 ms after
    std::uint32_t wantTailMs;
  };
  const Case cases[] = {
      {0.2, 0.2, 200, 200}, {0.5, 0.1, 300, 100}, {0, 0, 0, 0}, {{}, {}, 300, 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head.value_or(-1));
    ChainSettings settings;
    settings.keepHeadS = c.head;
    settings.keepTailS = c.tail;
    Export(SpokenTake(kWav16), settings);
    const TakeMeasures out = Measure("out.wav");
    EXPECT_NEAR(out.headMs, c.wantHeadMs, 1);
    EXPECT_NEAR(out.tailMs, c.wantTailMs, 1);
    EXPECT_NEAR(out.voicedSpanMs, 1600, 1);
  }
  // A silent take has no voice to cut around: it stays whole.
  ChainSettings settings;
  settings.keepHeadS = settings.keepTailS = 0.2;
  EXPECT_EQ(Export(audio::SilentTake(kWav16, 44100, 1, 2.4), settings).frames, 105840u);
}

// The take at half scale: -11.1 LUFS, true and sample peak -6.0; with a click at 0.9: a sample
// peak of -0.9 dBFS and a true peak above it.
TEST_F(Chain, GainReachesTheLoudnessTargetUnlessALimitHoldsItBack) {
  struct Case {
    std::optional<double> target;
    std::optional<double> truePeakLimit;
    std::optional<double> peakLimit;
    bool click;
    GainLimit heldBy;
  };
  const Case cases[] = {
      {-23, {}, {}, false, GainLimit::None},
      {-16, -1, {}, true, GainLimit::TruePeak},
      {-6, -1, -3, false, GainLimit::Peak},  // the true-peak limit allows less than the peak's
      {-3, {}, {}, false, GainLimit::FullScale},
      {{}, -12, {}, false, GainLimit::TruePeak},  // no target: brought down to the limit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target.value_or(0));
    WaveElement take = SpokenTake(kWav24, 48000, 1, c.click ? 0.05 : 0.5);
    if (c.click) {
      audio::PutSample(&take, 48000, 0.9);
    }
    ChainSettings settings;
    settings.bits = SampleBits::Int16;
    settings.loudnessLufs = c.target;
    settings.truePeakLimitDbtp = c.truePeakLimit;
    settings.peakLimitDb = c.peakLimit;
    const ChainResult result = Export(take, settings);
    const TakeMeasures out = Measure("out.wav");
    EXPECT_EQ(result.heldBy, c.heldBy);
    ASSERT_TRUE(out.loudnessLufs && result.loudnessLufs);
    EXPECT_NEAR(*out.loudnessLufs, *result.loudnessLufs, 0.1);
    if (c.heldBy == GainLimit::None) {
      EXPECT_NEAR(*out.loudnessLufs, *c.target, 0.5);
    } else if (c.target) {
      EXPECT_LT(*out.loudnessLufs, *c.target - 0.5);
    }
    EXPECT_LE(out.truePeakDbtp, c.truePeakLimit.value_or(99) + 0.05);
    EXPECT_LE(out.peakDb, c.peakLimit.value_or(0) + 0.05);
  }
}

// What an untouched take's measures say is what measuring its samples again would say, to the
// last bit: so a chain that only changes the gain takes the loudness and peaks from the measures.
TEST_F(Chain, AnUntouchedTakesLevelsAreItsMeasures) {
  struct Case {
    int format;
    int rate;
    int channels;
    double amplitude;
    std::optional<double> click;  // a sample at this level, 1 s in
  };
  const Case cases[] = {{kWav16, 44100, 1, 0.5, {}},     {kWav24, 48000, 2, 0.05, 0.9},
                        {kWavFloat, 22050, 1, 0.3, 1.2}, {kWav16, 11025, 2, 0.01, {}},
                        {kWav16, 96000, 1, 0.7, -0.95},  {kWav16, 44100, 1, 0.0, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channels");
    WaveElement take = SpokenTake(c.format, c.rate, c.channels, c.amplitude);
    if (c.click) {
      audio::PutSample(&take, static_cast<std::size_t>(c.rate), *c.click);
    }
    std::string error;
    ASSERT_TRUE(audio::WriteWaveFile(take, Wide("take.wav"), &error)) << error;
    const TakeMeasures measured = Measure("take.wav");
    SF_INFO info{};
    SNDFILE* file = sf_open((tmp / "take.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
    EXPECT_EQ(sf_readf_float(file, samples.data(), info.frames), info.frames);
    sf_close(file);
    const std::optional<measures::SignalLevels> levels =
        measures::MeasureSignal(samples, info.channels, info.samplerate, true);
    ASSERT_TRUE(levels);
    EXPECT_EQ(levels->loudnessLufs, measured.loudnessLufs);
    EXPECT_EQ(levels->peakDb, measured.peakDb);
    EXPECT_EQ(levels->truePeakDbtp, measured.truePeakDbtp);
  }
}

TEST_F(Chain, AFailureLeavesTheTargetAlone) {
  std::string error;
  const WaveElement take = SpokenTake(kWav16);
  ASSERT_TRUE(audio::WriteWaveFile(take, Wide("take.wav"), &error)) << error;
  const TakeMeasures measured = Measure("take.wav");
  ASSERT_TRUE(audio::WriteWaveFile(take, Wide("out.wav"), &error)) << error;
  const std::vector<std::byte> before = audio::Bytes(Read("out.wav"));
  // Replaced by a longer take after it was measured: the trim would cut the wrong place.
  ASSERT_TRUE(
      audio::WriteWaveFile(audio::SilentTake(kWav16, 44100, 1, 3), Wide("take.wav"), &error));
  ChainResult result;
  EXPECT_FALSE(
      ExportTake(Wide("take.wav"), measured, {}, Wide("out.wav"), tmp.wide(), &result, &error));
  EXPECT_EQ(error, "The take changed while it was exported: " + (tmp / "take.wav").string());
  EXPECT_FALSE(
      ExportTake(Wide("gone.wav"), measured, {}, Wide("out.wav"), tmp.wide(), &result, &error));
  EXPECT_EQ(audio::Bytes(Read("out.wav")), before);
}

}  // namespace
}  // namespace voxtar::exporting
