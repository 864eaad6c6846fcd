// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/lesson_tool.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "audio/wave_element.h"
#include "history/take_history.h"
#include "lesson/lesson_lock.h"
#include "platform/file_system.h"
#include "testing/synthetic_take.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/help_and_man.h"
#include "tests/support/temp_dir.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::Utf16LeBytes;
using testing::WriteBytes;

TEST_F(LessonTool, CheckReportsEveryOutcomeAndWritesNothing) {
  WriteBytes(tmp / "w/ini/good.idx", Utf16Index(u"a.wav Hello there\r\nb.wav 12\r\n"));
  WriteBytes(tmp / "w/ini/empty.idx", "");
  WriteBytes(tmp / "w/ini/blank.idx", "a.wav Hello\r\n\r\n");
  WriteBytes(tmp / "w/ini/long.idx", "a.wav Hello\r\n" + std::string(32, 'n') + " x\r\n");
  WriteBytes(tmp / "w/other/l.idx", "a.wav Hello\r\n");
  const std::string before = ReadBytes(tmp / "w/ini/good.idx");

  const std::vector<std::string> paths = {Path("w/ini/good.ini"),  Path("w/ini/empty.idx"),
                                          Path("w/ini/blank.idx"), Path("w/ini/long.idx"),
                                          Path("w/ini/gone.idx"),  Path("w/other/l.idx")};
  const Result result = Run({"check", paths[0], paths[1], paths[2], paths[3], paths[4], paths[5]});
  EXPECT_EQ(result.status, kExitFailed);
  // A line beyond the limits is named as FILE:LINE: the lesson would open for viewing only.
  EXPECT_EQ(result.out, paths[0] + ": 2 prompts, 0 recorded, 1 pending\n" +  //
                            paths[1] + ": file is empty\n" +                 //
                            paths[2] + ": line 2: no space\n" +              //
                            paths[3] + ": 2 prompts, 0 recorded, 1 pending\n  " + paths[3] +
                            ":2: beyond the limits: name of 32 characters, more than 31\n" +
                            paths[4] + ": file not found\n" +  //
                            paths[5] + ": invalid directory\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadBytes(tmp / "w/ini/good.idx"), before);
  EXPECT_FALSE(fs::exists(tmp / "w/Prompt"));

  EXPECT_EQ(Run({"check", paths[0]}).status, kExitOk);
  EXPECT_EQ(Run({"check", paths[3]}).status, kExitFailed);
}

TEST_F(LessonTool, CheckAndListCountRecordingsAndPendingPrompts) {
  WriteBytes(tmp / "w/ini/l.idx",
             "a.wav Hello there\r\nb.wav > Good day\r\nc.wav 12\r\nd.wav \xC4\xE0, \xEA\xEE\xED"
             "\xE5\xF7\xED\xEE\r\ne.wav Good night\r\n");
  WriteBytes(tmp / "w/Prompt/l/A.WAV", "RIFF");
  WriteBytes(tmp / "w/Prompt/l/b.wav", "RIFF");
  WriteBytes(tmp / "w/Prompt/l/e.wav", "RIFF");
  const std::string path = Path("w/ini/l.idx");

  EXPECT_EQ(Run({"check", path}).out, path + ": 5 prompts, 3 recorded, 2 pending\n");
  const Result list = Run({"list", path});
  EXPECT_EQ(list.status, kExitOk);
  EXPECT_EQ(list.out,
            "1\trecorded\ta.wav\tHello there\n"
            "2\tpending\tb.wav\t> Good day\n"
            "3\tshort\tc.wav\t12\n"
            "4\tpending\td.wav\tДа, конечно\n"
            "5\trecorded\te.wav\tGood night\n");
  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx").substr(0, 2), "a.");  // still 8-bit: not rewritten
}

TEST_F(LessonTool, ListOfALessonThatWouldNotLoadFailsOnStandardError) {
  WriteBytes(tmp / "w/ini/l.idx", "a.wav Hello\r\nnospace\r\n");
  const Result result = Run({"list", Path("w/ini/l.idx")});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, Path("w/ini/l.idx") + ": line 2: no space\n");
}

