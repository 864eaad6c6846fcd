// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/lesson.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/small_file_system.h"
#include "tests/support/temp_dir.h"
#include "text/text_line_reader.h"

namespace voxtar::lesson {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace std::string_view_literals;
using testing::ReadBytes;
using testing::Utf16LeBytes;
using testing::WriteBytes;

std::string Utf16Index(std::u16string_view lines) {
  return "\xFF\xFE" + Utf16LeBytes(lines);
}

std::vector<std::string> Names(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ino_t Inode(const fs::path& file) {
  struct stat info {};
  EXPECT_EQ(::stat(file.c_str(), &info), 0);
  return info.st_ino;
}

class LessonFiles : public ::testing::Test {
 protected:
  // The wide form of a path below the temporary directory.
  std::u16string Wide(std::string_view relative) const {
    return tmp.wide(true) + platform::FromUtf8(relative);
  }
  // Writes the index and returns its path as the chooser would pass it.
  std::u16string Write(std::string_view relative, std::string_view bytes) const {
    WriteBytes(tmp / relative, bytes);
    return Wide(relative);
  }

  testing::TempDir tmp;
  Lesson lesson;
};

TEST_F(LessonFiles, LoadsUtf16IndexAndWritesItBackUnchanged) {
  const std::string bytes = Utf16Index(u"a001.wav Hello world\r\na002.wav  two spaces\r\n");
  const std::u16string path = Write("w/ini/l.idx", bytes);
  const LoadOutcome outcome = lesson.LoadLesson(path);
  EXPECT_EQ(outcome.result, LoadResult::Loaded);
  EXPECT_TRUE(outcome.saved);
  EXPECT_EQ(lesson.state, LessonState::Saved);
  ASSERT_EQ(lesson.prompts.count, 2);
  EXPECT_EQ(lesson.prompts.entries.size(), 2u);
  EXPECT_EQ(lesson.prompts.currentIndex, 0);
  EXPECT_EQ(lesson.prompts.entries[0]->name, u"a001.wav");
  EXPECT_EQ(lesson.prompts.entries[1]->text, u" two spaces");
  EXPECT_EQ(lesson.lessonName, u"l");
  EXPECT_EQ(lesson.IndexPath(), path);
  EXPECT_EQ(lesson.PromptFilePath(), Wide("w/Prompt/l/a001.wav"));
  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), bytes);
}

TEST_F(LessonFiles, WriteBackNormalisesEncodingAndLineEnds) {
  struct Case {
    std::string bytes;
    std::u16string written;
  };
  const std::vector<Case> cases = {
      // 8-bit Windows-1251, CR LF: becomes UTF-16LE with mark; ё is B8.
      {"a.wav \xCF\xF0\xE8\xE2\xE5\xF2\r\nb.wav \xB8\xE6\r\n", u"a.wav Привет\r\nb.wav ёж\r\n"},
      // Bare LF, and a last line without line break.
      {"a.wav one\nb.wav two", u"a.wav one\r\nb.wav two\r\n"},
      {Utf16Index(u"a.wav one\nb.wav two"), u"a.wav one\r\nb.wav two\r\n"},
      // An edit marker is text like any other.
      {Utf16Index(u"a.wav > Changed\r\n"), u"a.wav > Changed\r\n"},
  };
  for (const Case& c : cases) {
    Lesson fresh;
    const LoadOutcome outcome = fresh.LoadLesson(Write("w/ini/l.idx", c.bytes));
    EXPECT_EQ(outcome.result, LoadResult::Loaded);
    EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), Utf16Index(c.written));
  }
}

