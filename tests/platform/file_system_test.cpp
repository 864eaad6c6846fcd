// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace voxtar::platform {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Every name in the directory, as the OS spells it, in byte order.
std::vector<std::string> NamesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

fs::perms ModeOf(const fs::path& file) {
  return fs::status(file).permissions();
}

std::string ReadAll(std::FILE* file) {
  std::string bytes;
  char chunk[256];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.append(chunk, got);
  }
  return bytes;
}

bool Save(std::u16string_view target, std::string_view bytes) {
  SaveFile file(target);
  return file.Open() && file.Write(bytes.data(), bytes.size()) && file.Commit();
}

TEST(Utf8, RoundTripsEveryPlaneAndReplacesBrokenInput) {
  const std::u16string text = u"Aé Жё Ձ ა € \U0001F3A4";
  EXPECT_EQ(ToUtf8(text), "Aé Жё Ձ ა € \U0001F3A4");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);

  // Unpaired surrogates, either half.
  EXPECT_EQ(ToUtf8(std::u16string{u'a', char16_t{0xD800}, u'b'}), "a\uFFFDb");
  EXPECT_EQ(ToUtf8(std::u16string{char16_t{0xDC00}}), "\uFFFD");
  // A lone continuation byte, an overlong form, an encoded surrogate, a cut sequence.
  EXPECT_EQ(FromUtf8("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("x\xE2\x82"), u"x\uFFFD\uFFFD");
  EXPECT_EQ(NativePath(u"Уроки/ёж").string(), "Уроки/ёж");
}

TEST(CompareNamesIgnoringCase, FoldsTheScriptsOfLessonNames) {
  EXPECT_EQ(CompareNamesIgnoringCase(u"Unit01.IDX", u"unit01.idx"), 0);
  EXPECT_EQ(CompareNamesIgnoringCase(u"ÉTÉ", u"été"), 0);
  EXPECT_EQ(CompareNamesIgnoringCase(u"ΩΜΕΓΑ", u"ωμεγα"), 0);
  EXPECT_EQ(CompareNamesIgnoringCase(u"ΣΟΦΟΣ", u"σοφος"), 0);
  EXPECT_EQ(CompareNamesIgnoringCase(u"УРОК ЁЖ ЇЖАК", u"урок ёж їжак"), 0);
  EXPECT_NE(CompareNamesIgnoringCase(u"ԱՐԵՎ", u"արեւ"), 0);  // ւ is not վ
  EXPECT_EQ(CompareNamesIgnoringCase(u"ԱՐԵՎ", u"արեվ"), 0);
  EXPECT_EQ(CompareNamesIgnoringCase(u"ŁÓDŹ", u"łódź"), 0);
  // × and ÷ are signs, not a letter pair.
  EXPECT_NE(CompareNamesIgnoringCase(u"×", u"÷"), 0);
  EXPECT_LT(CompareNamesIgnoringCase(u"a", u"B"), 0);
  EXPECT_LT(CompareNamesIgnoringCase(u"lesson", u"LESSON2"), 0);
  EXPECT_GT(CompareNamesIgnoringCase(u"b", u"A"), 0);
}

TEST(ResolvePath, FindsEachComponentIgnoringCaseAndKeepsMissingOnes) {
  TempDir dir;
  WriteBytes(dir / "Course/Ini/Unit1/Lesson.idx", "x");
  const std::u16string root = dir.wide(true);
  const std::string base = dir.path().string() + "/";

  EXPECT_EQ(ResolvePath(root + u"course/INI/unit1/lesson.IDX").string(),
            base + "Course/Ini/Unit1/Lesson.idx");
  // A missing file in an existing directory, and everything below a missing directory, keep
  // their spelling, so the result also names a file to create.
  EXPECT_EQ(ResolvePath(root + u"COURSE/ini/New.idx").string(), base + "Course/Ini/New.idx");
  EXPECT_EQ(ResolvePath(root + u"course/Prompt/unit1/").string(), base + "Course/Prompt/unit1/");
  // Separators, "." and ".." are kept as written.
  EXPECT_EQ(ResolvePath(root + u"course/./ini/../INI/").string(), base + "Course/./Ini/../Ini/");
}

TEST(ResolvePath, ExactSpellingWinsAndSeveralMatchesResolveTheSameWayEveryTime) {
  TempDir dir;
  WriteBytes(dir / "unit01.idx", "lower");
  WriteBytes(dir / "Unit01.idx", "mixed");
  const std::u16string root = dir.wide(true);
  EXPECT_EQ(ResolvePath(root + u"unit01.idx").filename(), "unit01.idx");
  EXPECT_EQ(ResolvePath(root + u"Unit01.idx").filename(), "Unit01.idx");
  // No exact match: the first of the candidates in listing order.
  EXPECT_EQ(ResolvePath(root + u"UNIT01.IDX").filename(), "Unit01.idx");
  EXPECT_EQ(ResolvePath(root + u"uNIT01.idx").filename(), "Unit01.idx");
}

TEST(ResolvePath, FindsCyrillicArmenianGreekAndLatin1Names) {
  TempDir dir;
  WriteBytes(dir / "Уроки/Ёжик.idx", "ru");
  WriteBytes(dir / "Դասեր/Արեվ.idx", "hy");
  WriteBytes(dir / "Μαθήματα/Ήλιος.idx", "el");
  WriteBytes(dir / "Leçons/Été.idx", "fr");
  const std::u16string root = dir.wide(true);
  const std::string base = dir.path().string() + "/";
  EXPECT_EQ(ResolvePath(root + u"УРОКИ/ёжик.IDX").string(), base + "Уроки/Ёжик.idx");
  EXPECT_EQ(ResolvePath(root + u"դասեր/ԱՐԵՎ.idx").string(), base + "Դասեր/Արեվ.idx");
  EXPECT_EQ(ResolvePath(root + u"ΜΑΘΉΜΑΤΑ/ήλιος.idx").string(), base + "Μαθήματα/Ήλιος.idx");
  EXPECT_EQ(ResolvePath(root + u"LEÇONS/ÉTÉ.IDX").string(), base + "Leçons/Été.idx");
}

TEST(OpenFile, ReadsAndRewritesTheExistingSpellingWithoutMakingADuplicate) {
  TempDir dir;
  WriteBytes(dir / "Ini/Unit01.idx", "old");
  const std::u16string index = dir.wide(true) + u"ini/unit01.idx";

  std::FILE* in = OpenFile(index, "rb");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(ReadAll(in), "old");
  std::fclose(in);

  std::FILE* out = OpenFile(index, "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("new", out);
  std::fclose(out);
  EXPECT_EQ(ReadBytes(dir / "Ini/Unit01.idx"), "new");
  EXPECT_EQ(NamesIn(dir / "Ini"), std::vector<std::string>{"Unit01.idx"});
}

TEST(OpenFile, RefusesDirectoriesAndMissingFiles) {
  TempDir dir;
  fs::create_directory(dir / "Lesson.idx");
  EXPECT_EQ(OpenFile(dir.wide(true) + u"lesson.idx", "rb"), nullptr);
  EXPECT_EQ(OpenFile(dir.wide(true) + u"Lesson.idx", "rb"), nullptr);
  EXPECT_EQ(OpenFile(dir.wide(true) + u"missing.idx", "rb"), nullptr);
  EXPECT_EQ(OpenFile(dir.wide(true) + u"missing/x.idx", "wb"), nullptr);
}

TEST(CreateDirectory, CreatesOneLevelAndTakesAnExistingSpellingAsPresent) {
  TempDir dir;
  const std::u16string root = dir.wide(true);
  EXPECT_TRUE(CreateDirectory(root + u"Prompt"));
  EXPECT_TRUE(fs::is_directory(dir / "Prompt"));
  EXPECT_FALSE(CreateDirectory(root + u"Prompt"));
  // An existing "Prompt" is the "PROMPT" asked for: no second directory appears.
  EXPECT_FALSE(CreateDirectory(root + u"PROMPT/"));
  EXPECT_TRUE(CreateDirectory(root + u"prompt/Unit1/"));
  EXPECT_EQ(NamesIn(dir.path()), std::vector<std::string>{"Prompt"});
  EXPECT_TRUE(fs::is_directory(dir / "Prompt/Unit1"));
  // Parents are not created.
  EXPECT_FALSE(CreateDirectory(root + u"a/b"));
  EXPECT_FALSE(fs::exists(dir / "a"));
}

TEST(CurrentDirectory, HasNoTrailingSeparator) {
  TempDir dir;
  const fs::path previous = fs::current_path();
  fs::create_directory(dir / "Урок");
  fs::current_path(dir / "Урок");
  const std::u16string current = CurrentDirectory();
  fs::current_path(previous);
  EXPECT_EQ(current, FromUtf8(fs::canonical(dir / "Урок").string()));
}

TEST(ListDirectory, MatchesThePatternIgnoringCaseAndSortsIgnoringCase) {
  TempDir dir;
  for (const char* name :
       {"b002.wav", "A001.WAV", "c003.Wav", "take.wave", "wav", "notes.txt", ".hidden.wav"}) {
    WriteBytes(dir / name, "");
  }
  WriteBytes(dir / "Old.wav/Take1.wav", "");  // directories are listed like files
  const std::u16string root = dir.wide();

  EXPECT_EQ(ListDirectory(root, u"*.wav"),
            (std::vector<std::u16string>{u".hidden.wav", u"A001.WAV", u"b002.wav", u"c003.Wav",
                                         u"Old.wav"}));
  EXPECT_EQ(ListDirectory(root, u"?00?.WAV"),
            (std::vector<std::u16string>{u"A001.WAV", u"b002.wav", u"c003.Wav"}));
  EXPECT_EQ(ListDirectory(root, u"NOTES.TXT"), std::vector<std::u16string>{u"notes.txt"});
  // Capitals decide ("A_1" after "AB1"); names equal but for case come in code order.
  TempDir cases;
  for (const char* name : {"a.wav", "A_1.wav", "ab1.wav", "A.wav"}) {
    WriteBytes(cases / name, "");
  }
  EXPECT_EQ(ListDirectory(cases.wide(), u"*.wav"),
            (std::vector<std::u16string>{u"A.wav", u"a.wav", u"ab1.wav", u"A_1.wav"}));
  // "." and ".." never appear, not even for patterns that would match them.
  EXPECT_EQ(ListDirectory(root, u"*").size(), 8u);
  EXPECT_EQ(ListDirectory(root, u"*.*").size(), 8u);
  EXPECT_EQ(ListDirectory(root, u".*"), std::vector<std::u16string>{u".hidden.wav"});
  // The directory itself is found ignoring case too; a missing one lists nothing.
  EXPECT_EQ(ListDirectory(dir.wide(true) + u"OLD.WAV", u"*"),
            std::vector<std::u16string>{u"Take1.wav"});
  EXPECT_TRUE(ListDirectory(dir.wide(true) + u"missing", u"*").empty());
}

TEST(ListDirectory, OrderNeverDependsOnTheDirectory) {
  TempDir dir;
  // Letters compare as capitals, so "_" sorts after them; names equal ignoring case come in a
  // fixed order.
  for (const char* name : {"a_1.idx", "AB1.idx", "ab2.idx", "урок2.idx", "Урок10.idx", "Unit.idx",
                           "unit.idx", "UNIT.idx", "Ёж.idx", "Яр.idx"}) {
    WriteBytes(dir / "Ini" / name, "");
  }
  EXPECT_EQ(ListDirectory(dir.wide(true) + u"ini", u"*.IDX"),
            (std::vector<std::u16string>{u"AB1.idx", u"ab2.idx", u"a_1.idx", u"UNIT.idx",
                                         u"Unit.idx", u"unit.idx", u"Ёж.idx", u"Урок10.idx",
                                         u"урок2.idx", u"Яр.idx"}));
}

class SaveFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path index = dir / "Ini/Unit01.idx";
  std::u16string wideIndex = dir.wide(true) + u"Ini/Unit01.idx";

  void SetUp() override { WriteBytes(index, "old index"); }
  // Nothing but the index itself is left in its directory.
  void ExpectNoTemporaryFiles() {
    EXPECT_EQ(NamesIn(dir / "Ini"), std::vector<std::string>{"Unit01.idx"});
  }
};

TEST_F(SaveFileTest, CommitReplacesTheWholeFileAndKeepsItsMode) {
  fs::permissions(index, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  SaveFile file(wideIndex);
  ASSERT_TRUE(file.Open()) << file.error();
  EXPECT_GE(file.descriptor(), 0);
  EXPECT_EQ(ReadBytes(index), "old index");  // nothing visible before Commit
  EXPECT_TRUE(file.Write("new ", 4));
  EXPECT_TRUE(file.Write("content", 7));
  ASSERT_TRUE(file.Commit()) << file.error();
  EXPECT_EQ(ReadBytes(index), "new content");
  EXPECT_EQ(ModeOf(index), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ExpectNoTemporaryFiles();
}

TEST_F(SaveFileTest, NewFileGetsTheModeTheUmaskAllows) {
  const mode_t previous = ::umask(027);
  const bool saved = Save(dir.wide(true) + u"Ini/New.idx", "x");
  ::umask(previous);
  ASSERT_TRUE(saved);
  EXPECT_EQ(ModeOf(dir / "Ini/New.idx"),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SaveFileTest, OtherSpellingRewritesTheExistingFileInPlace) {
  ASSERT_TRUE(Save(dir.wide(true) + u"INI/unit01.IDX", "rewritten"));
  EXPECT_EQ(ReadBytes(index), "rewritten");
  ExpectNoTemporaryFiles();
}

TEST_F(SaveFileTest, CancelAndDestructionLeaveTheTargetAsItWas) {
  {
    SaveFile file(wideIndex);
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write("half", 4));
    file.Cancel();
    EXPECT_FALSE(file.Commit());
  }
  {
    SaveFile file(wideIndex);
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write("half", 4));
  }
  EXPECT_EQ(ReadBytes(index), "old index");
  ExpectNoTemporaryFiles();
}

TEST_F(SaveFileTest, WriteFailingMidwayLeavesTheTargetByteIdentical) {
  // A file-size limit makes the kernel refuse the write after 1 KiB: a short write, then EFBIG.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    SaveFile file(wideIndex);
    if (!file.Open()) {
      _exit(10);
    }
    const std::string big(4096, 'x');
    if (file.Write(big.data(), big.size())) {
      _exit(11);
    }
    if (file.error().find("File too large") == std::string::npos) {
      _exit(12);
    }
    if (file.Write("y", 1)) {
      _exit(13);  // a failed file stays failed
    }
    if (file.Commit()) {
      _exit(14);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes(index), "old index");
  ExpectNoTemporaryFiles();
}

TEST_F(SaveFileTest, ReadOnlyTargetIsRefusedBeforeAnythingIsWrittenEvenForRoot) {
  fs::permissions(index, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  SaveFile file(wideIndex);
  EXPECT_FALSE(file.Open());
  EXPECT_NE(file.error().find("read-only"), std::string::npos) << file.error();
  EXPECT_EQ(file.descriptor(), -1);
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(ReadBytes(index), "old index");
  ExpectNoTemporaryFiles();
}

TEST_F(SaveFileTest, TargetTurnedReadOnlyBeforeCommitIsNotReplaced) {
  SaveFile file(wideIndex);
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("new", 3));
  fs::permissions(index, fs::perms::owner_read);
  EXPECT_FALSE(file.Commit());
  EXPECT_NE(file.error().find("read-only"), std::string::npos) << file.error();
  EXPECT_EQ(ReadBytes(index), "old index");
  ExpectNoTemporaryFiles();
}

TEST_F(SaveFileTest, SymlinkIsWrittenThroughAndStaysALink) {
  fs::create_directory(dir / "Links");
  fs::create_symlink("../Ini/Unit01.idx", dir / "Links/Unit01.idx");
  fs::create_symlink("Unit01.idx", dir / "Links/Chain.idx");
  ASSERT_TRUE(Save(dir.wide(true) + u"links/chain.IDX", "through the link"));
  EXPECT_TRUE(fs::is_symlink(dir / "Links/Unit01.idx"));
  EXPECT_TRUE(fs::is_symlink(dir / "Links/Chain.idx"));
  EXPECT_EQ(ReadBytes(index), "through the link");
  EXPECT_EQ(NamesIn(dir / "Links"), (std::vector<std::string>{"Chain.idx", "Unit01.idx"}));
  ExpectNoTemporaryFiles();
}

TEST_F(SaveFileTest, SymlinkToReadOnlyFileIsRefused) {
  fs::create_symlink("Unit01.idx", dir / "Ini/Link.idx");
  fs::permissions(index, fs::perms::owner_read);
  SaveFile file(dir.wide(true) + u"Ini/Link.idx");
  EXPECT_FALSE(file.Open());
  EXPECT_EQ(ReadBytes(index), "old index");
}

TEST_F(SaveFileTest, DirectoriesAndMissingDirectoriesAreRefusedWithAReason) {
  SaveFile intoDirectory(dir.wide(true) + u"Ini");
  EXPECT_FALSE(intoDirectory.Open());
  EXPECT_NE(intoDirectory.error().find("directory"), std::string::npos);
  EXPECT_EQ(intoDirectory.failure().kind, SaveFailure::Kind::IsDirectory);

  SaveFile missing(dir.wide(true) + u"Missing/Unit.idx");
  EXPECT_FALSE(missing.Open());
  EXPECT_NE(missing.error().find("No such file or directory"), std::string::npos)
      << missing.error();
  EXPECT_EQ(missing.failure().kind, SaveFailure::Kind::CannotReach);
  EXPECT_EQ(missing.failure().cause, std::error_code(ENOENT, std::system_category()));
  EXPECT_FALSE(fs::exists(dir / "Missing"));

  SaveFile neverOpened(wideIndex);
  EXPECT_FALSE(neverOpened.Write("x", 1));
  EXPECT_FALSE(neverOpened.Commit());
  EXPECT_EQ(neverOpened.error(), SaveFailureText(neverOpened.failure()));
  EXPECT_EQ(neverOpened.failure().kind, SaveFailure::Kind::NotOpen);
  EXPECT_EQ(ReadBytes(index), "old index");
}

TEST_F(SaveFileTest, StaleTemporaryFilesAreRemovedOnlyWhenNoSaveStillWritesThem) {
  // A save of another index is running, its temporary file made to look an hour old; its lock is
  // bound to its open file, so it shows to this process as it does to any other. Beside it lie
  // one left by a killed save, one made a moment ago, and a user's file that only looks similar.
  SaveFile running(dir.wide(true) + u"Ini/Running.idx");
  ASSERT_TRUE(running.Open() && running.Write("running", 7));
  const fs::path stale = dir / "Ini/.voxtar-k3j9x0qa.tmp";
  const fs::path fresh = dir / "Ini/.voxtar-aaaabbbb.tmp";
  const fs::path lookalike = dir / "Ini/.voxtar-NOTOURS1.tmp";
  for (const fs::path& file : {stale, fresh, lookalike}) {
    WriteBytes(file, "partial");
  }
  const auto anHourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const auto& entry : fs::directory_iterator(dir / "Ini")) {
    if (entry.path() != fresh) {
      fs::last_write_time(entry.path(), anHourAgo);
    }
  }
  ASSERT_TRUE(Save(wideIndex, "new"));
  EXPECT_EQ(ReadBytes(index), "new");
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(fresh));
  EXPECT_TRUE(fs::exists(lookalike));
  EXPECT_TRUE(running.Commit()) << running.error();
  EXPECT_EQ(ReadBytes(dir / "Ini/Running.idx"), "running");
}

