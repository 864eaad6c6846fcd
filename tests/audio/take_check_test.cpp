#include "audio/take_check.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>

#include "testing/synthetic_take.h"
#include "tests/audio/audio_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::audio {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

std::string Verdicts(const TakeCheck& check) {
  std::string text;
  for (const std::string_view word : VerdictWords(check)) {
    text += text.empty() ? "" : ", ";
    text += word;
  }
  return text;
}

TEST(TakeCheck, SpeechWithRoomAtBothEndsIsOkInEveryFormat) {
  const int formats[] = {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32,
                         SF_FORMAT_FLOAT};
  for (const int sub : formats) {
    for (const int channels : {1, 2}) {
      SCOPED_TRACE(DescribeFormat({44100, channels, sub}));
      const TakeCheck check = CheckTake(SpokenTake(SF_FORMAT_WAV | sub, 44100, channels));
      EXPECT_TRUE(check.ok()) << Verdicts(check);
      EXPECT_EQ(check.frames, 105840u);
      EXPECT_EQ(check.durationMs, 2400u);
      EXPECT_NEAR(check.peakDb, -6.0, 0.1);
      EXPECT_NEAR(check.voicedRmsDb, -9.0, 0.2);
      EXPECT_EQ(check.clippedSamples, 0u);
      EXPECT_NEAR(check.leadingSilenceMs, 300, 10);
      EXPECT_NEAR(check.trailingSilenceMs, 500, 10);
      EXPECT_EQ(SummaryLine(check), "ok, peak -6.0 dB, 2.4 s");
      EXPECT_EQ(SeverityOf(check), TakeSeverity::Ok);
    }
  }
}

TEST(TakeCheck, SpeechTouchingAnEndIsCut) {
  WaveElement take = SilentTake(kWav16, 44100, 1, 2.0);
  AddTone(&take, 0.0, 1.0, 0.5);
  TakeCheck check = CheckTake(take);
  EXPECT_EQ(Verdicts(check), "cut at the start");
  EXPECT_EQ(check.leadingSilenceMs, 0u);
  EXPECT_EQ(SeverityOf(check), TakeSeverity::Warning);

  AddTone(&take, 1.5, 2.0, 0.5);
  check = CheckTake(take);
  EXPECT_EQ(SummaryLine(check), "cut at the start, cut at the end");
  EXPECT_EQ(check.trailingSilenceMs, 0u);

  // 80 ms of room is too little, 120 ms enough.
  take = SilentTake(kWav16, 44100, 1, 2.0);
  AddTone(&take, 0.08, 1.92, 0.5);
  EXPECT_EQ(Verdicts(CheckTake(take)), "cut at the start, cut at the end");
  take = SilentTake(kWav16, 44100, 1, 2.0);
  AddTone(&take, 0.12, 1.88, 0.5);
  EXPECT_EQ(Verdicts(CheckTake(take)), "ok");
}

TEST(TakeCheck, ClippedSamplesAreCounted) {
  WaveElement take = SpokenTake(kWav16);
  for (std::size_t n = 0; n < 37; ++n) {
    PutSample(&take, 44100 + n * 10, n % 2 == 0 ? 1.0 : -1.0);
  }
  const TakeCheck check = CheckTake(take);
  EXPECT_EQ(check.clippedSamples, 37u);
  EXPECT_EQ(SummaryLine(check), "clipped (37 samples)");
  EXPECT_EQ(SeverityOf(check), TakeSeverity::Bad);

  WaveElement loud = SpokenTake(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 44100, 2, 1.3);
  const TakeCheck overdriven = CheckTake(loud);
  EXPECT_TRUE(overdriven.clipped);
  EXPECT_GT(overdriven.clippedSamples, 10000u);
  EXPECT_EQ(overdriven.peakDb, 0.0);
}

TEST(TakeCheck, QuietSpeechIsTooQuietAndAClickDoesNotMakeItLoud) {
  WaveElement take = SpokenTake(kWav16, 44100, 1, 0.02);  // -34 dBFS
  PutSample(&take, 2 * 44100 + 100, 0.5);                 // a click in the room after the speech
  const TakeCheck check = CheckTake(take);
  EXPECT_EQ(Verdicts(check), "too quiet");
  EXPECT_NEAR(check.peakDb, -6.0, 0.1);
  EXPECT_NEAR(check.voicedPeakDb, -34.0, 0.1);
  EXPECT_NEAR(check.trailingSilenceMs, 500, 10);  // the click is not voice
  EXPECT_EQ(SummaryLine(check), "too quiet (peak -34.0 dB)");
  EXPECT_EQ(SeverityOf(check), TakeSeverity::Warning);

  // -29 dBFS is loud enough.
  EXPECT_TRUE(CheckTake(SpokenTake(kWav16, 44100, 1, 0.035)).ok());
}

TEST(TakeCheck, SilenceHissAndClicksAloneAreSilent) {
  for (const int channels : {1, 2}) {
    const TakeCheck silence =
        CheckTake(SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, channels, 1.5));
    EXPECT_EQ(Verdicts(silence), "silent");
    EXPECT_EQ(silence.leadingSilenceMs, 1500u);
    EXPECT_EQ(silence.trailingSilenceMs, 1500u);
    EXPECT_EQ(silence.peakDb, kFloorDb);
    EXPECT_EQ(SeverityOf(silence), TakeSeverity::Bad);
  }

  // Hiss at about -53 dBFS RMS whose single samples reach -48 dBFS, with two loud clicks.
  WaveElement room = SilentTake(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 1.0);
  FillHiss(&room, 0.004);
  PutSample(&room, 1000, 0.9);
  PutSample(&room, 30000, -0.9);
  PutSample(&room, 30001, 0.9);
  const TakeCheck check = CheckTake(room);
  EXPECT_EQ(SummaryLine(check), "silent");
  EXPECT_GT(check.peakDb, kSilenceThresholdDb);

  EXPECT_EQ(Verdicts(CheckTake(SilentTake(kWav16, 44100, 1, 0.0))), "silent");
  EXPECT_EQ(Verdicts(CheckTake(WaveElement{})), "silent");
}

TEST(TakeCheck, FileIsReadInItsOwnFormat) {
  testing::TempDir tmp;
  const WaveElement take = SpokenTake(SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2);
  std::string why;
  ASSERT_TRUE(WriteWaveFile(take, testing::Wide(tmp / "a.wav"), &why)) << why;

  TakeCheck check;
  TakeFormat format;
  std::string error;
  ASSERT_TRUE(CheckTakeFile(testing::Wide(tmp / "a.wav"), &check, &format, &error)) << error;
  EXPECT_TRUE(check.ok());
  EXPECT_EQ(check.durationMs, 2400u);
  EXPECT_EQ(format, (TakeFormat{44100, 2, SF_FORMAT_PCM_24}));
  EXPECT_EQ(DescribeFormat(format), "44100 Hz, stereo, 24-bit");
  EXPECT_NE(format, (TakeFormat{44100, 2, SF_FORMAT_PCM_16}));

  testing::WriteBytes(tmp / "b.wav", "RIFF");
  EXPECT_FALSE(CheckTakeFile(testing::Wide(tmp / "b.wav"), &check, nullptr, &error));
  EXPECT_NE(error.find("not a sound file"), std::string::npos) << error;
}

}  // namespace
}  // namespace voxtar::audio
