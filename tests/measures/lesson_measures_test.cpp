// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/lesson_measures.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>

#include "tests/measures/measures_test_support.h"

namespace voxtar::measures {
namespace {

// A voiced take of the given loudness whose voice lasts `spanMs`.
TakeMeasures Take(double lufs, std::uint32_t spanMs) {
  TakeMeasures take;
  take.voiced = true;
  take.peakDb = take.voicedPeakDb = -6.0;
  take.voicedRmsDb = -18.0;
  take.headMs = take.tailMs = 500;
  take.voicedSpanMs = spanMs;
  take.loudnessLufs = lufs;
  return take;
}

class Lesson : public ::testing::Test {
 protected:
  // Five prompts of 20 characters ("> " aside) and a short one without a take.
  Lesson() : lesson(*BuiltInProfile("tts")) {
    lesson.SetPrompts({{u"a.wav", u"Twenty characters ab"},
                       {u"b.wav", u"> Twenty characters ab"},
                       {u"c.wav", u"Twenty characters ab"},
                       {u"d.wav", u"Twenty characters ab"},
                       {u"e.wav", u"Twenty characters ab"},
                       {u"f.wav", u"12"}});
    lesson.SetMeasures(u"a.wav", Take(-20.0, 2000));  // 10 characters a second
    lesson.SetMeasures(u"b.wav", Take(-20.5, 2000));
    lesson.SetMeasures(u"c.wav", Take(-19.5, 2000));
    lesson.SetMeasures(u"d.wav", Take(-20.0, 1500));  // 13.3: a third faster
    lesson.SetMeasures(u"e.wav", Take(-15.5, 2000));  // 4.5 LU louder
  }
  std::string Flags(std::size_t index) const {
    const std::optional<Judgement> judgement = lesson.Judge(index);
    return judgement ? judgement->summary : "no take";
  }

  LessonMeasures lesson;
};

TEST_F(Lesson, ATakeUnlikeTheOthersIsFlagged) {
  EXPECT_EQ(lesson.medianLoudnessLufs(), -20.0);
  EXPECT_EQ(lesson.medianSpeechRate(), 10.0);
  EXPECT_EQ(Flags(0), "ok, peak -6.0 dB, 0.0 s");
  EXPECT_EQ(Flags(1), "ok, peak -6.0 dB, 0.0 s");  // the edit marker is not read out
  EXPECT_EQ(Flags(3), "33 % faster than the lesson");
  EXPECT_EQ(Flags(4), "4.5 LU louder than the lesson");
  EXPECT_EQ(Flags(5), "no take");

  // The take saved again, as loud as the others: the lesson follows.
  lesson.SetMeasures(u"e.wav", Take(-20.2, 2000));
  EXPECT_EQ(Flags(4), "ok, peak -6.0 dB, 0.0 s");
  // A longer text makes d's pace right; forgetting takes moves the medians.
  lesson.SetText(3, u"Fifteen chars a");
  EXPECT_EQ(Flags(3), "ok, peak -6.0 dB, 0.0 s");
  lesson.ForgetMeasures(u"a.wav");
  lesson.ForgetMeasures(u"c.wav");
  EXPECT_EQ(lesson.medianLoudnessLufs(), -20.2);
  EXPECT_EQ(Flags(0), "no take");

  // Under the course profile the lesson's medians are not judged.
  lesson.SetProfile(*BuiltInProfile("course"), std::nullopt);
  lesson.SetMeasures(u"e.wav", Take(-10.0, 500));
  EXPECT_EQ(Flags(4), "ok, peak -6.0 dB, 0.0 s");
}

TEST_F(Lesson, NextFlaggedGoesRoundTheLesson) {
  // Flagged: d (3) and e (4).
  const std::pair<std::size_t, std::optional<std::size_t>> steps[] = {
      {6, 3}, {0, 3}, {3, 4}, {4, 3}, {5, 3},
  };
  for (const auto& [from, next] : steps) {
    EXPECT_EQ(lesson.NextFlagged(from), next) << from;
  }
  lesson.SetMeasures(u"e.wav", Take(-20.0, 2000));
  EXPECT_EQ(lesson.NextFlagged(3), 3u);  // itself, last
  lesson.SetMeasures(u"d.wav", Take(-20.0, 2000));
  EXPECT_EQ(lesson.NextFlagged(3), std::nullopt);
}

TEST_F(Lesson, MeasuresFollowThePromptsByName) {
  EXPECT_FALSE(lesson.SetMeasures(u"x.wav", Take(-20.0, 2000)));
  EXPECT_FALSE(lesson.SetMeasures(u"A.WAV", Take(-20.0, 2000)));
  lesson.SetPrompts({{u"e.wav", u"Twenty characters ab"}, {u"a.wav", u"short"}});
  ASSERT_NE(lesson.measures(0), nullptr);
  EXPECT_EQ(lesson.measures(0)->loudnessLufs, -15.5);
  EXPECT_EQ(lesson.medianLoudnessLufs(), (-15.5 - 20.0) / 2);
  EXPECT_EQ(lesson.size(), 2u);
}

class Takes : public TakeFiles {};

TEST_F(Takes, MeasuredOnSeveralThreadsInTheirOrder) {
  std::vector<std::u16string> names;
  std::vector<TakeMeasures> expected;
  for (int n = 0; n < 12; ++n) {
    const std::string name = "t" + std::to_string(n) + ".wav";
    names.push_back(platform::FromUtf8(name));
    expected.push_back(Measure(
        audio::SpokenTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 0.05 * (n + 1)), name));
  }
  testing::WriteBytes(tmp / "t5.wav", "RIFF");
  names.emplace_back(u"gone.wav");
  for (const unsigned threads : {1u, 2u, 8u}) {
    const std::vector<MeasuredTake> measured =
        MeasureTakes(tmp.wide(true), names, nullptr, threads);
    ASSERT_EQ(measured.size(), names.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(measured[i].read, i != 5) << i;
      if (i != 5) {
        EXPECT_EQ(measured[i].measures, expected[i]) << i;
      }
    }
    EXPECT_NE(measured[5].error.find("t5.wav"), std::string::npos);
    EXPECT_NE(measured.back().error.find("cannot be opened"), std::string::npos);
  }
}

}  // namespace
}  // namespace voxtar::measures
