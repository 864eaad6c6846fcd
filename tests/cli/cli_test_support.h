// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson tool run in-process on a fresh temporary directory, for the command tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/lesson_tool.h"
#include "tests/support/temp_dir.h"

namespace voxtar::cli {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string Utf16Index(std::u16string_view lines) {
  return "\xFF\xFE" + testing::Utf16LeBytes(lines);
}

// The user's measure cache is <tmp>/cache/voxtar, for the tool run in-process and as a program.
class LessonTool : public ::testing::Test {
 protected:
  LessonTool() { ::setenv("XDG_CACHE_HOME", (tmp / "cache").c_str(), 1); }
  ~LessonTool() override { ::unsetenv("XDG_CACHE_HOME"); }

  Result Run(const std::vector<std::string>& args) const {
    std::ostringstream out;
    std::ostringstream err;
    Result result;
    result.status = RunLessonTool(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
  }
  std::string Path(std::string_view relative) const { return (tmp / relative).string(); }

  testing::TempDir tmp;
};

}  // namespace voxtar::cli
