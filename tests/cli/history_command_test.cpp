// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/history_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "history/take_history.h"
#include "lesson/lesson_lock.h"
#include "platform/file_system.h"
#include "testing/synthetic_take.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr std::int64_t kFirst = 1'615'000'000'123;  // 2021-03-06 04:06:40.123 at UTC+1

// A lesson whose prompt a.wav was saved three times, a minute apart, in a time zone of UTC+1.
class HistoryCommands : public LessonTool {
 protected:
  void SetUp() override {
    if (const char* zone = std::getenv("TZ")) {
      zone_ = zone;
    }
    ::setenv("TZ", "XYZ-1", 1);
    ::tzset();
    testing::WriteBytes(tmp / "w/ini/l.idx", "a.wav Hello there\r\nb.wav Good day\r\nc.wav 12\r\n");
    testing::WriteBytes(tmp / "w/ini/m.idx", "a.wav Never recorded\r\n");  // no prompt directory
    fs::create_directories(tmp / "w/Prompt/l");
    Save(audio::SpokenTake(kWav16), kFirst);
    Save(audio::SilentTake(kWav16, 44100, 1, 1.0), kFirst + 60'000);
    Save(audio::SpokenTake(kWav16), kFirst + 120'000);
  }
  void TearDown() override {
    zone_ ? ::setenv("TZ", zone_->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

  void Save(const audio::WaveElement& take, std::int64_t savedMs) const {
    const history::TakeHistory history(platform::FromUtf8(Path("w/Prompt/l")),
                                       platform::FromUtf8(Path("w")));
    ASSERT_TRUE(history.Save(u"a.wav", take).ok());
    const timespec times[2] = {{0, UTIME_OMIT}, {savedMs / 1000, (savedMs % 1000) * 1'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path("w/Prompt/l/a.wav").c_str(), times, 0), 0);
  }

  std::optional<std::string> zone_;
};

TEST_F(HistoryCommands, ListRestoreAndPrune) {
  const std::string index = Path("w/ini/l.idx");
  const std::string before = ReadBytes(index);
  const std::string tryHelp = "Try 'voxtar-lesson --help'";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;  // for bad usage: a part of it
  };
  const std::vector<Case> cases = {
      {{"history", index},
       kExitOk,
       index + ": 2 earlier takes\n" +
           "a.wav\t1\t2021-03-06 04:07:40\t1.00 s\tsilent\n"
           "a.wav\t2\t2021-03-06 04:06:40\t2.40 s\tok\n",
       ""},
      {{"history", "--json", index, "A.WAV", "b.wav"},
       kExitOk,
       "{\"index\": \"" + index + "\", \"takes\": [\n" +
           "  {\"name\": \"a.wav\", \"number\": 1, \"saved\": \"2021-03-06T04:07:40.123+01:00\", "
           "\"seconds\": 1.000, \"ok\": false, \"verdicts\": [\"silent\"]},\n"
           "  {\"name\": \"a.wav\", \"number\": 2, \"saved\": \"2021-03-06T04:06:40.123+01:00\", "
           "\"seconds\": 2.400, \"ok\": true, \"verdicts\": [\"ok\"]}]}\n",
       ""},
      {{"history", index, "b.wav", "z\x1b.wav"},
       kExitFailed,
       index + ": 0 earlier takes\n",
       index + ": z\\x1b.wav: not a prompt of this lesson\n"},
      {{"restore", index, "a.wav", "3"},
       kExitFailed,
       "",
       index + ": There is no earlier take 3 of a.wav\n"},
      {{"restore", index, "b.wav"},
       kExitFailed,
       "",
       index + ": There is no earlier take 1 of b.wav\n"},
      {{"restore", index, "A.WAV", "2"},
       kExitOk,
       index +
           ": a.wav: earlier take 2 restored; the take it replaced is kept as an earlier take\n",
       ""},
      {{"history", index, "a.wav"},
       kExitOk,
       index + ": 2 earlier takes\n" +
           "a.wav\t1\t2021-03-06 04:08:40\t2.40 s\tok\n"
           "a.wav\t2\t2021-03-06 04:07:40\t1.00 s\tsilent\n",
       ""},
      {{"prune", index, "--keep", "1"},
       kExitOk,
       index + ": 1 earlier take removed, 86.2 KiB freed\n" +
           "total: 1 earlier take removed, 86.2 KiB freed\n",
       ""},
      {{"prune", "--keep=0", index, Path("w/ini/gone.idx"), Path("w/ini/m.idx")},
       kExitFailed,
       index + ": 1 earlier take removed, 206.8 KiB freed\n" + Path("w/ini/gone.idx") +
           ": file not found\n" + Path("w/ini/m.idx") +
           ": 0 earlier takes removed, 0 bytes freed\n"
           "total: 1 earlier take removed, 206.8 KiB freed\n",
       ""},
      {{"history"}, kExitUsage, "", tryHelp},
      {{"history", "--keep", "1", index}, kExitUsage, "", tryHelp},
      {{"restore", index}, kExitUsage, "", tryHelp},
      {{"restore", index, "a.wav", "0"}, kExitUsage, "", tryHelp},
      {{"restore", index, "a.wav", "+1"}, kExitUsage, "", tryHelp},
      {{"restore", index, "a.wav", "1", "2"}, kExitUsage, "", tryHelp},
      {{"restore", "--json", index, "a.wav"}, kExitUsage, "", tryHelp},
      {{"prune", index}, kExitUsage, "", tryHelp},
      {{"prune", "--keep", "-1", index}, kExitUsage, "", tryHelp},
      {{"prune", "--keep", "99999999999", index}, kExitUsage, "", tryHelp},
      {{"prune", "--keep"}, kExitUsage, "", tryHelp},
      {{"prune", "--keep", "1"}, kExitUsage, "", tryHelp},
  };
  for (const Case& c : cases) {
    const Result result = Run(c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    if (c.status == kExitUsage) {
      EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    } else {
      EXPECT_EQ(result.err, c.err);
    }
  }
  EXPECT_EQ(ReadBytes(index), before);  // read as a dry run, even by restore and prune
  EXPECT_EQ(fs::file_size(tmp / "w/Prompt/l/a.wav"), 211'724u);  // the restored take stays
}

// A window has the lesson open: the commands that change its takes leave them alone.
TEST_F(HistoryCommands, RestoreAndPruneLeaveALessonOpenElsewhereAlone) {
  lesson::LessonLock window(platform::FromUtf8(Path("w/ini/l.idx")));
  ASSERT_EQ(window.Acquire(), lesson::LessonLock::Result::Acquired);
  const std::string take = ReadBytes(tmp / "w/Prompt/l/a.wav");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"restore", Path("w/ini/l.idx"), "a.wav"},
        std::vector<std::string>{"prune", "--keep", "0", Path("w/ini/l.idx")}}) {
    const Result locked = Run(args);
    EXPECT_EQ(locked.status, kExitFailed);
    EXPECT_NE((locked.out + locked.err).find(lesson::DescribeHolder(window.holder())),
              std::string::npos)
        << locked.out << locked.err;
  }
  EXPECT_EQ(ReadBytes(tmp / "w/Prompt/l/a.wav"), take);
  window.Release();
  EXPECT_EQ(Run({"restore", Path("w/ini/l.idx"), "a.wav"}).status, kExitOk);
}

}  // namespace
}  // namespace voxtar::cli