// A line the index form cannot hold keeps the lesson read-only, every line whole as read: a
// write-back would lose text. Lines within the limits still load and write back as before.
TEST_F(LessonFiles, LinesBeyondTheLimitsAreKeptWholeAndNeverWrittenBack) {
  struct Case {
    std::string bytes;
    std::u16string name;  // of the line at `line` (1-based), as loaded
    std::u16string text;
    int line;
    LineLimit limit;  // None: written back as usual
    std::size_t length;
  };
  const std::u16string x511(511, u'x');
  const std::u16string x2000(2000, u'x');
  const std::u16string n31(31, u'n');
  const std::u16string cyrillic(1372, u'ж');  // 2,744 bytes of UTF-8
  const auto good = [](const std::string& line) { return line + "\r\nz.wav Last\r\n"; };
  const std::vector<Case> cases = {
      {Utf16Index(u"a.wav " + x511 + u"\r\n"), u"a.wav", x511, 1, LineLimit::None, 0},
      {Utf16Index(u"z.wav Hi\r\na.wav " + x511 + u"y\r\n"), u"a.wav", x511 + u"y", 2,
       LineLimit::TextTooLong, 512},
      // Longer than the reader's old line buffer of 1,022 units, which dropped the rest.
      {Utf16Index(u"a.wav " + x2000 + u"\r\n"), u"a.wav", x2000, 1, LineLimit::TextTooLong, 2000},
      {Utf16Index(n31 + u" Hello\r\n"), n31, u"Hello", 1, LineLimit::None, 0},
      {Utf16Index(n31 + u"n Hello\r\n"), n31 + u"n", u"Hello", 1, LineLimit::NameTooLong, 32},
      // 2,750 bytes of UTF-8 come from the reader in pieces, which are one line, not two.
      {good("a.wav " + platform::ToUtf8(cyrillic)), u"a.wav", cyrillic, 1, LineLimit::TextTooLong,
       1372},
      {good("a.wav " + std::string(1016, 'x') + " more"), u"a.wav",
       platform::FromUtf8(std::string(1016, 'x') + " more"), 1, LineLimit::TextTooLong, 1021},
      // A text ends at a CR or 0: what follows inside the line would be lost.
      {good("a.wav Hello\rb.wav World"), u"a.wav", u"Hello", 1, LineLimit::TextAfterBreak, 5},
      {Utf16Index(u"a.wav Hello\r\nb.wav Wor\0ld\r\n"sv), u"b.wav", u"Wor", 2,
       LineLimit::TextAfterBreak, 3},
      // Line ends and 0s alone lose nothing.
      {"a.wav Hello\r\r\nb.wav Hi\0\r\n"s, u"a.wav", u"Hello", 1, LineLimit::None, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.name) + " " + std::to_string(c.text.size()));
    fs::remove_all(tmp / "w");
    const std::u16string path = Write("w/ini/l.idx", c.bytes);
    Lesson dry;
    const LoadOutcome dryOutcome = dry.LoadLesson(path, {.dryRun = true});
    const LoadOutcome outcome = lesson.LoadLesson(path);
    ASSERT_EQ(outcome.result, LoadResult::Loaded);
    ASSERT_GE(lesson.prompts.count, c.line);
    const PromptEntry& entry = *lesson.prompts.entries[static_cast<std::size_t>(c.line - 1)];
    EXPECT_EQ(std::u16string_view(entry.name), c.name);
    EXPECT_EQ(std::u16string_view(entry.text), c.text);
    EXPECT_EQ(dryOutcome.overlongCount, outcome.overlongCount);
    if (c.limit == LineLimit::None) {
      EXPECT_TRUE(outcome.saved);
      EXPECT_EQ(outcome.overlongCount, 0);
      EXPECT_FALSE(lesson.readOnly());
      lesson.UnloadLesson();
      continue;
    }
    EXPECT_EQ(lesson.prompts.count, c.bytes.ends_with("Last\r\n") ? 2 : c.line);
    ASSERT_EQ(outcome.overlong.size(), 1u);
    EXPECT_EQ(outcome.overlong[0].line, c.line);
    EXPECT_EQ(outcome.overlong[0].limit, c.limit);
    EXPECT_EQ(outcome.overlong[0].length, c.length);
    EXPECT_FALSE(outcome.saved);
    EXPECT_TRUE(lesson.readOnly());
    // Neither an edit nor an unload writes it, or changes it in memory.
    lesson.MoveTo(c.line - 1);
    EXPECT_FALSE(lesson.CommitWouldChange(u"Changed"));
    EXPECT_TRUE(lesson.CommitEditedText(u"Changed"));
    EXPECT_EQ(std::u16string_view(entry.text), c.text);
    lesson.MarkRecorded();
    EXPECT_FALSE(lesson.SaveLesson());
    lesson.UnloadLesson();
    EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), c.bytes);
    EXPECT_EQ(Names(tmp / "w"), std::vector<std::string>{"ini"});
  }

  // Every such line is counted; the first ten are named.
  std::u16string many;
  for (int i = 0; i < 12; ++i) {
    many += u"a.wav " + x511 + u"y\r\n";
  }
  const LoadOutcome outcome = lesson.LoadLesson(Write("w/ini/l.idx", Utf16Index(many)));
  EXPECT_EQ(outcome.overlongCount, 12);
  EXPECT_EQ(outcome.overlong.size(), LoadOutcome::kMaxOverlongLines);
  EXPECT_EQ(outcome.overlong.back().Text(), "text of 512 characters, more than 511");
}

TEST_F(LessonFiles, CreatesOnlyThePromptRootAndTheLessonsPromptDirectory) {
  // <tmp>/Work/INI/lesson1.idx: both <tmp>/Work/Prompt/ and .../lesson1/ are created.
  const std::u16string work = Write("Work/INI/lesson1.idx", "a.wav Hello\r\n");
  ASSERT_EQ(lesson.LoadLesson(work).result, LoadResult::Loaded);
  EXPECT_EQ(lesson.paths.lessonDirectory, Wide("Work/INI/"));
  EXPECT_EQ(lesson.paths.promptDirectory, Wide("Work/Prompt/lesson1/"));
  EXPECT_EQ(lesson.IndexPath(), work);
  EXPECT_TRUE(fs::is_directory(tmp / "Work/Prompt/lesson1"));
  lesson.UnloadLesson();

  // <tmp>/c/ini/ru/a.b.idx: <tmp>/c/Prompt/ is created, <tmp>/c/Prompt/ru/ is not, so neither
  // is the lesson's own directory; the load goes on.
  const std::u16string nested = Write("c/ini/ru/a.b.idx", "a.wav Hello\r\n");
  ASSERT_EQ(lesson.LoadLesson(nested).result, LoadResult::Loaded);
  EXPECT_EQ(lesson.paths.promptDirectory, Wide("c/Prompt/ru/a.b/"));
  EXPECT_EQ(Names(tmp / "c"), (std::vector<std::string>{"Prompt", "ini"}));
  EXPECT_TRUE(Names(tmp / "c/Prompt").empty());
}

TEST_F(LessonFiles, ChosenNameIsFoundIgnoringCaseAndRewrittenInPlace) {
  WriteBytes(tmp / "w/Ini/Unit01.idx", "a.wav Hello\r\n");
  ASSERT_EQ(lesson.LoadLesson(Wide("w/ini/unit01.ini")).result, LoadResult::Loaded);
  EXPECT_EQ(Names(tmp / "w/Ini"), std::vector<std::string>{"Unit01.idx"});
  EXPECT_EQ(ReadBytes(tmp / "w/Ini/Unit01.idx"), Utf16Index(u"a.wav Hello\r\n"));
  EXPECT_EQ(Names(tmp / "w"), (std::vector<std::string>{"Ini", "Prompt"}));
}