TEST_F(LessonTool, NormalizeRewritesAndReportsWritesThatFail) {
  WriteBytes(tmp / "w/ini/l.idx", "a.wav Hello\nb.wav World");
  WriteBytes(tmp / "w/ini/ro.idx", "a.wav Hello\r\n");
  fs::permissions(tmp / "w/ini/ro.idx", fs::perms::owner_read);
  const std::string overlong = "a.wav Hello\r\nb.wav " + std::string(2000, 'x') + "\r\n";
  WriteBytes(tmp / "w/ini/long.idx", overlong);
  const Result result = Run({"normalize", Path("w/ini/l.idx"), Path("w/ini/ro.idx"),
                             Path("w/ini/gone.idx"), Path("w/ini/long.ini")});
  EXPECT_EQ(result.status, kExitFailed);
  std::istringstream lines(result.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, Path("w/ini/l.idx") + ": 2 prompts, rewritten");
  std::getline(lines, line);
  EXPECT_EQ(line.rfind(Path("w/ini/ro.idx") + ": cannot write file: ", 0), 0u) << line;
  std::getline(lines, line);
  EXPECT_EQ(line, Path("w/ini/gone.idx") + ": file not found");
  // Written back, the 2,000 characters would be cut to 511.
  std::getline(lines, line);
  EXPECT_EQ(line, Path("w/ini/long.idx") +
                      ":2: not written: text of 2000 characters, more than 511; written back, "
                      "the index would lose text");
  EXPECT_EQ(ReadBytes(tmp / "w/ini/long.idx"), overlong);
  EXPECT_FALSE(fs::exists(tmp / "w/Prompt/long"));

  EXPECT_EQ(ReadBytes(tmp / "w/ini/l.idx"), Utf16Index(u"a.wav Hello\r\nb.wav World\r\n"));
  EXPECT_EQ(ReadBytes(tmp / "w/ini/ro.idx"), "a.wav Hello\r\n");
  EXPECT_TRUE(fs::is_directory(tmp / "w/Prompt/l"));
  EXPECT_EQ(Run({"normalize", Path("w/ini/l.idx")}).status, kExitOk);
}

