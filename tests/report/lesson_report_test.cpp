#include "report/lesson_report.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdlib>
#include <filesystem>

#include "measures/delivery_profile.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"
#include "tests/support/temp_dir.h"

namespace voxtar::report {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

void Save(const audio::WaveElement& take, const std::filesystem::path& path) {
  std::string why;
  ASSERT_TRUE(audio::WriteWaveFile(take, platform::FromUtf8(path.string()), &why)) << why;
}

// Every kind of prompt once: what each counts as, which takes are judged, and how.
TEST(GatherLesson, CountsEveryKindOfPromptAndJudgesTheTakes) {
  const testing::TempDir tmp;
  ::setenv("XDG_CACHE_HOME", (tmp / "cache").c_str(), 1);
  testing::WriteBytes(tmp / "ini/l.idx",
                      "a.wav Hello there\r\n"     // passes
                      "b.wav Good morning\r\n"    // clipped
                      "c.wav 12\r\n"              // too short to speak: recorded, not judged
                      "d.wav Good night\r\n"      // pending, no take
                      "e.wav > See you soon\r\n"  // edited since: pending, its take passes
                      "f.wav Thank you\r\n"       // not a sound file: cannot be read
                      "g.wav Not at all\r\n");    // 22050 Hz: format mismatch
  std::filesystem::create_directories(tmp / "Prompt/l");
  Save(audio::SpokenTake(kWav16), tmp / "Prompt/l/a.wav");
  Save(audio::SpokenTake(kWav16, 44100, 1, 1.3), tmp / "Prompt/l/b.wav");
  Save(audio::SpokenTake(kWav16), tmp / "Prompt/l/c.wav");
  Save(audio::SpokenTake(kWav16), tmp / "Prompt/l/E.WAV");  // found whatever its letter case
  testing::WriteBytes(tmp / "Prompt/l/f.wav", "RIFF");
  Save(audio::SpokenTake(kWav16, 22050), tmp / "Prompt/l/g.wav");

  Lesson lesson;
  ASSERT_EQ(
      lesson.LoadLesson(platform::FromUtf8((tmp / "ini/l.idx").string()), {.dryRun = true}).result,
      LoadResult::Loaded);
  lesson.ScanRecordedPrompts();
  const LessonReport report = GatherLesson(lesson, *measures::BuiltInProfile("course"),
                                           measures::TakeFormat{44100, 1, SF_FORMAT_PCM_16});

  EXPECT_EQ(report.counts,
            (Counts{.prompts = 7, .recorded = 6, .pending = 2, .passing = 2, .flagged = 3}));
  struct Expected {
    int number;
    const char* name;
    bool read;
    bool flagged;
  };
  const Expected expected[] = {{1, "a.wav", true, false},
                               {2, "b.wav", true, true},
                               {5, "e.wav", true, false},
                               {6, "f.wav", false, true},
                               {7, "g.wav", true, true}};
  ASSERT_EQ(report.takes.size(), std::size(expected));
  for (std::size_t i = 0; i < report.takes.size(); ++i) {
    const TakeRow& take = report.takes[i];
    EXPECT_EQ(take.number, expected[i].number) << i;
    EXPECT_EQ(take.name, expected[i].name) << i;
    EXPECT_EQ(take.read, expected[i].read) << i;
    EXPECT_EQ(take.flagged(), expected[i].flagged) << i;
  }
  EXPECT_TRUE(report.takes[1].judgement.Has(measures::Problem::Clipped));
  EXPECT_NE(report.takes[3].error, "");
  EXPECT_TRUE(report.takes[4].judgement.Has(measures::Problem::Format));
  EXPECT_EQ(report.takes[2].text, "> See you soon");
  EXPECT_TRUE(report.medianLoudnessLufs);
  // The next report reads less; nothing is written beside the takes.
  EXPECT_FALSE(std::filesystem::is_empty(tmp / "cache/voxtar"));
  EXPECT_FALSE(std::filesystem::exists(tmp / "Prompt/l/.measures"));
  ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace voxtar::report
