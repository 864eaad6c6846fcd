// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/lesson_list.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace voxtar::lesson {
namespace {

using Entries = std::vector<std::u16string>;

TEST(ChoicesFromLessonList, CaptionsHiddenLinesAndCase) {
  const LessonChoices choices = ChoicesFromLessonList(
      {u"Unit 1. Greetings", u"Unit01.ini", u"Unit 2. Numbers", u"-unit02.ini", u"lesson2.ini",
       u"LESSON4.INI", u"Lesson4.ini", u"lesson2.ini extra words"},
      u"");
  EXPECT_EQ(choices.entries,
            (Entries{u"unit01.ini (Unit 1. Greetings)", u"lesson2.ini (-unit02.ini)",
                     u"lesson4.ini (LESSON4.INI)", u"lesson2.ini extra words (lesson4.ini)"}));
  EXPECT_FALSE(choices.selection);
}

TEST(ChoicesFromLessonList, FirstLineHasAnEmptyCaption) {
  EXPECT_EQ(ChoicesFromLessonList({u"name.ini", u"x"}, u"").entries, (Entries{u"name.ini ()"}));
}

TEST(ChoicesFromLessonList, SelectsTheLastWholeLineEqualToTheLastChoice) {
  const std::vector<std::u16string> lines = {u"Greetings", u"lesson1.ini", u"Again", u"Lesson1.ini",
                                             u"lesson2.ini extra words"};
  EXPECT_EQ(ChoicesFromLessonList(lines, u"lesson1.ini").selection, 1);
  // The remembered name is compared with the whole line, so extra words never match.
  EXPECT_FALSE(ChoicesFromLessonList(lines, u"lesson2.ini").selection);
  EXPECT_FALSE(ChoicesFromLessonList(lines, u"").selection);
}

TEST(ChoicesFromIndexFiles, LowerCasedInTheGivenOrder) {
  const LessonChoices choices = ChoicesFromIndexFiles({u"b.idx", u"Lesson1.IDX"}, u"lesson1.idx");
  EXPECT_EQ(choices.entries, (Entries{u"b.idx", u"lesson1.idx"}));
  EXPECT_EQ(choices.selection, 1);
  // A choice remembered from the lesson list never matches an index file.
  EXPECT_FALSE(ChoicesFromIndexFiles({u"lesson1.idx"}, u"lesson1.ini").selection);
}

TEST(ChooseEntry, CutsAtTheFirstSpace) {
  LessonChoice choice = ChooseEntry(u"unit01.ini (Unit 1. Greetings)", u"/w");
  EXPECT_EQ(choice.lastChosen, u"unit01.ini");
  EXPECT_EQ(choice.chosenPath, u"/w/Ini/unit01.ini");
  choice = ChooseEntry(u"my lesson.idx", u"/w");
  EXPECT_EQ(choice.chosenPath, u"/w/Ini/my");
  choice = ChooseEntry(u"lesson1.idx", u"/w");
  EXPECT_EQ(choice.chosenPath, u"/w/Ini/lesson1.idx");
}

TEST(ReadLessonChoices, ReadsTheLessonListWithItsLastLineUnterminated) {
  testing::TempDir dir;
  testing::WriteBytes(dir / "Ini/lessons.ini",
                      "Unit 1. Greetings\r\nUnit01.ini\r\nUnit 2. Numbers\r\nunit02.ini");
  testing::WriteBytes(dir / "Ini/other.idx", "");
  const LessonChoices choices = ReadLessonChoices(dir.wide(), u"unit02.ini");
  EXPECT_EQ(choices.entries,
            (Entries{u"unit01.ini (Unit 1. Greetings)", u"unit02.ini (Unit 2. Numbers)"}));
  EXPECT_EQ(choices.selection, 1);
}

TEST(ReadLessonChoices, ReadsUtf16AndCyrillicLists) {
  testing::TempDir dir;
  testing::WriteBytes(dir / "Ini/lessons.ini",
                      "\xFF\xFE" + testing::Utf16LeBytes(u"Урок 4\r\nunit04.ini\r\n"));
  EXPECT_EQ(ReadLessonChoices(dir.wide(), u"").entries, (Entries{u"unit04.ini (Урок 4)"}));
  testing::WriteBytes(dir / "Ini/lessons.ini", "\xD3\xF0\xEE\xEA 4\nunit04.ini\n");
  EXPECT_EQ(ReadLessonChoices(dir.wide(), u"").entries, (Entries{u"unit04.ini (Урок 4)"}));
}

TEST(ReadLessonChoices, FallsBackToTheIndexFilesSortedIgnoringCase) {
  testing::TempDir dir;
  testing::WriteBytes(dir / "Ini/b.idx", "");
  testing::WriteBytes(dir / "Ini/Lesson1.IDX", "");
  testing::WriteBytes(dir / "Ini/a.txt", "");
  testing::WriteBytes(dir / "Ini/my lesson.idx", "");
  const LessonChoices choices = ReadLessonChoices(dir.wide(), u"b.idx");
  EXPECT_EQ(choices.entries, (Entries{u"b.idx", u"lesson1.idx", u"my lesson.idx"}));
  EXPECT_EQ(choices.selection, 0);
}

TEST(ReadLessonChoices, EmptyWithoutListOrIndexes) {
  testing::TempDir dir;
  EXPECT_TRUE(ReadLessonChoices(dir.wide(), u"").entries.empty());
  testing::WriteBytes(dir / "Ini/lessons.ini", "Just a caption\n");
  testing::WriteBytes(dir / "Ini/x.idx", "");
  EXPECT_TRUE(ReadLessonChoices(dir.wide(), u"").entries.empty());
}

}  // namespace
}  // namespace voxtar::lesson