TEST_F(LessonFiles, RefusedPathsCreateAndWriteNothing) {
  const std::string bytes = "a.wav Hello\r\n";
  WriteBytes(tmp / "w/x/l.idx", bytes);
  EXPECT_EQ(lesson.LoadLesson(Wide("w/x/l.idx")).result, LoadResult::InvalidDirectory);
  WriteBytes(tmp / "w/inis/l.idx", bytes);
  EXPECT_EQ(lesson.LoadLesson(Wide("w/inis/l.idx")).result, LoadResult::InvalidDirectory);
  EXPECT_EQ(Names(tmp / "w"), (std::vector<std::string>{"inis", "x"}));
  EXPECT_EQ(lesson.state, LessonState::NoLesson);

  // An index path of 256 characters is refused before anything is created; 255 loads.
  const std::size_t base = tmp.wide(true).size() + std::string("ini/").size();
  const std::string tooLong = "ini/" + std::string(kMaxPathLength + 1 - base - 4, 'n');
  WriteBytes(tmp / (tooLong + ".idx"), bytes);
  const LoadOutcome refused = lesson.LoadLesson(Wide(tooLong + ".idx"));
  EXPECT_EQ(refused.result, LoadResult::FileNotFound);
  EXPECT_EQ(lesson.IndexPath().size(), kMaxPathLength + 1);
  EXPECT_FALSE(fs::exists(tmp / "Prompt"));
  EXPECT_EQ(ReadBytes(tmp / (tooLong + ".idx")), bytes);

  const std::string fits = tooLong.substr(0, tooLong.size() - 1);
  WriteBytes(tmp / (fits + ".idx"), bytes);
  EXPECT_EQ(lesson.LoadLesson(Wide(fits + ".idx")).result, LoadResult::Loaded);
  EXPECT_EQ(lesson.paths.promptDirectory.size(), kMaxPathLength);
  EXPECT_TRUE(fs::is_directory(platform::NativePath(lesson.paths.promptDirectory)));
}

TEST_F(LessonFiles, MissingAndEmptyIndexes) {
  const LoadOutcome missing = lesson.LoadLesson(Wide("w/ini/gone.ini"));
  EXPECT_EQ(missing.result, LoadResult::FileNotFound);
  EXPECT_EQ(lesson.IndexPath(), Wide("w/ini/gone.idx"));  // the dialog's message text
  EXPECT_EQ(lesson.state, LessonState::NoLesson);
  // A directory in the index's place cannot be read either.
  fs::create_directories(tmp / "w/ini/dir.idx");
  EXPECT_EQ(lesson.LoadLesson(Wide("w/ini/dir.idx")).result, LoadResult::FileNotFound);

  for (const std::string& bytes : {std::string(), std::string("\xFF\xFE")}) {
    const std::u16string path = Write("w/ini/empty.idx", bytes);
    EXPECT_EQ(lesson.LoadLesson(path).result, LoadResult::FileEmpty);
    EXPECT_EQ(lesson.state, LessonState::NoLesson);
    EXPECT_EQ(ReadBytes(tmp / "w/ini/empty.idx"), bytes);
  }
}

TEST_F(LessonFiles, BadLineDiscardsEverythingAndLeavesTheFileAlone) {
  struct Case {
    std::string bytes;
    int line;
    BadLineReason reason;
  };
  const std::vector<Case> cases = {
      {"a.wav one\r\nb.wav two\r\nthird\r\n", 3, BadLineReason::NoSpace},
      {"a.wav one\r\n\r\n", 2, BadLineReason::NoSpace},  // trailing blank line
      {Utf16Index(u"a.wav one\r\n\r\nb.wav two\r\n"), 2, BadLineReason::NoSpace},
      {"\n", 1, BadLineReason::NoSpace},
      // An 8-bit line longer than one read comes back in two pieces but is one line.
      {"a.wav " + std::string(1016, 'x') + " more\r\nthird\r\n", 2, BadLineReason::NoSpace},
  };
  for (const Case& c : cases) {
    const std::u16string path = Write("w/ini/bad.idx", c.bytes);
    const LoadOutcome outcome = lesson.LoadLesson(path);
    EXPECT_EQ(outcome.result, LoadResult::BadLine);
    EXPECT_EQ(outcome.badLine, c.line);
    EXPECT_EQ(outcome.badLineReason, c.reason);
    EXPECT_EQ(lesson.prompts.count, 0);
    EXPECT_TRUE(lesson.prompts.entries.empty());
    EXPECT_EQ(lesson.state, LessonState::NoLesson);
    EXPECT_EQ(ReadBytes(tmp / "w/ini/bad.idx"), c.bytes);
  }

  // Nothing of the refused lesson survives into the next one.
  const std::u16string good = Write("w/ini/good.idx", "z.wav only\r\n");
  ASSERT_EQ(lesson.LoadLesson(good).result, LoadResult::Loaded);
  ASSERT_EQ(lesson.prompts.count, 1);
  EXPECT_EQ(lesson.prompts.entries[0]->name, u"z.wav");
  lesson.UnloadLesson();

  // Once the blank line is gone the same file loads.
  const std::u16string fixed = Write("w/ini/bad.idx", "a.wav one\r\n");
  EXPECT_EQ(lesson.LoadLesson(fixed).result, LoadResult::Loaded);
}

