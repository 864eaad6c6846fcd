// SPDX-License-Identifier: GPL-3.0-or-later
#include "import/new_lesson.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "lesson/lesson.h"
#include "lesson/lesson_list.h"
#include "tests/support/temp_dir.h"

namespace voxtar::import {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::WriteBytes;

// Every file below the directory with its bytes (directories as "/").
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    tree[entry.path().string()] = entry.is_directory() ? "/" : ReadBytes(entry.path());
  }
  return tree;
}

class MakeLessonTest : public ::testing::Test {
 protected:
  MakeLessonTest() {
    WriteBytes(tmp / "w/Ini/lessons.ini", kList);
    WriteBytes(tmp / "w/Ini/unit01.idx", "a.wav Hello there\r\n");
    WriteBytes(tmp / "w/list.txt", "Good morning!\nДобрый вечер.\n");
  }
  NewLessonOutcome Make(std::string_view index, std::optional<std::u16string> caption = {},
                        bool force = false) const {
    return MakeLesson((tmp / index).u16string(), (tmp / "w/list.txt").u16string(),
                      {.caption = std::move(caption), .prefix = std::nullopt, .force = force});
  }

  static constexpr std::string_view kList = "\xD3\xF0\xEE\xEA 1\r\nunit01.ini\r\n";
  testing::TempDir tmp;
};

// Chosen from the lesson list as the window chooses it, the lesson loads with the list's prompts.
TEST_F(MakeLessonTest, TheNewLessonLoadsFromTheLessonList) {
  fs::create_directory(tmp / "w/Ini/sub");
  const NewLessonOutcome outcome = Make("w/INI/sub/unit05.ini", u"Урок 5");
  ASSERT_TRUE(outcome.made) << outcome.reason;
  EXPECT_EQ(outcome.prompts, 2);
  EXPECT_EQ(ReadBytes(tmp / "w/Ini/sub/unit05.idx"),
            "\xFF\xFE" + testing::Utf16LeBytes(u"unit05_001.wav Good morning!\r\n"
                                               u"unit05_002.wav Добрый вечер.\r\n"));
  EXPECT_EQ(ReadBytes(tmp / "w/Ini/lessons.ini"),
            std::string(kList) + "\xD3\xF0\xEE\xEA 5\r\nsub/unit05.ini\r\n");
  EXPECT_TRUE(fs::is_directory(tmp / "w/Prompt"));

  const lesson::LessonChoices choices = lesson::ReadLessonChoices(tmp.wide() + u"/w", u"");
  ASSERT_EQ(choices.entries.size(), 2u);
  lesson::Lesson lesson;
  ASSERT_EQ(
      lesson.LoadLesson(lesson::ChooseEntry(choices.entries[1], tmp.wide() + u"/w").chosenPath)
          .result,
      lesson::LoadResult::Loaded);
  ASSERT_EQ(lesson.prompts.count, 2);
  EXPECT_EQ(lesson.prompts.entries[1]->name, u"unit05_002.wav");
  EXPECT_EQ(lesson.prompts.entries[1]->text, u"Добрый вечер.");
}

// Refused for the list, the lesson list, an index that exists, or a path that would lead out of
// the "ini" folder of its working directory ("..", ".", a link): nothing at all is written.
TEST_F(MakeLessonTest, ARefusedLessonWritesNothing) {
  WriteBytes(tmp / "w/Ini/unit02.idx", "a.wav Hello there\r\n");
  fs::create_directories(tmp / "outside");
  fs::create_directory_symlink(tmp / "outside", tmp / "w/Ini/link");
  fs::create_directories(tmp / "w2");
  fs::create_directory_symlink(tmp / "outside", tmp / "w2/Ini");
  const std::string leadsTo = "it leads to " + fs::canonical(tmp / "outside").string() +
                              ", not into the \"ini\" folder of its working directory " +
                              fs::canonical(tmp.path()).string();
  const std::string dots = " in the path: a lesson lies in the \"ini\" folder or a folder below it";
  const struct {
    std::string index;
    std::string list;
    std::optional<std::u16string> caption;
    Concern concern;
    int line;
    std::string reason;
  } cases[] = {
      {"w/Ini/unit05.idx", "Hello\nBad\x01 line\n", std::nullopt, Concern::Sentences, 2,
       "text has a control character (U+0001)"},
      {"w/Ini/unit05.idx", "Hello\n", u"日本", Concern::LessonList, 0,
       "the list is 8-bit Windows-1251 text, which has no U+65E5; convert it to UTF-8 or choose "
       "another caption"},
      {"w/Ini/UNIT02.ini", "Hello\n", std::nullopt, Concern::Index, 0,
       "exists already (--force replaces it)"},
      {"w/other/unit05.idx", "Hello\n", std::nullopt, Concern::Index, 0,
       "invalid directory: an index lies below a directory named \"ini\""},
      {"w/Ini/", "Hello\n", std::nullopt, Concern::Index, 0, "the path names no lesson"},
      {"w/Ini/unit05.idx", "", std::nullopt, Concern::Sentences, 0, "no sentences"},
      {"w/Ini/unit05.idx", "Hello\n> Good day\n", std::nullopt, Concern::Sentences, 2,
       "text begins with \"> \", the mark of an edited prompt"},
      {"w/Ini/../../outside/y.idx", "Hello\n", std::nullopt, Concern::Index, 0, "\"..\"" + dots},
      {"w/Ini/./y.idx", "Hello\n", std::nullopt, Concern::Index, 0, "\".\"" + dots},
      {"w/Ini/...idx", "Hello\n", std::nullopt, Concern::Index, 0, "the path names no lesson"},
      {"w/Ini/link/y.idx", "Hello\n", std::nullopt, Concern::Index, 0, leadsTo + "/w"},
      {"w2/Ini/y.idx", "Hello\n", std::nullopt, Concern::Index, 0, leadsTo + "/w2"},
  };
  for (const auto& c : cases) {
    WriteBytes(tmp / "w/list.txt", c.list);
    const auto before = Tree(tmp.path());
    const NewLessonOutcome outcome = Make(c.index, c.caption);
    EXPECT_FALSE(outcome.made) << c.reason;
    EXPECT_FALSE(outcome.indexWritten);
    EXPECT_EQ(outcome.concern, c.concern) << c.reason;
    EXPECT_EQ(outcome.line, c.line) << c.reason;
    EXPECT_EQ(outcome.reason, c.reason);
    // What was asked is at fault, for every path refused (an existing index is no such fault).
    EXPECT_EQ(outcome.badRequest, c.concern == Concern::Index && !c.reason.starts_with("exists"))
        << c.reason;
    EXPECT_EQ(Tree(tmp.path()), before) << c.reason;
  }
  // Both files are ready before either is replaced: a list that cannot be written keeps the
  // index from being written too.
  WriteBytes(tmp / "w/list.txt", "Hello\n");
  fs::permissions(tmp / "w/Ini/lessons.ini", fs::perms::owner_read);
  const auto before = Tree(tmp.path());
  const NewLessonOutcome outcome = Make("w/Ini/unit05.idx");
  EXPECT_EQ(outcome.concern, Concern::LessonList);
  EXPECT_TRUE(outcome.reason.starts_with("cannot write file: ")) << outcome.reason;
  EXPECT_EQ(Tree(tmp.path()), before);
}

}  // namespace
}  // namespace voxtar::import