// Links an archive may carry. The working directory is <tmp>/w: nothing is written through a link
// to <tmp>/outside, while <tmp>/disk is where the producer keeps a lesson's takes on purpose.
TEST_F(LessonTool, LinksLeadingOutsideTheWorkingDirectoryAreRefusedAndReported) {
  const fs::path real = fs::canonical(tmp.path());
  // Any text with a space in its first line loads as a lesson, and would be rewritten.
  WriteBytes(tmp / "outside/precious.txt", "keep these words\n");
  WriteBytes(tmp / "w/store/shared.idx", "a.wav Hello there\r\n");
  fs::create_directories(tmp / "w/ini");
  fs::create_directories(tmp / "disk/taken");
  fs::create_directories(tmp / "w/Prompt/takes");
  fs::create_symlink(tmp / "outside/precious.txt", tmp / "w/ini/evil.idx");
  fs::create_symlink("../store/shared.idx", tmp / "w/ini/shared.idx");
  fs::create_symlink("../../../outside/precious.txt", tmp / "w/Prompt/takes/a.wav");
  fs::create_symlink(tmp / "disk/taken", tmp / "w/Prompt/taken");
  for (const char* plain : {"w/ini/takes.idx", "w/ini/taken.idx"}) {
    WriteBytes(tmp / plain, "a.wav Hello there\r\n");
  }
  const std::string outside = ": outside the working directory\n";
  struct Case {
    std::string lesson;
    std::string normalized;  // what normalize says after "INDEX: "
    std::string counts;      // check's counts
    std::string reported;    // the lines check writes below them
    fs::path take;           // where the take of a.wav lands, or what it must leave alone
    bool takeSaved;
  };
  const std::vector<Case> cases = {
      {"evil",
       "not written: " + Path("w/ini/evil.idx") + " is a link to " +
           (real / "outside/precious.txt").string() + " outside the working directory",
       "0 recorded, 1 pending",
       "  " + Path("w/ini/evil.idx") + " -> " + (real / "outside/precious.txt").string() + outside,
       tmp / "w/Prompt/evil/keep", true},
      {"shared", "1 prompt, rewritten", "0 recorded, 1 pending", "", tmp / "w/Prompt/shared/a.wav",
       true},
      {"takes", "1 prompt, rewritten", "1 recorded, 0 pending",
       "  " + Path("w/Prompt/takes/a.wav") + " -> " + (real / "outside/precious.txt").string() +
           outside,
       tmp / "outside/precious.txt", false},
      {"taken", "1 prompt, rewritten", "0 recorded, 1 pending",
       "  " + Path("w/Prompt/taken/") + " -> " + (real / "disk/taken").string() + outside,
       tmp / "disk/taken/a.wav", true},
  };
  for (const Case& c : cases) {
    const std::string index = Path("w/ini/" + c.lesson + ".idx");
    const Result normalize = Run({"normalize", index});
    EXPECT_EQ(normalize.out, index + ": " + c.normalized + "\n");
    EXPECT_EQ(normalize.status, c.normalized.ends_with("rewritten") ? kExitOk : kExitFailed);
    const Result check = Run({"check", index});
    EXPECT_EQ(check.out, index + ": 1 prompt, " + c.counts + "\n" + c.reported);
    EXPECT_EQ(check.status, kExitOk);

    // The window's part: the lesson loads (read-only when its index may not be written) and the
    // take is saved into the working directory's rules.
    lesson::Lesson lesson;
    const lesson::LoadOutcome outcome = lesson.LoadLesson(platform::FromUtf8(index));
    ASSERT_EQ(outcome.result, lesson::LoadResult::Loaded) << c.lesson;
    EXPECT_EQ(lesson.readOnly(), outcome.linkRefusal.has_value()) << c.lesson;
    EXPECT_EQ(lesson.SaveLesson(), !lesson.readOnly()) << c.lesson;
    std::string why;
    EXPECT_EQ(audio::WriteWaveFile(audio::MakeElement(0x010002, 22050, 1, 100),
                                   lesson.PromptFilePath(), &why, lesson.paths.workingDirectory),
              c.takeSaved)
        << c.lesson << ": " << why;
    EXPECT_EQ(ReadBytes(c.take).starts_with("RIFF"), c.takeSaved) << c.lesson;
  }
  EXPECT_EQ(ReadBytes(tmp / "outside/precious.txt"), "keep these words\n");
  EXPECT_EQ(ReadBytes(tmp / "w/store/shared.idx"), Utf16Index(u"a.wav Hello there\r\n"));
  EXPECT_TRUE(fs::is_symlink(tmp / "w/ini/evil.idx"));
  EXPECT_TRUE(fs::is_symlink(tmp / "w/Prompt/takes/a.wav"));
}

TEST_F(LessonTool, RelativePathsAreReadFromTheCurrentDirectoryAndPrintedAsGiven) {
  WriteBytes(tmp / "Ini/unit01.idx", "a.wav Hello there\r\n");
  const fs::path previous = fs::current_path();
  fs::current_path(tmp.path());
  const Result result = Run({"check", "Ini/unit01.ini", "./Ini/unit01.idx", "unit01.idx"});
  fs::current_path(previous);
  EXPECT_EQ(result.out,
            "Ini/unit01.ini: 1 prompt, 0 recorded, 1 pending\n"
            "./Ini/unit01.idx: 1 prompt, 0 recorded, 1 pending\n"
            "unit01.idx: invalid directory\n");
}