TEST_F(LessonFiles, IndexThatCannotBeReadIsNotLoaded) {
  // Every read of this file fails: a lesson read in part would be written back truncated.
  fs::create_directories(tmp / "w/ini");
  fs::create_symlink("/proc/self/mem", tmp / "w/ini/l.idx");
  EXPECT_EQ(lesson.LoadLesson(Wide("w/ini/l.idx")).result, LoadResult::FileNotFound);
  EXPECT_EQ(lesson.state, LessonState::NoLesson);
  EXPECT_EQ(lesson.prompts.count, 0);
}

TEST_F(LessonFiles, IndexesThatAreNoFileOrTooBigAreRefusedAndCreateNothing) {
  fs::create_directories(tmp / "w/ini");
  ASSERT_EQ(::mkfifo((tmp / "w/ini/fifo.idx").c_str(), 0600), 0);
  const LoadOutcome fifo = lesson.LoadLesson(Wide("w/ini/fifo.idx"));  // returns at once
  EXPECT_EQ(fifo.result, LoadResult::FileNotFound);
  EXPECT_EQ(fifo.failure, LoadFailure::NotRegularFile);

  // An index that never ends, as far as memory goes: refused by its size, unread.
  WriteBytes(tmp / "w/ini/huge.idx", "a.wav x\r\n");
  fs::resize_file(tmp / "w/ini/huge.idx", text::TextLineReader::kMaxFileSize + 1);
  const LoadOutcome huge = lesson.LoadLesson(Wide("w/ini/huge.idx"));
  EXPECT_EQ(huge.result, LoadResult::FileNotFound);
  EXPECT_EQ(huge.failure, LoadFailure::TooLarge);

  const LoadOutcome missing = lesson.LoadLesson(Wide("w/ini/gone.idx"));
  EXPECT_EQ(missing.failure, LoadFailure::NotFound);
  EXPECT_EQ(lesson.state, LessonState::NoLesson);
  EXPECT_FALSE(fs::exists(tmp / "w/Prompt"));  // no directories for a lesson that did not load
}

TEST_F(LessonFiles, TooManyPromptsAreRefused) {
  std::string lines;
  lines.reserve(static_cast<std::size_t>(kMaxPrompts + 1) * 4);
  for (std::int32_t i = 0; i <= kMaxPrompts; ++i) {
    lines += "a b\n";
  }
  const LoadOutcome outcome = lesson.LoadLesson(Write("w/ini/many.idx", lines));
  EXPECT_EQ(outcome.result, LoadResult::FileNotFound);
  EXPECT_EQ(outcome.failure, LoadFailure::TooManyPrompts);
  EXPECT_EQ(lesson.prompts.count, 0);
  EXPECT_EQ(ReadBytes(tmp / "w/ini/many.idx"), lines);
}

TEST_F(LessonFiles, Utf8IndexIsReadAsUtf8AndWrittenBackAsUtf16) {
  const std::u16string marked = Write("w/ini/m.idx",
                                      "\xEF\xBB\xBF"
                                      "a.wav \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 \xE2\x80\x94 ok\r\n");
  ASSERT_EQ(lesson.LoadLesson(marked).result, LoadResult::Loaded);
  EXPECT_EQ(lesson.prompts.entries[0]->name, u"a.wav");
  EXPECT_EQ(lesson.prompts.entries[0]->text, u"Ёлка — ok");
  lesson.UnloadLesson();
  EXPECT_EQ(ReadBytes(tmp / "w/ini/m.idx"),
            "\xFF\xFE" + testing::Utf16LeBytes(u"a.wav Ёлка — ok\r\n"));

  const std::u16string plain = Write("w/ini/p.idx", "\xD1\x91.wav \xD0\xB4\xD0\xB0\n");
  ASSERT_EQ(lesson.LoadLesson(plain).result, LoadResult::Loaded);
  EXPECT_EQ(lesson.prompts.entries[0]->name, u"ё.wav");
  EXPECT_EQ(lesson.prompts.entries[0]->text, u"да");
}

TEST_F(LessonFiles, ReadOnlyIndexLoadsButItsWriteBackFails) {
  const std::string bytes = "a.wav Hello\r\n";
  const std::u16string path = Write("w/ini/ro.idx", bytes);
  fs::permissions(tmp / "w/ini/ro.idx", fs::perms::owner_read | fs::perms::group_read);
  const LoadOutcome outcome = lesson.LoadLesson(path);
  EXPECT_EQ(outcome.result, LoadResult::Loaded);
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(lesson.state, LessonState::Saved);
  EXPECT_FALSE(lesson.saveError().empty());
  EXPECT_EQ(ReadBytes(tmp / "w/ini/ro.idx"), bytes);

  lesson.MarkRecorded();
  // The changes stay: unloading, or loading another lesson over it, keeps everything.
  EXPECT_FALSE(lesson.UnloadLesson());
  const LoadOutcome other = lesson.LoadLesson(Write("w/ini/other.idx", "b.wav Good day\r\n"));
  EXPECT_EQ(other.failure, LoadFailure::LessonStillOpen);
  EXPECT_EQ(lesson.state, LessonState::Modified);
  EXPECT_EQ(lesson.IndexPath(), path);
  ASSERT_EQ(lesson.prompts.count, 1);
  EXPECT_EQ(lesson.prompts.entries[0]->recorded, 1);
  EXPECT_NE(lesson.saveError().find("read-only"), std::string::npos) << lesson.saveError();
  EXPECT_EQ(ReadBytes(tmp / "w/ini/ro.idx"), bytes);
  // Until the operator lets them go.
  lesson.DiscardLesson();
  EXPECT_EQ(lesson.state, LessonState::NoLesson);
  EXPECT_EQ(lesson.prompts.count, 0);
  EXPECT_EQ(ReadBytes(tmp / "w/ini/ro.idx"), bytes);
}

