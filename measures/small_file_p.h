// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a small text file whole (a profile, a measure cache).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace voxtar::measures {

enum class SmallFileError { None, Unreadable, TooLarge };

// The whole file at `path` (resolved ignoring letter case); unset with *error when it cannot be
// read or holds more than `maxSize` bytes.
std::optional<std::string> ReadSmallFile(std::u16string_view path, std::uint64_t maxSize,
                                         SmallFileError* error);

}  // namespace voxtar::measures
