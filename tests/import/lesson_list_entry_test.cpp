// SPDX-License-Identifier: GPL-3.0-or-later
#include "import/lesson_list_entry.h"

#include <gtest/gtest.h>

#include "lesson/lesson_list.h"
#include "tests/support/temp_dir.h"

namespace voxtar::import {
namespace {

using namespace std::string_literals;

using testing::Utf16LeBytes;

// Each list keeps its bytes, and the lesson chooser reads the new entry from it.
TEST(AddToLessonList, AppendsInTheListsOwnEncodingAndLineEnding) {
  const struct {
    std::string existing;
    std::string appended;
  } cases[] = {
      // 8-bit Windows-1251 with CR LF, as the demo's list.
      {"\xD3\xF0\xEE\xEA 1\r\nunit01.ini\r\n",
       "\xD3\xF0\xEE\xEA 5. \xA8\xEB\xEA\xE0\r\nunit05.ini\r\n"},
      // UTF-16LE with LF and an unterminated last line.
      {"\xFF\xFE" + Utf16LeBytes(u"Урок 1\nunit01.ini"),
       Utf16LeBytes(u"\nУрок 5. Ёлка\nunit05.ini\n")},
      {"\xEF\xBB\xBFУрок 1\nunit01.ini\n", "Урок 5. Ёлка\nunit05.ini\n"},
      // Plain ASCII takes UTF-8, which the chooser then reads the whole list as.
      {"Unit 1\r\nunit01.ini\r\n", "Урок 5. Ёлка\r\nunit05.ini\r\n"},
  };
  for (const auto& c : cases) {
    const ListEdit edit = AddToLessonList(c.existing, u"Урок 5. Ёлка", u"unit05.ini", {});
    EXPECT_EQ(edit.refusal, "");
    EXPECT_EQ(edit.listing, Listing::Added);
    EXPECT_EQ(edit.bytes, c.existing + c.appended);

    testing::TempDir dir;
    testing::WriteBytes(dir / "Ini/lessons.ini", edit.bytes);
    const lesson::LessonChoices choices = lesson::ReadLessonChoices(dir.wide(), u"");
    ASSERT_EQ(choices.entries.size(), 2u);
    EXPECT_EQ(choices.entries.back(), u"unit05.ini (Урок 5. Ёлка)");
  }
}

TEST(AddToLessonList, ALessonIsListedOnceAsTheChooserFindsIt) {
  const struct {
    std::string existing;
    Listing listing;
  } cases[] = {
      {"Five\r\nUnit05.ini (old)\r\n", Listing::AlreadyListed},
      {"Five\r\n-unit05.ini\r\n", Listing::ListedHidden},
      {"-unit05.ini\r\nunit05.ini\r\n", Listing::AlreadyListed},
      // Not lesson lines to the chooser, which looks for ".ini" as written.
      {"UNIT05.INI\r\nunit05.ini.bak\r\n", Listing::Added},
  };
  for (const auto& c : cases) {
    const ListEdit edit = AddToLessonList(c.existing, u"Five", u"unit05.ini", {});
    EXPECT_EQ(edit.listing, c.listing) << c.existing;
  }
  EXPECT_EQ(AddToLessonList("Five\r\nsub/UNIT05.ini\r\n", u"Five", u"sub/unit05.ini", {}).bytes,
            "");
}

TEST(AddToLessonList, RefusesWhatTheListCannotHold) {
  const struct {
    std::string existing;
    std::u16string caption;
    std::u16string line;
    std::string refusal;
  } cases[] = {
      {"\xD3\xF0\xEE\xEA 1\r\n", u"Урок 日本", u"u.ini",
       "the list is 8-bit Windows-1251 text, which has no U+65E5; convert it to UTF-8 or choose "
       "another caption"},
      {"\xFF\xFE"
       "A\0\n"s,
       u"Five", u"u.ini", "the list is UTF-16LE text with an odd number of bytes"},
      {"", u"See u.ini", u"u.ini", "caption has \".ini\" in it, which would make it a lesson line"},
      {"", u"Tab\there", u"u.ini", "caption has a control character (U+0009)"},
      {"", std::u16string(256, u'c'), u"u.ini", "caption is longer than 255 characters"},
      {"", u"Five", u"my lesson.ini",
       "a lesson whose name has a space cannot be chosen from the lesson list"},
      {"", u"Five", u"-u.ini",
       "a lesson whose name begins with \"-\" would be hidden in the lesson list"},
  };
  for (const auto& c : cases) {
    const ListEdit edit = AddToLessonList(c.existing, c.caption, c.line, {});
    EXPECT_EQ(edit.refusal, c.refusal);
    EXPECT_EQ(edit.bytes, "");
  }
}

// Without a list the chooser offered every index; a new list must not take them away.
TEST(AddToLessonList, ANewListKeepsTheIndexesOfferedBefore) {
  const ListEdit edit = AddToLessonList(std::nullopt, u"Пять", u"unit05.ini",
                                        {u"unit01.idx", u"Unit05.IDX", u"x.ini.idx"});
  EXPECT_EQ(edit.bytes,
            "unit01\r\nunit01.ini\r\n\r\nx.ini.ini\r\n\xD0\x9F\xD1\x8F\xD1\x82\xD1\x8C\r\nunit05."
            "ini\r\n");
}

}  // namespace
}  // namespace voxtar::import