// A small file system of its own, mounted for the test (root only), that can be filled up.
class FullFileSystem : public LessonFiles {
 protected:
  void SetUp() override {
    if (!small.mounted()) {
      GTEST_SKIP() << "needs root to mount a small file system";
    }
  }
  void Fill() const { small.Fill(); }

  testing::SmallFileSystem small{tmp / "small"};
};

TEST_F(FullFileSystem, UnloadKeepsAModifiedLessonItCannotWriteBack) {
  const std::string bytes = Utf16Index(u"a.wav Hello there\r\nb.wav Good day\r\n");
  const std::u16string path = Write("small/w/ini/l.idx", bytes);
  ASSERT_EQ(lesson.LoadLesson(path).result, LoadResult::Loaded);
  lesson.StepForward();
  lesson.CommitEditedText(std::u16string(400, u'x'));
  Fill();

  EXPECT_FALSE(lesson.UnloadLesson());
  EXPECT_NE(lesson.saveError().find("No space left on device"), std::string::npos)
      << lesson.saveError();
  EXPECT_EQ(lesson.state, LessonState::Modified);
  EXPECT_EQ(lesson.prompts.currentIndex, 1);
  EXPECT_EQ(std::u16string(lesson.prompts.entries[1]->text), u"> " + std::u16string(400, u'x'));
  EXPECT_EQ(lesson.paths.promptDirectory, Wide("small/w/Prompt/l/"));
  EXPECT_EQ(ReadBytes(tmp / "small/w/ini/l.idx"), bytes);
  EXPECT_EQ(Names(tmp / "small/w/ini"), std::vector<std::string>{"l.idx"});

  // Once there is room again, the same unload writes it.
  small.Empty();
  EXPECT_TRUE(lesson.UnloadLesson());
  EXPECT_EQ(lesson.state, LessonState::NoLesson);
  EXPECT_EQ(ReadBytes(tmp / "small/w/ini/l.idx"),
            Utf16Index(u"a.wav Hello there\r\nb.wav > " + std::u16string(400, u'x') + u"\r\n"));
}

TEST_F(LessonFiles, IndexChangedOnDiskIsNeverOverwrittenSilently) {
  const std::u16string path = Write("w/ini/l.idx", "a.wav Hello there\r\n");
  ASSERT_TRUE(lesson.LoadLesson(path).saved);
  lesson.CommitEditedText(u"Mine");
  // A text editor's save: a new file renamed over it, of the same size and with the same time.
  const std::string theirs = Utf16Index(u"a.wav Hello THERE\r\n");
  const auto time = fs::last_write_time(tmp / "w/ini/l.idx");
  WriteBytes(tmp / "w/ini/editor.tmp", theirs);
  fs::last_write_time(tmp / "w/ini/editor.tmp", time);
  fs::rename(tmp / "w/ini/editor.tmp", tmp / "w/ini/l.idx");

  EXPECT_FALSE(lesson.SaveLesson());
  EXPECT_TRUE(lesson.lastSave().changedOnDisk);
  EXPECT_FALSE(lesson.UnloadLesson());
  EXPECT_EQ(lesson.state, LessonState::Modified);
  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), theirs);

  ASSERT_TRUE(lesson.SaveLesson({.overwriteChanged = true})) << lesson.saveError();
  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), Utf16Index(u"a.wav > Mine\r\n"));
  const fs::path backup = lesson.lastSave().backup;
  EXPECT_EQ(backup.parent_path(), tmp / "w/ini");
  EXPECT_EQ(ReadBytes(backup), theirs);
  // The backup is no lesson: the lesson list does not offer it.
  EXPECT_EQ(platform::ListDirectory(Wide("w/ini"), u"*.idx"),
            std::vector<std::u16string>{u"l.idx"});

  // What the lesson wrote itself is no change.
  lesson.CommitEditedText(u"Mine again");
  EXPECT_TRUE(lesson.UnloadLesson()) << lesson.saveError();
  EXPECT_TRUE(lesson.lastSave().backup.empty());
}

TEST_F(LessonFiles, UnloadWritesOnlyAModifiedLesson) {
  const std::u16string path = Write("w/ini/l.idx", "a.wav Hello there\r\nb.wav Good day\r\n");
  ASSERT_EQ(lesson.LoadLesson(path).result, LoadResult::Loaded);
  const ino_t afterLoad = Inode(tmp / "w/ini/l.idx");
  EXPECT_TRUE(lesson.UnloadLesson());
  EXPECT_EQ(Inode(tmp / "w/ini/l.idx"), afterLoad);  // not replaced again
  EXPECT_EQ(lesson.prompts.count, 0);

  ASSERT_EQ(lesson.LoadLesson(path).result, LoadResult::Loaded);
  lesson.StepForward();
  lesson.CommitEditedText(u"Good night");
  EXPECT_EQ(lesson.state, LessonState::Modified);
  EXPECT_TRUE(lesson.UnloadLesson());
  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"),
            Utf16Index(u"a.wav Hello there\r\nb.wav > Good night\r\n"));
  EXPECT_FALSE(lesson.SaveLesson());  // nothing loaded, nothing written
}

