// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/new_command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/cli/cli_test_support.h"

namespace voxtar::cli {
namespace {

namespace fs = std::filesystem;
using testing::WriteBytes;

// The README's example, on a copy of the demo with paths relative to it.
TEST_F(LessonTool, NewMakesALessonTheCheckCounts) {
  fs::copy(VOXTAR_DEMO_DIR, tmp.path(), fs::copy_options::recursive);
  WriteBytes(tmp / "sentences.txt", "Two coffees, please.\nWith milk?\nHow much is it?\n");
  WriteBytes(tmp / "bad.txt", "a\tHi\nb\x1b\tHo\n");
  WriteBytes(tmp / "more.txt", "a\tThe bill, please.\nb\tThank you!\n");
  const fs::path previous = fs::current_path();
  fs::current_path(tmp.path());
  const Result made =
      Run({"new", "Ini/unit05.idx", "--from", "sentences.txt", "--caption=Unit 5. At the cafe"});
  const Result again = Run({"new", "Ini/unit05.idx", "--from", "sentences.txt"});
  const Result bad = Run({"new", "--force", "--from", "bad.txt", "--", "Ini/unit05.idx"});
  const Result forced = Run({"new", "Ini/unit05.ini", "--force", "--from=more.txt"});
  // What was asked leads out of the working directory or the prompt directory: bad usage.
  const Result outside = Run({"new", "Ini/../../outside/y.idx", "--from", "sentences.txt"});
  const Result prefix = Run({"new", "Ini/unit06.idx", "--from", "sentences.txt", "--prefix=../x"});
  const Result check = Run({"check", "Ini/unit05.idx"});
  fs::current_path(previous);

  EXPECT_EQ(made.status, kExitOk);
  EXPECT_EQ(made.out, "Ini/unit05.idx: 3 prompts, added to Ini/lessons.ini\n");
  EXPECT_EQ(again.status, kExitFailed);
  EXPECT_EQ(again.err, "Ini/unit05.idx: exists already (--force replaces it)\n");
  EXPECT_EQ(bad.status, kExitFailed);
  EXPECT_EQ(bad.err, "bad.txt:2: name \"b\\x1b.wav\" has a control character (U+001B)\n");
  EXPECT_EQ(forced.out, "Ini/unit05.idx: 2 prompts, already in Ini/lessons.ini\n");
  EXPECT_EQ(check.out, "Ini/unit05.idx: 2 prompts, 0 recorded, 2 pending\n");
  EXPECT_EQ(outside.status, kExitUsage);
  EXPECT_EQ(prefix.status, kExitUsage);
  EXPECT_EQ(
      prefix.err,
      "Ini/unit06.idx: made name \"../x001.wav\" cannot be a file name; choose another prefix\n");
  EXPECT_FALSE(fs::exists(tmp / "Ini/unit06.idx"));
}

}  // namespace
}  // namespace voxtar::cli
