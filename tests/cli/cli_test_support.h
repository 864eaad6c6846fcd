// The lesson tool run in-process on a fresh temporary directory, for the command tests.
#pragma once

#include <gtest/gtest.h>

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

class LessonTool : public ::testing::Test {
 protected:
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
