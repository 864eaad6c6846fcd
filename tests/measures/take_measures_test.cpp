// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/take_measures.h"

#include <ebur128.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "measures/judgement.h"
#include "tests/measures/measures_test_support.h"

namespace voxtar::measures {
namespace {

using audio::AddTone;
using audio::FillHiss;
using audio::PutSample;
using audio::SilentTake;
using audio::SpokenTake;
using audio::WaveElement;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// The take check as it always was: the "course" profile on a take alone.
class TakeCheck : public TakeFiles {
 protected:
  Judgement Check(const WaveElement& take) {
    last = Measure(take);
    return Judge(last, *BuiltInProfile("course"), {});
  }
  TakeMeasures last;
};

TEST_F(TakeCheck, SpeechWithRoomAtBothEndsIsOkInEveryFormat) {
  const int formats[] = {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32,
                         SF_FORMAT_FLOAT};
  for (const int sub : formats) {
    for (const int channels : {1, 2}) {
      SCOPED_TRACE(DescribeFormat({44100, channels, sub}));
      const Judgement judgement = Check(SpokenTake(SF_FORMAT_WAV | sub, 44100, channels));
      EXPECT_TRUE(judgement.ok()) << judgement.summary;
      EXPECT_EQ(last.format, (TakeFormat{44100, channels, sub}));
      EXPECT_EQ(last.frames, 105840u);
      EXPECT_EQ(last.durationMs, 2400u);
      EXPECT_NEAR(last.peakDb, -6.0, 0.1);
      EXPECT_NEAR(last.voicedRmsDb, -9.0, 0.2);
      EXPECT_EQ(last.clippedSamples, 0u);
      EXPECT_NEAR(last.headMs, 300, 10);
      EXPECT_NEAR(last.tailMs, 500, 10);
      EXPECT_NEAR(last.voicedSpanMs, 1600, 10);
      EXPECT_FALSE(last.loudnessRangeLu);  // under 3 s: unknown, not 0
      EXPECT_EQ(judgement.summary, "ok, peak -6.0 dB, 2.4 s");
      EXPECT_EQ(judgement.severity, Severity::Ok);
    }
  }
}

TEST_F(TakeCheck, SpeechTouchingAnEndIsCut) {
  WaveElement take = SilentTake(kWav16, 44100, 1, 2.0);
  AddTone(&take, 0.0, 1.0, 0.5);
  Judgement judgement = Check(take);
  EXPECT_EQ(Names(judgement), "cut at the start");
  EXPECT_EQ(last.headMs, 0u);
  EXPECT_EQ(judgement.severity, Severity::Warning);

  AddTone(&take, 1.5, 2.0, 0.5);
  judgement = Check(take);
  EXPECT_EQ(judgement.summary, "cut at the start, cut at the end");
  EXPECT_EQ(last.tailMs, 0u);

  // 80 ms of room is too little, 120 ms enough.
  take = SilentTake(kWav16, 44100, 1, 2.0);
  AddTone(&take, 0.08, 1.92, 0.5);
  EXPECT_EQ(Names(Check(take)), "cut at the start, cut at the end");
  take = SilentTake(kWav16, 44100, 1, 2.0);
  AddTone(&take, 0.12, 1.88, 0.5);
  EXPECT_EQ(Names(Check(take)), "ok");
}

TEST_F(TakeCheck, ClippedSamplesAreCounted) {
  WaveElement take = SpokenTake(kWav16);
  for (std::size_t n = 0; n < 37; ++n) {
    PutSample(&take, 44100 + n * 10, n % 2 == 0 ? 1.0 : -1.0);
  }
  const Judgement judgement = Check(take);
  EXPECT_EQ(last.clippedSamples, 37u);
  EXPECT_EQ(judgement.summary, "clipped (37 samples)");
  EXPECT_EQ(judgement.severity, Severity::Bad);

  const Judgement overdriven = Check(SpokenTake(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 44100, 2, 1.3));
  EXPECT_TRUE(overdriven.Has(Problem::Clipped));
  EXPECT_GT(last.clippedSamples, 10000u);
  EXPECT_EQ(last.peakDb, 0.0);
}

TEST_F(TakeCheck, QuietSpeechIsTooQuietAndAClickDoesNotMakeItLoud) {
  WaveElement take = SpokenTake(kWav16, 44100, 1, 0.02);  // -34 dBFS
  PutSample(&take, 2 * 44100 + 100, 0.5);                 // a click in the room after the speech
  PutSample(&take, 44100 * 9 / 10, -0.5);                 // and one between the words
  const Judgement judgement = Check(take);
  EXPECT_EQ(Names(judgement), "too quiet");
  EXPECT_NEAR(last.peakDb, -6.0, 0.1);
  EXPECT_NEAR(last.voicedPeakDb, -34.0, 0.1);
  EXPECT_NEAR(last.tailMs, 500, 10);  // the click is not voice
  EXPECT_EQ(judgement.summary, "too quiet (peak -34.0 dB)");
  EXPECT_EQ(judgement.severity, Severity::Warning);

  // -29 dBFS is loud enough.
  EXPECT_TRUE(Check(SpokenTake(kWav16, 44100, 1, 0.035)).ok());
}

TEST_F(TakeCheck, SilenceHissAndClicksAloneAreSilent) {
  for (const int channels : {1, 2}) {
    const Judgement silence =
        Check(SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, channels, 1.5));
    EXPECT_EQ(Names(silence), "silent");
    EXPECT_EQ(last.headMs, 1500u);
    EXPECT_EQ(last.tailMs, 1500u);
    EXPECT_EQ(last.peakDb, kFloorDb);
    EXPECT_FALSE(last.loudnessLufs);
    EXPECT_EQ(silence.severity, Severity::Bad);
  }