TEST_F(SaveFileTest, NamesAsLongAsTheFileSystemTakesAreSavedAndBackedUp) {
  const std::string name = std::string(251, 'n') + ".idx";  // 255 bytes, the most there is
  WriteBytes(dir / "Ini" / name, "old");
  const std::u16string target = dir.wide(true) + u"Ini/" + FromUtf8(name);
  const std::optional<FileIdentity> read = IdentifyFile(target);
  ASSERT_TRUE(read.has_value());
  WriteBytes(dir / "Ini" / name, "changed elsewhere");
  SaveFile file(target);
  file.ExpectTarget(*read, true);
  ASSERT_TRUE(file.Open() && file.Write("new", 3) && file.Commit()) << file.error();
  EXPECT_EQ(ReadBytes(dir / "Ini" / name), "new");
  EXPECT_LE(file.backup().filename().native().size(), 255u);
  EXPECT_EQ(ReadBytes(file.backup()), "changed elsewhere");
}

// The working directory is <dir>/work. Links whose file lies outside it are neither written
// through nor replaced, not even when the file is still to be made; links inside it, chains of
// them, and a link to a file beside it in a directory that a directory link puts on another disk
// are written through.
TEST_F(SaveFileTest, LinksAreWrittenThroughOnlyWhereTheFileLandsInsideTheWorkingDirectory) {
  WriteBytes(dir / "outside/secret.txt", "secret");
  WriteBytes(dir / "work/Store/real.idx", "inside");
  WriteBytes(dir / "disk/a.wav", "take");
  fs::create_directories(dir / "work/Ini");
  fs::create_symlink(dir / "disk", dir / "work/Prompt");
  struct Case {
    std::string link;
    fs::path leadsTo;  // as written in the link
    fs::path landsIn;  // the file written, or left alone when refused
    bool written;
  };
  const std::vector<Case> cases = {
      {"work/Ini/Dangling.idx", "../../outside/new.txt", dir / "outside/new.txt", false},
      {"work/Ini/In.idx", "../Store/real.idx", dir / "work/Store/real.idx", true},
      {"work/Ini/Chain.idx", "In.idx", dir / "work/Store/real.idx", true},
      {"work/Prompt/b.wav", "a.wav", dir / "disk/a.wav", true},
      {"work/Prompt/c.wav", "../outside/secret.txt", dir / "outside/secret.txt", false},
  };
  for (const Case& c : cases) {
    fs::create_symlink(c.leadsTo, dir / c.link);
    SaveFile file(dir.wide(true) + FromUtf8(c.link), dir.wide(true) + u"work");
    const bool saved = file.Open() && file.Write("new", 3) && file.Commit();
    EXPECT_EQ(saved, c.written) << c.link << ": " << file.error();
    EXPECT_TRUE(fs::is_symlink(dir / c.link)) << c.link;
    if (c.written) {
      EXPECT_EQ(ReadBytes(c.landsIn), "new") << c.link;
      continue;
    }
    ASSERT_TRUE(file.linkRefusal().has_value()) << c.link;
    EXPECT_EQ(file.linkRefusal()->link, dir / c.link);
    EXPECT_EQ(file.linkRefusal()->target, fs::weakly_canonical(c.landsIn));
    EXPECT_NE(file.error().find("outside the working directory"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(dir / "outside/secret.txt"), "secret");
  EXPECT_EQ(NamesIn(dir / "outside"), std::vector<std::string>{"secret.txt"});  // nothing made
  EXPECT_EQ(NamesIn(dir / "disk"), (std::vector<std::string>{"a.wav", "b.wav", "c.wav"}));
}

TEST_F(SaveFileTest, LinkPutInTheTargetsPlaceWhileWritingIsNotReplaced) {
  WriteBytes(dir / "outside/secret.txt", "secret");
  SaveFile file(wideIndex, dir.wide());
  ASSERT_TRUE(file.Open() && file.Write("new", 3));
  fs::remove(index);
  fs::create_symlink(dir / "outside/secret.txt", index);
  EXPECT_FALSE(file.Commit());
  ASSERT_TRUE(file.linkRefusal().has_value());
  EXPECT_TRUE(fs::is_symlink(index));
  EXPECT_EQ(ReadBytes(dir / "outside/secret.txt"), "secret");
  ExpectNoTemporaryFiles();
}

TEST(OpenFile, ReadsOnlyRegularFilesAndNeverBlocks) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
  FileError why = FileError::None;
  errno = 0;
  EXPECT_EQ(OpenFile(dir.wide(true) + u"fifo.wav", "rb", &why), nullptr);
  EXPECT_EQ(why, FileError::NotRegularFile);
  EXPECT_EQ(OpenFile(u"/dev/zero", "rb", &why), nullptr);
  EXPECT_EQ(why, FileError::NotRegularFile);
  WriteBytes(dir / "secret.wav", "x");
  fs::permissions(dir / "secret.wav", fs::perms::none);
  if (::geteuid() != 0) {
    EXPECT_EQ(OpenFile(dir.wide(true) + u"secret.wav", "rb", &why), nullptr);
    EXPECT_EQ(why, FileError::PermissionDenied);
  }
  InputFile input;
  EXPECT_EQ(input.Open(dir.wide(true) + u"fifo.wav"), FileError::NotRegularFile);
  EXPECT_EQ(input.Read(nullptr, 0), -1);
  WriteBytes(dir / "take.wav", "RIFF");
  ASSERT_EQ(input.Open(dir.wide(true) + u"TAKE.wav"), FileError::None);
  EXPECT_EQ(input.size(), 4u);
  std::array<char, 8> bytes{};
  EXPECT_EQ(input.Read(bytes.data(), bytes.size()), 4);
  EXPECT_EQ(input.Read(bytes.data(), bytes.size()), 0);
  EXPECT_TRUE(input.Rewind());
  EXPECT_EQ(input.Read(bytes.data(), 2), 2);
}

}  // namespace
}  // namespace voxtar::platform
