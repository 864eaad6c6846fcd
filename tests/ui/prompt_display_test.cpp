// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/prompt_display.h"

#include <gtest/gtest.h>

#include "ui/dialog_controls.h"

namespace voxtar::ui {
namespace {

std::u16string Letters(int count) {
  return std::u16string(static_cast<std::size_t>(count), u'x');
}

TEST(DisplayText, BreaksAtFirstSpaceAfterFiftyOneCharacters) {
  EXPECT_EQ(DisplayText(Letters(51) + u" abc"), Letters(51) + u"\r\nabc");
  EXPECT_EQ(DisplayText(Letters(50) + u" abc"), Letters(50) + u" abc");
  // The count starts again after a break; the replaced space is not counted.
  EXPECT_EQ(DisplayText(Letters(51) + u" " + Letters(51) + u" y"),
            Letters(51) + u"\r\n" + Letters(51) + u"\r\ny");
  EXPECT_EQ(DisplayText(Letters(51) + u" " + Letters(50) + u" y"),
            Letters(51) + u"\r\n" + Letters(50) + u" y");
  // No space after the 51st character: the line runs on.
  EXPECT_EQ(DisplayText(Letters(120)), Letters(120));
}

TEST(DisplayText, HidesOnlyTheEditMarker) {
  EXPECT_EQ(DisplayText(u"> Good day"), u"Good day");
  EXPECT_EQ(DisplayText(u">Hello"), u">Hello");
  EXPECT_EQ(DisplayText(u""), u"");
  // The marker does not count towards the first line.
  EXPECT_EQ(DisplayText(u"> " + Letters(50) + u" a"), Letters(50) + u" a");
}

TEST(DisplayText, LongestTextFitsWithOneUnitPerBreak) {
  std::u16string text;
  while (text.size() + 52 <= lesson::kMaxPromptTextLength) {
    text += Letters(51) + u" ";
  }
  const std::u16string display = DisplayText(text);
  EXPECT_GT(display.size(), text.size());
  EXPECT_EQ(display.size() - text.size(), 9u);  // nine breaks, one extra unit each
}

TEST(StatisticsLine, ShowsNameAndRecordingStatus) {
  lesson::PromptEntry entry;
  entry.name = u"a001.wav";
  entry.text = u"Hello";
  EXPECT_EQ(StatisticsLine(entry), u"a001.wav : <File not found>");
  entry.recorded = true;
  EXPECT_EQ(StatisticsLine(entry), u"a001.wav :");
}

TEST(LessonCaption, PadsNumbersToThreeDigitsAtLeast) {
  EXPECT_EQ(LessonCaption(u"unit01", 1, 1), u"Voxtar - unit01.idx - [001 / 001]");
  EXPECT_EQ(LessonCaption(u"a.b", 1000, 1200), u"Voxtar - a.b.idx - [1000 / 1200]");
}

// "Ini\L1\x": separators at 3 and 6.
TEST(BackslashWordBreak, StepsOverSegments) {
  const std::u16string_view text = u"Ini\\L1\\x";
  ASSERT_EQ(text.size(), 8u);
  EXPECT_EQ(BackslashWordBreak(text, 0, kWordBreakRight), 4);
  EXPECT_EQ(BackslashWordBreak(text, 3, kWordBreakRight), 7);
  EXPECT_EQ(BackslashWordBreak(text, 4, kWordBreakRight), 7);
  EXPECT_EQ(BackslashWordBreak(text, 6, kWordBreakRight), 8);
  EXPECT_EQ(BackslashWordBreak(text, 8, kWordBreakLeft), 7);
  EXPECT_EQ(BackslashWordBreak(text, 7, kWordBreakLeft), 4);
  EXPECT_EQ(BackslashWordBreak(text, 5, kWordBreakLeft), 4);
  EXPECT_EQ(BackslashWordBreak(text, 4, kWordBreakLeft), 0);
  EXPECT_EQ(BackslashWordBreak(text, 1, kWordBreakLeft), 0);
}

TEST(BackslashWordBreak, OnlyTheLastBackslashOfARunSeparates) {
  EXPECT_EQ(BackslashWordBreak(u"a\\\\b", 0, kWordBreakRight), 3);
  // A backslash at the end separates; spaces never do.
  EXPECT_EQ(BackslashWordBreak(u"ab c\\", 0, kWordBreakRight), 5);
  EXPECT_EQ(BackslashWordBreak(u"ab cd", 0, kWordBreakRight), 5);
  EXPECT_EQ(BackslashWordBreak(u"ab cd", 4, kWordBreakLeft), 0);
  // Index 0 is never examined going left.
  EXPECT_EQ(BackslashWordBreak(u"\\abc", 3, kWordBreakLeft), 0);
}

TEST(BackslashWordBreak, DelimiterQueryAndUnknownActions) {
  EXPECT_EQ(BackslashWordBreak(u"a\\b", 1, kWordBreakIsDelimiter), 1);
  EXPECT_EQ(BackslashWordBreak(u"a\\b", 0, kWordBreakIsDelimiter), 0);
  EXPECT_EQ(BackslashWordBreak(u"a\\b", 3, kWordBreakIsDelimiter), 0);
  EXPECT_EQ(BackslashWordBreak(u"a\\b", 1, 7), 0);
  EXPECT_EQ(BackslashWordBreak(u"", 0, kWordBreakRight), 0);
}

}  // namespace
}  // namespace voxtar::ui