// Runs the tool in a child process under the unprivileged user 65534 (root only), with the
// temporary directory opened up so that only the files' own permissions stand in the way.
Result RunAsNobody(const std::vector<std::string>& args, const fs::path& tmp) {
  for (const fs::path& dir : {tmp, tmp / "w", tmp / "w/ini"}) {
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  }
  std::array<int, 2> pipe{};
  if (::pipe(pipe.data()) != 0) {
    ADD_FAILURE() << "no pipe";
    return {};
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe[0]);
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(100);
    }
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunLessonTool(args, out, err);
    const std::string text = out.str();
    const bool written =
        ::write(pipe[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(written ? status : 101);
  }
  ::close(pipe[1]);
  Result result;
  std::array<char, 4096> buffer{};
  for (ssize_t got = 0; (got = ::read(pipe[0], buffer.data(), buffer.size())) > 0;) {
    result.out.append(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(pipe[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    ADD_FAILURE() << "the unprivileged run did not finish";
    return result;
  }
  result.status = WEXITSTATUS(status);
  EXPECT_LT(result.status, 100) << "the unprivileged run failed to start";
  return result;
}

TEST_F(LessonTool, ErrorsSayWhatHappened) {
  WriteBytes(tmp / "w/ini/secret.idx", "a.wav Hello\r\n");
  fs::permissions(tmp / "w/ini/secret.idx", fs::perms::none);
  ASSERT_EQ(::mkfifo(Path("w/ini/fifo.idx").c_str(), 0600), 0);
  fs::create_directories(tmp / "w/ini/dir.idx");
  const std::string badName = Path("w/ini/\xE0\xE1\x1B[2J.idx");
  WriteBytes(badName, "a.wav Hello\r\n");

  const Result result = Run({"check", Path("w/ini/fifo.idx"), Path("w/ini/dir.idx"), badName});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_EQ(result.out, Path("w/ini/fifo.idx") + ": not a regular file\n" + Path("w/ini/dir.idx") +
                            ": not a regular file\n" + Path("w/ini/\\xe0\\xe1\\x1b[2J.idx") +
                            ": file name is not valid UTF-8\n");
  // Root reads any file, so root asks as an unprivileged user.
  const Result denied = ::geteuid() == 0
                            ? RunAsNobody({"check", Path("w/ini/secret.idx")}, tmp.path())
                            : Run({"check", Path("w/ini/secret.idx")});
  EXPECT_EQ(denied.out, Path("w/ini/secret.idx") + ": permission denied\n");
  EXPECT_EQ(denied.status, kExitFailed);
  // A failed normalize creates no prompt directory.
  EXPECT_EQ(Run({"normalize", Path("w/ini/fifo.idx"), Path("w/ini/gone.idx")}).status, kExitFailed);
  EXPECT_FALSE(fs::exists(tmp / "w/Prompt"));
}

TEST_F(LessonTool, ListEscapesControlCharacters) {
  WriteBytes(tmp / "w/ini/l.idx",
             Utf16Index(u"a\tb.wav Say \x1b]0;owned\x07 now\r\nc.wav back\\slash \u009b2J ok\r\n"));
  const Result list = Run({"list", Path("w/ini/l.idx")});
  EXPECT_EQ(list.status, kExitOk);
  EXPECT_EQ(list.out,
            "1\tpending\ta\\tb.wav\tSay \\x1b]0;owned\\x07 now\n"
            "2\tpending\tc.wav\tback\\\\slash \\u009b2J ok\n");
}

TEST_F(LessonTool, UsageHelpAndVersion) {
  EXPECT_EQ(Run({"--version"}).out, "voxtar-lesson 1.0.0.1\n");
  const Result help = Run({"--help"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_EQ(help.out.rfind("Usage: voxtar-lesson check INDEX...\n", 0), 0u);
  EXPECT_EQ(Run({"check", "-h"}).out, help.out);

  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"frob"},
                                             {"--frob"},
                                             {"check"},
                                             {"normalize"},
                                             {"list"},
                                             {"list", "a", "b"},
                                             {"check", "-x", "a"},
                                             {"new", "Ini/u.idx"},
                                             {"new", "a", "b", "--from", "l"},
                                             {"new", "a", "--from", "l", "--prefix=\xFF"}}) {
    const Result result = Run(args);
    EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(args);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("Try 'voxtar-lesson --help'"), std::string::npos);
  }
  // After "--" a path may begin with a dash.
  EXPECT_EQ(Run({"check", "--", "-l.idx"}).out, "-l.idx: invalid directory\n");
}

// A command or option added to --help must be described in the man page too, and back.
TEST_F(LessonTool, ManPageListsWhatHelpLists) {
  const testing::Outline help = testing::OutlineOfHelp(Run({"--help"}).out);
  const testing::Outline man = testing::OutlineOfManPage(ReadBytes(VOXTAR_MAN_PAGE));
  ASSERT_EQ(help.synopsis.size(), 10u);
  EXPECT_EQ(help.synopsis[0], "voxtar-lesson check INDEX...");
  EXPECT_EQ(man.synopsis, help.synopsis);
  for (const char* section : {"COMMANDS", "OPTIONS"}) {
    ASSERT_EQ(help.entries.count(section), 1u) << section;
    ASSERT_EQ(man.entries.count(section), 1u) << section;
    EXPECT_EQ(man.entries.at(section), help.entries.at(section)) << section;
  }
  EXPECT_EQ(help.entries.at("OPTIONS"), (std::vector<std::string>{"-h, --help", "--version"}));
}

// The real program on a copy of the demo working directory (a load rewrites lessons).
class LessonToolProcess : public LessonTool {
 protected:
  Result Shell(const std::string& arguments) const {
    const std::string command =
        "cd '" + tmp.path().string() + "' && '" VOXTAR_LESSON_TOOL "' " + arguments + " 2>&1";
    Result result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
      return result;
    }
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
      result.out.append(buffer.data(), got);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }
};