  // Hiss at about -53 dBFS RMS whose single samples reach -48 dBFS, with two loud clicks.
  WaveElement room = SilentTake(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 1.0);
  FillHiss(&room, 0.004);
  PutSample(&room, 1000, 0.9);
  PutSample(&room, 30000, -0.9);
  PutSample(&room, 30001, 0.9);
  EXPECT_EQ(Check(room).summary, "silent");
  EXPECT_GT(last.peakDb, -50.0);

  EXPECT_EQ(Names(Check(SilentTake(kWav16, 44100, 1, 0.0))), "silent");
}

TEST_F(TakeCheck, AFileThatIsNoSoundIsAnError) {
  testing::WriteBytes(tmp / "b.wav", "RIFF");
  TakeMeasures take;
  std::string error;
  EXPECT_FALSE(MeasureTakeFile(Wide("b.wav"), &take, &error));
  EXPECT_NE(error.find("not a sound file"), std::string::npos) << error;
  EXPECT_FALSE(MeasureTakeFile(Wide("none.wav"), &take, &error));
  EXPECT_NE(error.find("cannot be opened"), std::string::npos) << error;
}

using Measures = TakeFiles;

TEST_F(Measures, LoudnessOfASineFollowsBs1770) {
  // -20 dBFS peak at 997 Hz: -23.0 LUFS on one channel; two channels add 3 LU.
  for (const auto& [channels, lufs] : {std::pair{1, -23.0}, std::pair{2, -20.0}}) {
    WaveElement tone = SilentTake(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, channels, 5.0);
    AddTone(&tone, 0.0, 5.0, 0.1, 997.0);
    const TakeMeasures take = Measure(tone);
    ASSERT_TRUE(take.loudnessLufs);
    EXPECT_NEAR(*take.loudnessLufs, lufs, 0.1) << channels;
    ASSERT_TRUE(take.loudnessRangeLu);
    EXPECT_LT(*take.loudnessRangeLu, 0.5);  // steady
    EXPECT_NEAR(take.rmsDb, -23.0, 0.05);
  }
}

TEST_F(Measures, NoiseFloorIsTheRoomBetweenTheWords) {
  // Words at -12 dBFS with hiss of -60 dBFS RMS (RMS = amplitude / sqrt 3) before, between and
  // after them; the pause of 50 ms inside the second word is not room.
  const double hiss = std::pow(10.0, -60.0 / 20.0) * std::sqrt(3.0);
  WaveElement take = SilentTake(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 3.0);
  FillHiss(&take, hiss);
  AddTone(&take, 0.4, 1.0, 0.25, 220.0);
  AddTone(&take, 1.5, 2.0, 0.25, 330.0);
  AddTone(&take, 2.05, 2.5, 0.25, 330.0);
  const TakeMeasures measured = Measure(take);
  ASSERT_TRUE(measured.noiseFloorDb);
  EXPECT_NEAR(*measured.noiseFloorDb, -60.0, 1.0);
  ASSERT_TRUE(measured.snrDb());
  EXPECT_NEAR(*measured.snrDb(), -15.0 + 60.0, 1.0);
  EXPECT_NEAR(measured.voicedSpanMs, 2100, 10);

  // Speech from end to end with a pause of 50 ms leaves no room to measure.
  WaveElement busy = SilentTake(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 1.0);
  FillHiss(&busy, hiss);
  AddTone(&busy, 0.0, 0.45, 0.25);
  AddTone(&busy, 0.5, 1.0, 0.25);
  EXPECT_FALSE(Measure(busy).noiseFloorDb);
  EXPECT_FALSE(Measure(busy).snrDb());
}

// A sine at a quarter of the rate with a phase of 45 degrees: every sample lies at 0.707 of the
// sine's peak, which falls between them.
void PutQuarterRateSine(WaveElement* take, double from, double to, double amplitude) {
  const auto channels = static_cast<std::size_t>(take->channels);
  for (auto n = static_cast<std::size_t>(from * take->sampleRate);
       n < static_cast<std::size_t>(to * take->sampleRate); ++n) {
    for (std::size_t c = 0; c < channels; ++c) {
      PutSample(take, n * channels + c,
                amplitude *
                    std::sin(std::numbers::pi / 2 * static_cast<double>(n) + std::numbers::pi / 4));
    }
  }
}

TEST_F(Measures, TruePeakFindsThePeakBetweenSamples) {
  WaveElement take = SilentTake(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 1.0);
  PutQuarterRateSine(&take, 0.0, 1.0, 0.5);
  const TakeMeasures measured = Measure(take);
  EXPECT_NEAR(measured.peakDb, 20 * std::log10(0.5 * std::sqrt(0.5)), 0.01);
  EXPECT_GT(measured.truePeakDbtp, measured.peakDb + 2.0);
  EXPECT_NEAR(measured.truePeakDbtp, 20 * std::log10(0.5), 0.5);
}

TEST_F(Measures, TruePeakOfTheLoudPartsIsThatOfTheWholeTake) {
  // Only the windows near the peak go through the oversampling: words of different levels with
  // peaks between their samples, the loudest in the middle, against libebur128 over every sample.
  WaveElement take = SilentTake(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, 4.0);
  const double levels[] = {0.05, 0.2, 0.6, 0.3, 0.1};
  for (std::size_t word = 0; word < std::size(levels); ++word) {
    const double at = 0.2 + 0.7 * static_cast<double>(word);
    PutQuarterRateSine(&take, at, at + 0.5, levels[word]);
  }
  ebur128_state* whole = ebur128_init(2, 44100, EBUR128_MODE_TRUE_PEAK);
  std::vector<float> samples(take.samples.bytes() / sizeof(float));
  take.samples.CopyOut(0, std::as_writable_bytes(std::span(samples)));
  ebur128_add_frames_float(whole, samples.data(), take.frames());
  double expected = 0.0;
  for (unsigned c = 0; c < 2; ++c) {
    double peak = 0.0;
    ebur128_true_peak(whole, c, &peak);
    expected = std::max(expected, peak);
  }
  ebur128_destroy(&whole);
  const TakeMeasures measured = Measure(take);
  EXPECT_DOUBLE_EQ(measured.truePeakDbtp, audio::ToDbfs(expected));
  EXPECT_GT(measured.truePeakDbtp, measured.peakDb + 2.0);
}

TEST(SpeechRate, CharactersPerSecondOfVoiceWithoutTheEditMarker) {
  TakeMeasures take;
  take.voicedSpanMs = 2000;
  EXPECT_EQ(SpeechRate(take, u"Good morning"), 6.0);
  EXPECT_EQ(SpeechRate(take, u"> Good morning"), 6.0);
  EXPECT_EQ(SpeechRate(take, u"\U0001F600\U0001F600"), 1.0);  // characters, not UTF-16 units
  EXPECT_FALSE(SpeechRate(take, u"> "));
  take.voicedSpanMs = 0;
  EXPECT_FALSE(SpeechRate(take, u"Good morning"));
}

}  // namespace
}  // namespace voxtar::measures