TEST_F(LessonFiles, LoadingOverAnOpenLessonWritesItBackFirst) {
  const std::u16string first = Write("w/ini/one.idx", "a.wav Hello there\r\n");
  const std::u16string second = Write("w/ini/two.idx", "b.wav Good day\r\n");
  ASSERT_EQ(lesson.LoadLesson(first).result, LoadResult::Loaded);
  lesson.CommitEditedText(u"Changed text");
  ASSERT_EQ(lesson.LoadLesson(second).result, LoadResult::Loaded);
  EXPECT_EQ(lesson.prompts.count, 1);
  EXPECT_EQ(ReadBytes(tmp / "w/ini/one.idx"), Utf16Index(u"a.wav > Changed text\r\n"));
}

TEST_F(LessonFiles, FailedWriteLeavesTheOldIndexByteIdentical) {
  const std::string bytes = Utf16Index(u"a.wav Hello there\r\n");
  const std::u16string path = Write("w/ini/l.idx", bytes);
  ASSERT_EQ(lesson.LoadLesson(path).result, LoadResult::Loaded);
  lesson.CommitEditedText(std::u16string(500, u'w'));

  // A file-size limit makes the write itself fail part-way, after the file was opened.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool written = lesson.SaveLesson();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(lesson.state, LessonState::Modified);
  EXPECT_FALSE(lesson.saveError().empty());
  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), bytes);
  EXPECT_EQ(Names(tmp / "w/ini"), std::vector<std::string>{"l.idx"});  // no temporary left

  EXPECT_TRUE(lesson.SaveLesson());  // without the limit the same save works
  EXPECT_EQ(lesson.state, LessonState::Saved);
}

TEST_F(LessonFiles, SymlinkedIndexIsWrittenThrough) {
  WriteBytes(tmp / "w/store/real.idx", "a.wav Hello\r\n");
  fs::create_directories(tmp / "w/ini");
  fs::create_symlink("../store/real.idx", tmp / "w/ini/l.idx");
  const LoadOutcome outcome = lesson.LoadLesson(Wide("w/ini/l.idx"));
  ASSERT_EQ(outcome.result, LoadResult::Loaded);
  EXPECT_TRUE(outcome.saved);
  EXPECT_FALSE(lesson.readOnly());
  EXPECT_TRUE(fs::is_symlink(tmp / "w/ini/l.idx"));
  EXPECT_EQ(ReadBytes(tmp / "w/store/real.idx"), Utf16Index(u"a.wav Hello\r\n"));
}

TEST_F(LessonFiles, DryRunAppliesTheRulesButTouchesNothing) {
  const std::string bytes = "a.wav Hello there\r\n";
  const std::u16string path = Write("w/ini/l.idx", bytes);
  const LoadOutcome outcome = lesson.LoadLesson(path, {.dryRun = true});
  EXPECT_EQ(outcome.result, LoadResult::Loaded);
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(lesson.state, LessonState::Saved);
  EXPECT_EQ(lesson.paths.promptDirectory, Wide("w/Prompt/l/"));
  lesson.ScanRecordedPrompts();  // the prompt directory is missing: nothing recorded
  EXPECT_EQ(lesson.prompts.entries[0]->recorded, 0);
  lesson.MarkRecorded();
  EXPECT_FALSE(lesson.SaveLesson());
  EXPECT_FALSE(lesson.UnloadLesson());
  EXPECT_EQ(Names(tmp / "w"), std::vector<std::string>{"ini"});
  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), bytes);

  // A later ordinary load writes again.
  EXPECT_TRUE(lesson.LoadLesson(path).saved);
}

// The recorded-prompt scan.

class RecordedPrompts : public LessonFiles {
 protected:
  void Load(std::u16string_view names) {
    std::u16string lines;
    for (std::size_t start = 0; start < names.size();) {
      std::size_t end = names.find(u' ', start);
      if (end == std::u16string_view::npos) {
        end = names.size();
      }
      lines += std::u16string(names.substr(start, end - start)) + u" Some text\r\n";
      start = end + 1;
    }
    ASSERT_EQ(lesson.LoadLesson(Write("w/ini/l.idx", Utf16Index(lines))).result,
              LoadResult::Loaded);
  }
  void Record(std::string_view name) const { WriteBytes(tmp / "w/Prompt/l" / name, "RIFF"); }
  std::vector<int> Flags() const {
    std::vector<int> flags;
    for (const auto& entry : lesson.prompts.entries) {
      flags.push_back(entry->recorded);
    }
    return flags;
  }
};