TEST_F(LessonToolProcess, ChecksAndNormalizesTheDemoLessons) {
  fs::copy(VOXTAR_DEMO_DIR, tmp.path(), fs::copy_options::recursive);
  const std::string expected =
      "Ini/unit01.idx: 10 prompts, 2 recorded, 8 pending\n"
      "Ini/unit02.idx: 11 prompts, 0 recorded, 6 pending\n"
      "Ini/unit03.idx: 6 prompts, 0 recorded, 5 pending\n"
      "Ini/unit04.idx: 10 prompts, 0 recorded, 8 pending\n";
  const Result check = Shell("check Ini/*.idx");
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, expected);

  const Result normalize = Shell("normalize Ini/unit04.ini");
  EXPECT_EQ(normalize.status, 0);
  EXPECT_EQ(normalize.out, "Ini/unit04.ini: 10 prompts, rewritten\n");
  EXPECT_EQ(ReadBytes(tmp / "Ini/unit04.idx").substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(Shell("check Ini/*.idx").out, expected);  // the same lessons after the rewrite

  const Result list = Shell("list Ini/unit04.idx");
  EXPECT_NE(list.out.find("3\tpending\tr003.wav\tДа, конечно. Вам белый или чёрный?\n"),
            std::string::npos)
      << list.out;
  EXPECT_EQ(Shell("--bogus").status, 2);
}

