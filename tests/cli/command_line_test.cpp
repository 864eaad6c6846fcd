// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_support.h"
#include "cli/usage_text.h"

namespace voxtar::cli {
namespace {

// What a command with a flag, an option with two names and one with an optional value makes of
// its arguments: operands and values, or the usage error.
TEST(CommandLine, TellsOptionsFromOperandsAsTheCommandsRelyOn) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> operands;
    std::string output;  // -o's value
    std::optional<std::string> level;
    bool flag = false;
    std::string error;  // the usage error, when there is one
  };
  const Case cases[] = {
      {{"a", "-o", "x", "--flag", "b"}, {"a", "b"}, "x", {}, true, ""},
      {{"--output=x", "--output", "y"}, {}, "y", {}, false, ""},  // the last counts
      {{"--level", "-23", "a"}, {"a"}, "", "-23", false, ""},     // a value may start with "-"
      {{"--level=", "a"}, {"a"}, "", "", false, ""},              // empty, not missing
      {{"--level", ""}, {}, "", "", false, ""},
      {{"-", "--", "--flag", "-1", "-o"}, {"-", "--flag", "-1", "-o"}, "", {}, false, ""},
      {{"a", "-o"}, {}, "", {}, false, "-o needs a FILE"},
      {{"a", "--output"}, {}, "", {}, false, "--output needs a FILE"},
      {{"--level"}, {}, "", {}, false, "--level needs a number"},
      {{"a", "--frob=1", "b"}, {}, "", {}, false, "unknown option '--frob=1'"},
      {{"-1", "a"}, {}, "", {}, false, "unknown option '-1'"},
      {{"--\x1b[2J"}, {}, "", {}, false, "unknown option '--\\x1b[2J'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    CommandLine line;
    bool flag = false;
    std::string output;
    std::optional<std::string> level;
    line.Flag("--flag", &flag);
    line.Valued("-o,--output", &output, "FILE");
    line.Valued("--level", &level, "number");
    std::vector<std::string> operands;
    std::ostringstream out;
    std::ostringstream err;
    const std::optional<int> status = line.Parse(c.args, &operands, out, err);
    EXPECT_EQ(out.str(), "");
    if (!c.error.empty()) {
      EXPECT_EQ(status, kExitUsage);
      EXPECT_EQ(err.str(), "voxtar-lesson: " + c.error +
                               "\nTry 'voxtar-lesson --help' for more information.\n");
      continue;
    }
    EXPECT_EQ(status, std::nullopt) << err.str();
    EXPECT_EQ(operands, c.operands);
    EXPECT_EQ(output, c.output);
    EXPECT_EQ(level, c.level);
    EXPECT_EQ(flag, c.flag);
  }
}

TEST(CommandLine, HelpAnywhereBeforeTheEndOfOptionsShowsTheUsage) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-h"}, {"a", "--help", "b"}}) {
    CommandLine line;
    std::vector<std::string> operands;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(line.Parse(args, &operands, out, err), kExitOk);
    EXPECT_EQ(out.str(), UsageText());
    EXPECT_EQ(err.str(), "");
  }
}

}  // namespace
}  // namespace voxtar::cli