// Both sides are compared folded, so that a prompt named with capitals finds its take; a name
// spelled exactly as a file gets that file first.
TEST_F(RecordedPrompts, TakesAreMatchedIgnoringLetterCaseOnBothSides) {
  struct Case {
    std::u16string entries;
    std::vector<std::string> files;
    std::vector<std::u16string> takes;  // per entry, its take file (empty: none)
  };
  const std::vector<Case> cases = {
      {u"LJ001-0001.wav LJ001-0002.wav LJ001-0003.wav",
       {"LJ001-0001.wav", "lj001-0002.WAV"},
       {u"LJ001-0001.wav", u"lj001-0002.WAV", u""}},
      {u"a001.wav A002.wav a003 x.wav x.wav ф.wav",
       {"A001.WAV", "A002.wav", "a003", "x.wav", "Ф.WAV", "b.wav"},
       {u"A001.WAV", u"A002.wav", u"", u"x.wav", u"", u"Ф.WAV"}},
      {u"A.wav a.wav", {"a.wav"}, {u"", u"a.wav"}},
      {u"a.wav A.wav", {"A.wav", "a.wav"}, {u"a.wav", u"A.wav"}},
      // Beyond FoldLower's letters nothing folds.
      {u"Ё.wav Ω.wav", {"ё.wav", "ω.wav"}, {u"", u""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::ToUtf8(c.entries));
    fs::remove_all(tmp / "w/Prompt/l");
    Load(c.entries);
    for (const std::string& file : c.files) {
      Record(file);
    }
    const std::vector<std::u16string> files =
        platform::ListDirectory(lesson.paths.promptDirectory, u"*.wav");
    std::vector<std::u16string> takes;
    for (const std::size_t at : MatchTakeFiles(lesson.prompts.entries, files)) {
      takes.push_back(at == kNoTakeFile ? u"" : files[at]);
    }
    EXPECT_EQ(takes, c.takes);
    lesson.ScanRecordedPrompts();
    std::vector<int> flags;
    for (const std::u16string& take : c.takes) {
      flags.push_back(take.empty() ? 0 : 1);
    }
    EXPECT_EQ(Flags(), flags);
    EXPECT_EQ(lesson.state, LessonState::Saved);
    EXPECT_EQ(lesson.prompts.currentIndex, 0);
  }
}

TEST_F(RecordedPrompts, EachFileMarksOneEntryInListOrderWhateverTheOrderOfFiles) {
  // Two files that fold to the same name are two candidates: they mark two entries.
  Load(u"k.wav m.wav k.wav k.wav m.wav");
  Record("K.wav");
  Record("k.wav");
  Record("m.wav");
  lesson.ScanRecordedPrompts();
  EXPECT_EQ(Flags(), (std::vector<int>{1, 1, 1, 0, 0}));
}

TEST_F(RecordedPrompts, DirectoriesCountAndMissingDirectoriesMarkNothing) {
  Load(u"y.wav z.wav");
  fs::create_directories(tmp / "w/Prompt/l/y.wav");
  lesson.ScanRecordedPrompts();
  EXPECT_EQ(Flags(), (std::vector<int>{1, 0}));

  Lesson other;
  ASSERT_EQ(other.LoadLesson(Write("w/ini/m.idx", "y.wav text\r\n")).result, LoadResult::Loaded);
  fs::remove(tmp / "w/Prompt/m");
  other.ScanRecordedPrompts();
  EXPECT_EQ(other.prompts.entries[0]->recorded, 0);
}

// Stepping, "Goto" and the editing rules.

class Navigation : public LessonFiles {
 protected:
  void Load(const std::vector<std::u16string>& texts) {
    std::u16string lines;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      lines += u"p" + platform::FromUtf8(std::to_string(i)) + u".wav " + texts[i] + u"\r\n";
    }
    ASSERT_EQ(lesson.LoadLesson(Write("w/ini/l.idx", Utf16Index(lines))).result,
              LoadResult::Loaded);
  }
  std::int32_t& index() { return lesson.prompts.currentIndex; }
  PromptEntry& at(std::size_t i) { return *lesson.prompts.entries[i]; }
};

TEST_F(Navigation, StepsSkipShortTextsButTakeTheEnds) {
  Load({u"Lesson 5", u"12", u"A", u"Hello there", u"abc", u"xyz"});
  lesson.StepForward();
  EXPECT_EQ(index(), 3);
  lesson.StepBack();
  EXPECT_EQ(index(), 0);
  lesson.StepBack();
  EXPECT_EQ(index(), 0);  // already first
  index() = 3;
  lesson.StepForward();
  EXPECT_EQ(index(), 5);  // the last entry is taken though it is short
  lesson.StepForward();
  EXPECT_EQ(index(), 5);

  Load({u"ab", u"cd", u"Speak"});
  index() = 2;
  lesson.StepBack();
  EXPECT_EQ(index(), 0);  // entry 0 is taken though it is short
}

TEST_F(Navigation, SpeakableAndPending) {
  PromptEntry entry;
  entry.text = u"> abc";
  EXPECT_TRUE(IsSpeakable(entry));
  EXPECT_TRUE(IsPending(entry));
  entry.recorded = true;
  EXPECT_TRUE(IsPending(entry));  // edited since its recording
  entry.text = u">Hello";         // no edit marker, but '>' first
  EXPECT_TRUE(IsPending(entry));
  entry.text = u"Hello";
  EXPECT_FALSE(IsPending(entry));
  entry.text = u"Hell";
  entry.recorded = false;
  EXPECT_FALSE(IsSpeakable(entry));
  EXPECT_FALSE(IsPending(entry));
  entry.text = u"";
  EXPECT_FALSE(IsPending(entry));
}

TEST_F(Navigation, GotoStopsAtTheFirstPendingEntry) {
  Load({u"ab", u"Hello there", u"Good day"});
  index() = 2;
  lesson.GotoFirstPending();
  EXPECT_EQ(index(), 1);

  at(1).recorded = true;
  at(2).recorded = true;
  lesson.GotoFirstPending();
  EXPECT_EQ(index(), 2);  // none pending: the last entry tried

  at(2).text = u">Good day";
  index() = 0;
  lesson.GotoFirstPending();
  EXPECT_EQ(index(), 2);
}

