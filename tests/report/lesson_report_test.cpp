// SPDX-License-Identifier: GPL-3.0-or-later
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

  lesson::Lesson lesson;
  ASSERT_EQ(
      lesson.LoadLesson(platform::FromUtf8((tmp / "ini/l.idx").string()), {.dryRun = true}).result,
      lesson::LoadResult::Loaded);
  lesson.ScanRecordedPrompts();
  const LessonReport report = GatherLesson(lesson, *measures::BuiltInProfile("course"),
                                           measures::TakeFormat{44100, 1, SF_FORMAT_PCM_16});

  EXPECT_EQ(report.counts,
            (Counts{.prompts = 7, .recorded = 6, .pending = 2, .passing = 2, .flagged = 3}));
  struct Expected {
    int number;
    const char* name;
    bool missing;
    bool read;
    bool flagged;
  };
  const Expected expected[] = {{1, "a.wav", false, true, false}, {2, "b.wav", false, true, true},
                               {4, "d.wav", true, false, true},  // named, not only counted
                               {5, "e.wav", false, true, false}, {6, "f.wav", false, false, true},
                               {7, "g.wav", false, true, true}};
  ASSERT_EQ(report.takes.size(), std::size(expected));
  for (std::size_t i = 0; i < report.takes.size(); ++i) {
    const TakeRow& take = report.takes[i];
    EXPECT_EQ(take.number, expected[i].number) << i;
    EXPECT_EQ(take.name, expected[i].name) << i;
    EXPECT_EQ(take.missing, expected[i].missing) << i;
    EXPECT_EQ(take.read, expected[i].read) << i;
    EXPECT_EQ(take.flagged(), expected[i].flagged) << i;
  }
  EXPECT_TRUE(report.takes[1].judgement.Has(measures::Problem::Clipped));
  EXPECT_EQ(report.takes[2].text, "Good night");
  EXPECT_NE(report.takes[4].error, "");
  EXPECT_TRUE(report.takes[5].judgement.Has(measures::Problem::Format));
  EXPECT_EQ(report.takes[3].text, "> See you soon");
  EXPECT_TRUE(report.medianLoudnessLufs);
  // The next report reads less; nothing is written beside the takes.
  EXPECT_FALSE(std::filesystem::is_empty(tmp / "cache/voxtar"));
  EXPECT_FALSE(std::filesystem::exists(tmp / "Prompt/l/.measures"));
  ::unsetenv("XDG_CACHE_HOME");
}

// A lesson's caption is the line before its line in the lesson list, as the lesson chooser shows
// it: found whatever the letter case, the list's encoding, a lesson kept out of the chooser ("-")
// or a sub folder; nothing where the list does not name the lesson or gives it no caption.
TEST(LessonCaption, IsTheLineBeforeTheLessonsLineInTheLessonList) {
  const testing::TempDir tmp;
  struct Case {
    std::string list;  // Ini/lessons.ini; empty: none
    const char* index;
    std::string caption;
  };
  const std::string list =
      "Unit 1. Greetings\r\nunit01.ini\r\n"
      "  Unit 2. Numbers  \r\nUnit02.ini\r\n"
      "Unit 3 (not ready)\r\n-unit03.ini\r\n"
      "unit05.ini\r\n"
      "\r\nunit06.ini\r\n"
      "Extra, in a folder\r\nmore/unit07.ini extra words\r\n";
  const Case cases[] = {
      {list, "Ini/unit01.idx", "Unit 1. Greetings"},
      {list, "Ini/UNIT02.idx", "Unit 2. Numbers"},
      {list, "Ini/unit03.idx", "Unit 3 (not ready)"},
      {list, "Ini/unit04.idx", ""},  // not in the list
      {list, "Ini/unit06.idx", ""},  // a blank line before it
      {list, "Ini/more/unit07.idx", "Extra, in a folder"},
      {"unit01.ini\r\nunit05.ini\r\n", "Ini/unit05.idx", ""},  // after another lesson
      {"\xD3\xF0\xEE\xEA 4\r\nunit04.ini\r\n", "Ini/unit04.idx",
       "\xD0\xA3\xD1\x80\xD0\xBE\xD0\xBA 4"},  // Windows-1251 "Урок 4"
      {"", "Ini/unit01.idx", ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(tmp / "Ini");
    std::filesystem::create_directories(tmp / "Ini");
    if (!c.list.empty()) {
      testing::WriteBytes(tmp / "Ini/lessons.ini", c.list);
    }
    EXPECT_EQ(LessonCaption(platform::FromUtf8((tmp / c.index).string())), c.caption) << c.index;
  }
}

}  // namespace
}  // namespace voxtar::report
