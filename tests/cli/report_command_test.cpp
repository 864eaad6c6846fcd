// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/report_command.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/tone_file.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/temp_dir.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;

// A report is written whenever it can be, also of a lesson that did not load; never over a file
// that is not a web page, and nothing at all when the template or the target fails.
TEST_F(LessonTool, ReportIsWrittenWithWhatLoadedAndOnlyAsAWebPage) {
  constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  fs::create_directories(tmp / "w/Prompt/l");
  ASSERT_TRUE(audio::WriteToneFile(tmp / "w/sample.wav", kWav16, 44100, 1, 1.0, 440, 0.5));
  testing::WriteBytes(tmp / "w/ini/l.idx", "a.wav Hello there\r\nb.wav Good morning\r\n");
  // A tone from the first sample to the last: cut at both ends.
  ASSERT_TRUE(audio::WriteToneFile(tmp / "w/Prompt/l/a.wav", kWav16, 44100, 1, 2.0, 440, 0.5));
  const std::string index = testing::ReadBytes(tmp / "w/ini/l.idx");

  struct Case {
    const char* directory;  // run in
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;       // its start
    const char* contains;  // in the report written; null: none is written
  };
  const Case cases[] = {
      {"w",
       {"report", "-o", "r.html", "ini/l.idx"},
       kExitOk,
       "r.html: 1 lesson, 1 take, 1 flagged\n",
       "",
       "formats against the template recording's, 44100 Hz, mono, 16-bit"},
      {"",
       {"report", "w/ini/l.idx", "--output=r.HTM"},
       kExitOk,
       "r.HTM: 1 lesson, 1 take, 1 flagged\n",
       "",
       "formats not judged (no template recording)"},
      {"w",
       {"report", "ini/l.idx", "ini/gone.idx", "-o", "r.html"},
       kExitFailed,
       "r.html: 2 lessons, 1 take, 1 flagged\n",
       "ini/gone.idx: file not found\n",
       "Did not load: file not found"},
      {"w",
       {"report", "-o", "gone/r.html", "ini/l.idx"},
       kExitFailed,
       "",
       "gone/r.html: ",
       nullptr},
      {"w",
       {"report", "--template", "gone.wav", "-o", "r.html", "ini/l.idx"},
       kExitFailed,
       "",
       "gone.wav: cannot read the template recording: ",
       nullptr},
      {"w",
       {"report", "--profile=gone.ini", "-o", "r.html", "ini/l.idx"},
       kExitFailed,
       "",
       "gone.ini: ",
       nullptr},
      {"w",
       {"report", "-o", "ini/l.idx", "ini/l.idx"},
       kExitUsage,
       "",
       "voxtar-lesson: the report's FILE must end in .html or .htm\n",
       nullptr},
      {"w",
       {"report", "ini/l.idx"},
       kExitUsage,
       "",
       "voxtar-lesson: report needs -o FILE",
       nullptr},
      {"w",
       {"report", "ini/l.idx", "-o"},
       kExitUsage,
       "",
       "voxtar-lesson: -o needs a FILE\n",
       nullptr},
      {"w",
       {"report", "-o", "r.html"},
       kExitUsage,
       "",
       "voxtar-lesson: report needs at least one",
       nullptr},
      {"w",
       {"report", "--json", "-o", "r.html", "ini/l.idx"},
       kExitUsage,
       "",
       "voxtar-lesson: unknown option '--json'\n",
       nullptr},
  };
  const fs::path previous = fs::current_path();
  for (const Case& c : cases) {
    const std::string trace = c.args[1] + " " + c.args.back();
    fs::current_path(tmp / c.directory);
    const Result result = Run(c.args);
    fs::current_path(previous);
    EXPECT_EQ(result.status, c.status) << trace;
    EXPECT_EQ(result.out, c.out) << trace;
    EXPECT_EQ(result.err.substr(0, c.err.size()), c.err) << trace << ": " << result.err;
    const fs::path written =
        tmp / c.directory / (c.out.empty() ? "r.html" : c.out.substr(0, c.out.find(':')));
    if (c.contains == nullptr) {
      EXPECT_FALSE(fs::exists(written)) << trace;
    } else {
      EXPECT_NE(testing::ReadBytes(written).find(c.contains), std::string::npos) << trace;
    }
    fs::remove(written);
  }
  EXPECT_EQ(testing::ReadBytes(tmp / "w/ini/l.idx"), index);
}

}  // namespace
}  // namespace voxtar::cli