TEST_F(Navigation, CommitMarksChangedTextsOnce) {
  Load({u"Good day", u"> Good day", u">Hello", u"Hello there"});
  EXPECT_TRUE(lesson.CommitEditedText(u"Good day"));
  EXPECT_EQ(lesson.state, LessonState::Saved);

  EXPECT_TRUE(lesson.CommitEditedText(u"Good night"));
  EXPECT_EQ(at(0).text, u"> Good night");
  EXPECT_EQ(lesson.state, LessonState::Modified);
  lesson.CommitEditedText(u"Good evening");
  EXPECT_EQ(at(0).text, u"> Good evening");

  index() = 1;
  lesson.CommitEditedText(u"Good day");  // the box shows the text without its marker
  EXPECT_EQ(at(1).text, u"> Good day");
  index() = 2;
  lesson.CommitEditedText(u">Hello");
  EXPECT_EQ(at(2).text, u">Hello");
  index() = 3;
  lesson.CommitEditedText(u"Hello\r\nthere");  // the display's line break is one space
  EXPECT_EQ(at(3).text, u"Hello there");
  lesson.CommitEditedText(u"Hello\r\nagain\nand\ragain");
  EXPECT_EQ(at(3).text, u"> Hello again andagain");

  index() = -1;
  EXPECT_FALSE(lesson.CommitEditedText(u"anything"));
}

TEST_F(Navigation, RecordDropsTheMarkerWithoutModifying) {
  Load({u"> Good day", u"Hello there"});
  lesson.ReplaceCurrentText(u"Good\r\nday");
  EXPECT_EQ(at(0).text, u"Good day");
  EXPECT_EQ(lesson.state, LessonState::Saved);
  // The recording is abandoned by ">>": the box is unchanged, so nothing is Modified.
  lesson.CommitEditedText(u"Good day");
  lesson.StepForward();
  EXPECT_EQ(lesson.state, LessonState::Saved);

  Load({u"> Good day"});
  lesson.MarkRecorded();
  EXPECT_EQ(at(0).recorded, 1);
  EXPECT_EQ(lesson.state, LessonState::Modified);
  EXPECT_TRUE(lesson.ClearEditMarker());
  EXPECT_EQ(at(0).text, u"Good day");
  EXPECT_FALSE(lesson.ClearEditMarker());
}

TEST_F(Navigation, LongBoxTextsNeverOverrunTheField) {
  std::u16string box;
  for (int i = 0; i < 600; ++i) {
    box.push_back(static_cast<char16_t>(u'a' + i % 26));
  }
  Load({u"Short text"});
  lesson.ReplaceCurrentText(box);
  EXPECT_EQ(at(0).text, std::u16string_view(box).substr(0, kMaxPromptTextLength));
  // Unchanged box over a full unmarked text: nothing to store.
  lesson.CommitEditedText(box);
  EXPECT_EQ(lesson.state, LessonState::Saved);

  lesson.CommitEditedText(u"x" + box);
  EXPECT_EQ(at(0).text.size(), kMaxPromptTextLength);
  EXPECT_EQ(std::u16string(at(0).text), u"> x" + box.substr(0, kMaxPromptTextLength - 3));
  // The box now shows the marked text without its marker; committing it again changes nothing.
  lesson.state = LessonState::Saved;
  lesson.CommitEditedText(at(0).text.substr(2));
  EXPECT_EQ(lesson.state, LessonState::Saved);

  // A long text's display form has a line break per wrap; read back whole it loses nothing.
  Load({box.substr(0, kMaxPromptTextLength)});
  std::u16string display = box.substr(0, kMaxPromptTextLength);
  for (std::size_t at = 40; at < display.size(); at += 41) {
    display[at] = u' ';
  }
  lesson.ReplaceCurrentText(display);
  std::u16string wrapped = display;
  for (std::size_t pos = 0; (pos = wrapped.find(u' ', pos)) != std::u16string::npos; pos += 2) {
    wrapped.replace(pos, 1, u"\r\n");
  }
  ASSERT_GT(wrapped.size(), kMaxPromptTextLength);
  lesson.CommitEditedText(wrapped);
  EXPECT_EQ(lesson.current()->text, std::u16string_view(display));
}

TEST_F(Navigation, EditMarkerSurvivesTheIndexAndGotoFindsIt) {
  Load({u"Hello there", u"Good day"});
  WriteBytes(tmp / "w/Prompt/l/p0.wav", "RIFF");
  WriteBytes(tmp / "w/Prompt/l/p1.wav", "RIFF");
  lesson.StepForward();
  lesson.CommitEditedText(u"Good night");
  ASSERT_TRUE(lesson.UnloadLesson());

  ASSERT_EQ(lesson.LoadLesson(Wide("w/ini/l.idx")).result, LoadResult::Loaded);
  lesson.ScanRecordedPrompts();
  EXPECT_EQ(at(1).text, u"> Good night");
  lesson.GotoFirstPending();
  EXPECT_EQ(index(), 1);  // recorded, but edited since
}

TEST_F(Navigation, OperationsWithoutALessonDoNothing) {
  Lesson empty;
  empty.prompts.currentIndex = 3;  // stale from an earlier lesson
  empty.StepBack();
  empty.StepForward();
  empty.GotoFirstPending();
  EXPECT_EQ(empty.prompts.currentIndex, 3);
  EXPECT_TRUE(empty.CommitEditedText(u"text"));
  empty.ReplaceCurrentText(u"text");
  empty.MarkRecorded();
  EXPECT_FALSE(empty.ClearEditMarker());
  EXPECT_EQ(empty.state, LessonState::NoLesson);
  EXPECT_EQ(empty.current(), nullptr);
}

}  // namespace
}  // namespace voxtar::lesson
