// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/outcome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace voxtar::platform {
namespace {

TEST(Outcome, TellsTheFileAndTheSystemsCauseWithItsCode) {
  EXPECT_TRUE(Outcome().ok());
  const struct {
    int error;
    const char* fallback;
    std::string message;
    std::error_condition condition;
  } cases[] = {
      {ENOENT, "", "Cannot read: /a/б.wav (" + std::generic_category().message(ENOENT) + ")",
       std::errc::no_such_file_or_directory},
      {EACCES, "", "Cannot read: /a/б.wav (" + std::generic_category().message(EACCES) + ")",
       std::errc::permission_denied},
      {0, "not a regular file", "Cannot read: /a/б.wav (not a regular file)", {}},
      {0, "", "Cannot read: /a/б.wav", {}},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Outcome::OfFile("Cannot read", "/a/б.wav", c.error, c.fallback);
    EXPECT_FALSE(outcome.ok()) << c.message;
    EXPECT_EQ(outcome.message(), c.message);
    // A system code compares equal to the portable condition callers test for.
    EXPECT_TRUE(outcome.code() == c.condition) << c.message;
    EXPECT_EQ(static_cast<bool>(outcome.code()), c.error != 0) << c.message;
  }
}

}  // namespace
}  // namespace voxtar::platform
