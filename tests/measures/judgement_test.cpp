// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/judgement.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <array>
#include <functional>
#include <string>

#include "tests/measures/measures_test_support.h"

namespace voxtar::measures {
namespace {

// A take that every built-in profile passes.
TakeMeasures Good() {
  TakeMeasures take;
  take.format = {48000, 1, SF_FORMAT_PCM_16};
  take.frames = 192000;
  take.durationMs = 4000;
  take.peakDb = -4.0;
  take.rmsDb = -24.0;
  take.voicedPeakDb = -4.0;
  take.voicedRmsDb = -20.0;
  take.voiced = true;
  take.headMs = 700;
  take.tailMs = 1500;
  take.voicedSpanMs = 1800;
  take.noiseFloorDb = -65.0;
  take.loudnessLufs = -23.0;
  take.truePeakDbtp = -3.5;
  return take;
}

std::string Words(const std::vector<Problem>& problems) {
  std::string text;
  for (const Problem problem : problems) {
    text += (text.empty() ? "" : " ") + std::string(ProblemWord(problem));
  }
  return text;
}

// Each problem word where its profile judges it, and nowhere else.
TEST(Judgement, EveryBuiltInProfileFlagsWhatItJudges) {
  struct Case {
    const char* what;
    std::function<void(TakeMeasures&)> change;
    std::array<const char*, 4> expected;  // course, acx, ebu-r128, tts
  };
  const Case cases[] = {
      {"good", [](TakeMeasures&) {}, {"", "", "", ""}},
      {"clipped",
       [](TakeMeasures& t) { t.clippedSamples = 3; },
       {"clipped", "clipped", "clipped", "clipped"}},
      {"quiet voice",
       [](TakeMeasures& t) { t.voicedPeakDb = -31; },
       {"too-quiet", "too-quiet", "too-quiet", "too-quiet"}},
      {"low RMS", [](TakeMeasures& t) { t.voicedRmsDb = -24; }, {"", "too-quiet", "", ""}},
      {"high RMS", [](TakeMeasures& t) { t.voicedRmsDb = -17; }, {"", "too-loud", "", ""}},
      {"high peak", [](TakeMeasures& t) { t.peakDb = -2; }, {"", "too-loud", "", "too-loud"}},
      {"low peak", [](TakeMeasures& t) { t.peakDb = -7; }, {"", "", "", "too-quiet"}},
      {"silent",
       [](TakeMeasures& t) { t.voiced = false; },
       {"silent", "silent", "silent", "silent"}},
      {"no head",
       [](TakeMeasures& t) { t.headMs = 50; },
       {"cut-start", "cut-start", "cut-start", "cut-start"}},
      {"short head", [](TakeMeasures& t) { t.headMs = 300; }, {"", "cut-start", "", ""}},
      {"long head", [](TakeMeasures& t) { t.headMs = 1200; }, {"", "head-long", "", ""}},
      {"no tail",
       [](TakeMeasures& t) { t.tailMs = 99; },
       {"cut-end", "cut-end", "cut-end", "cut-end"}},
      {"short tail", [](TakeMeasures& t) { t.tailMs = 700; }, {"", "cut-end", "", ""}},
      {"long tail", [](TakeMeasures& t) { t.tailMs = 5100; }, {"", "tail-long", "", ""}},
      {"floor -55, SNR 35", [](TakeMeasures& t) { t.noiseFloorDb = -55; }, {"", "noisy", "", ""}},
      {"floor -54, SNR 34",
       [](TakeMeasures& t) { t.noiseFloorDb = -54; },
       {"", "noisy", "", "noisy"}},
      {"floor unknown", [](TakeMeasures& t) { t.noiseFloorDb.reset(); }, {"", "", "", ""}},
      {"loud", [](TakeMeasures& t) { t.loudnessLufs = -21.5; }, {"", "", "loudness", ""}},
      {"true peak", [](TakeMeasures& t) { t.truePeakDbtp = -0.5; }, {"", "", "true-peak", ""}},
      {"format",
       [](TakeMeasures& t) { t.format.sampleRate = 44100; },
       {"format", "format", "format", "format"}},
      {"silent, clipped and of another format",
       [](TakeMeasures& t) {
         t.voiced = false;
         t.clippedSamples = 1;
         t.headMs = 0;
         t.peakDb = 0;
         t.format.channels = 2;
       },
       {"clipped silent format", "clipped silent format", "clipped silent format",
        "clipped silent format"}},
  };
  const TakeContext context{.expectedFormat = Good().format};
  for (std::size_t p = 0; p < BuiltInProfileNames().size(); ++p) {
    const std::optional<DeliveryProfile> profile = BuiltInProfile(BuiltInProfileNames()[p]);
    ASSERT_TRUE(profile);
    for (const Case& c : cases) {
      TakeMeasures take = Good();
      c.change(take);
      EXPECT_EQ(Words(FindProblems(take, *profile, context)), c.expected[p])
          << profile->name << ": " << c.what;
    }
  }
}

TEST(Judgement, TheStripSaysWhatIsWrongWithItsFigures) {
  struct Case {
    std::string_view profile;
    std::function<void(TakeMeasures&)> change;
    TakeContext context;
    std::string summary;
    Severity severity;
  };
  const Case cases[] = {
      {"course", [](TakeMeasures&) {}, {}, "ok, peak -4.0 dB, 4.0 s", Severity::Ok},
      {"course",
       [](TakeMeasures& t) { t.clippedSamples = 1; },
       {},
       "clipped (1 sample)",
       Severity::Bad},
      {"acx",
       [](TakeMeasures& t) { t.voicedRmsDb = -24.25; },
       {},
       "too quiet (RMS -24.2 dB)",
       Severity::Warning},
      {"tts",
       [](TakeMeasures& t) { t.peakDb = -7; },
       {},
       "too quiet (peak -7.0 dB)",
       Severity::Warning},
      {"acx",
       [](TakeMeasures& t) { t.peakDb = -2; },
       {},
       "too loud (peak -2.0 dB)",
       Severity::Warning},
      {"acx",
       [](TakeMeasures& t) {
         t.headMs = 1250;
         t.tailMs = 6000;
       },
       {},
       "long silence at the start (1.2 s), long silence at the end (6.0 s)",
       Severity::Warning},
      {"acx",
       [](TakeMeasures& t) { t.noiseFloorDb = -52.3; },
       {},
       "noisy (floor -52.3 dB)",
       Severity::Warning},
      {"tts",
       [](TakeMeasures& t) { t.noiseFloorDb = -50; },
       {},
       "noisy (SNR 30.0 dB)",
       Severity::Warning},
      {"ebu-r128",
       [](TakeMeasures& t) {
         t.loudnessLufs = -19.2;
         t.truePeakDbtp = 0.4;
       },
       {},
       "loudness -19.2 LUFS, true peak 0.4 dBTP",
       Severity::Warning},
      {"acx",
       [](TakeMeasures&) {},
       {.lessonLoudnessLufs = -27.1},
       "4.1 LU louder than the lesson",
       Severity::Warning},
      {"tts",
       [](TakeMeasures&) {},
       {.speechRate = 6.8, .lessonSpeechRate = 10},
       "32 % slower than the lesson",
       Severity::Warning},
      {"course",
       [](TakeMeasures& t) { t.format.channels = 2; },
       {.expectedFormat = Good().format},
       "format mismatch (48000 Hz, stereo, 16-bit, not 48000 Hz, mono, 16-bit)",
       Severity::Bad},
  };
  for (const Case& c : cases) {
    TakeMeasures take = Good();
    c.change(take);
    const Judgement judgement = Judge(take, *BuiltInProfile(c.profile), c.context);
    EXPECT_EQ(judgement.summary, c.summary);
    EXPECT_EQ(judgement.severity, c.severity) << c.summary;
  }
}

// A figure that rounds onto its limit shows the decimal that decides, or is rounded away from the
// limit: the text never says a take lies on the side of the limit that passes.
TEST(Judgement, AFigureIsNeverRoundedOntoItsLimit) {
  struct Case {
    std::string_view profile;
    std::function<void(TakeMeasures&)> change;
    TakeContext context;
    std::string summary;
  };
  const Case cases[] = {
      // acx: peak at most -3 dB, RMS -23 to -18 dB, floor at most -60 dB, head at most 1 s
      {"acx", [](TakeMeasures& t) { t.peakDb = -2.96; }, {}, "too loud (peak -2.96 dB)"},
      {"acx", [](TakeMeasures& t) { t.peakDb = -2.999; }, {}, "too loud (peak -2.999 dB)"},
      {"acx", [](TakeMeasures& t) { t.peakDb = -2.99999; }, {}, "too loud (peak -2.999 dB)"},
      {"acx", [](TakeMeasures& t) { t.peakDb = -2.94; }, {}, "too loud (peak -2.9 dB)"},
      {"acx", [](TakeMeasures& t) { t.voicedRmsDb = -23.04; }, {}, "too quiet (RMS -23.04 dB)"},
      {"acx", [](TakeMeasures& t) { t.noiseFloorDb = -59.97; }, {}, "noisy (floor -59.97 dB)"},
      {"acx", [](TakeMeasures& t) { t.headMs = 1001; }, {}, "long silence at the start (1.001 s)"},
      {"acx",
       [](TakeMeasures&) {},
       {.lessonLoudnessLufs = -25.04},
       "2.04 LU louder than the lesson"},
      // tts: SNR at least 35 dB, pace within 25 %
      {"tts", [](TakeMeasures& t) { t.noiseFloorDb = -54.96; }, {}, "noisy (SNR 34.96 dB)"},
      {"tts",
       [](TakeMeasures&) {},
       {.speechRate = 12.54, .lessonSpeechRate = 10},
       "25.4 % faster than the lesson"},
      // ebu-r128: -23 LUFS within 1 LU, true peak at most -1 dBTP
      {"ebu-r128", [](TakeMeasures& t) { t.loudnessLufs = -21.96; }, {}, "loudness -21.96 LUFS"},
      {"ebu-r128", [](TakeMeasures& t) { t.loudnessLufs = -24.04; }, {}, "loudness -24.04 LUFS"},
      {"ebu-r128", [](TakeMeasures& t) { t.truePeakDbtp = -0.97; }, {}, "true peak -0.97 dBTP"},
  };
  for (const Case& c : cases) {
    TakeMeasures take = Good();
    c.change(take);
    EXPECT_EQ(Judge(take, *BuiltInProfile(c.profile), c.context).summary, c.summary);
  }
}

}  // namespace
}  // namespace voxtar::measures