// Every writer, run as the real program, beside a holder of the lesson's lock: a window of this
// process or a lock from another host is left alone and named with what to do, and --take-over
// breaks it; a lock file left empty by a holder killed while creating it is taken over at once.
// Then two `new` at once both list their lesson.
TEST_F(LessonToolProcess, WritersLeaveALockedLessonAloneUntilTakenOver) {
  const std::string index = "a.wav Hello there\r\n";
  WriteBytes(tmp / "s.txt", "Hello\n");
  fs::create_directories(tmp / "Prompt/unit01");
  const history::TakeHistory takes(platform::FromUtf8(Path("Prompt/unit01")), tmp.wide());
  for (const double seconds : {1.0, 2.0}) {
    ASSERT_TRUE(
        takes.Save(u"a.wav", audio::SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, seconds))
            .ok());
  }
  const fs::path lockFile = tmp / "Ini/.unit01.idx.lock";
  const std::string thisHost =
      "; close the lesson there first, or run again with --take-over if "
      "that process no longer uses it";
  struct Holder {
    const char* what;
    std::string lines;  // of a planted lock file; empty: a window of this process
    std::int64_t age;   // of the planted file, seconds
    std::string held;   // the refusal after "Ini/unit01.idx: ", empty when taken over at once
  };
  const std::vector<Holder> holders = {
      {"window here", "", 0, ""},
      {"other host", "host=elsewhere\npid=1\nuser=op\nsince=2026-12-07T10:00:00+0100\n", 0,
       "locked by op on elsewhere, process 1, since 2026-12-07T10:00:00+0100; if that computer no "
       "longer runs Voxtar on this lesson, run again with --take-over"},
      {"empty, left by a holder killed", "\n", 60, ""},
  };
  for (const std::string command : {"normalize", "restore", "prune --keep 5", "new --force"}) {
    for (const Holder& holder : holders) {
      SCOPED_TRACE(command + ", " + holder.what);
      WriteBytes(tmp / "Ini/unit01.idx", index);
      std::optional<lesson::LessonLock> window;
      std::string held = holder.held;
      if (holder.lines.empty()) {
        window.emplace(platform::FromUtf8(Path("Ini/unit01.idx")));
        ASSERT_EQ(window->Acquire(), lesson::LessonLock::Result::Acquired);
        held = lesson::DescribeHolder(window->holder()) + thisHost;
      } else {
        WriteBytes(lockFile, holder.lines == "\n" ? "" : holder.lines);
        const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - holder.age, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, lockFile.c_str(), times, 0), 0);
      }
      const std::string take = ReadBytes(tmp / "Prompt/unit01/a.wav");
      const std::string args = command.starts_with("new")       ? " Ini/unit01.idx --from s.txt"
                               : command.starts_with("restore") ? " Ini/unit01.idx a.wav"
                                                                : " Ini/unit01.idx";
      const Result first = Shell(command + args);
      if (!held.empty()) {
        EXPECT_EQ(first.status, kExitFailed);
        EXPECT_TRUE(first.out.starts_with("Ini/unit01.idx: " + held + "\n")) << first.out;
        EXPECT_EQ(ReadBytes(tmp / "Ini/unit01.idx"), index);
        EXPECT_EQ(ReadBytes(tmp / "Prompt/unit01/a.wav"), take);
        const Result takenOver = Shell(command + " --take-over" += args);
        EXPECT_EQ(takenOver.status, kExitOk) << takenOver.out;
      } else {
        EXPECT_EQ(first.status, kExitOk) << first.out;
      }
      EXPECT_FALSE(fs::exists(lockFile));  // released by the writer that took it
    }
  }

  const std::string both = "cd '" + tmp.path().string() +
                           "' && for i in 1 2 3 4 5 6 7 8; do '" VOXTAR_LESSON_TOOL
                           "' new Ini/n$i.idx --from s.txt > new$i.txt 2>&1 & done; wait";
  ASSERT_EQ(std::system(both.c_str()), 0);
  const std::string list = ReadBytes(tmp / "Ini/lessons.ini");
  for (int i = 1; i <= 8; ++i) {
    const std::string lesson = "n" + std::to_string(i);
    EXPECT_EQ(ReadBytes(tmp / ("new" + std::to_string(i) + ".txt")),
              "Ini/" + lesson + ".idx: 1 prompt, added to Ini/lessons.ini\n");
    EXPECT_NE(list.find("\r\n" + lesson + ".ini\r\n"), std::string::npos) << lesson;
  }
}

}  // namespace
}  // namespace voxtar::cli
