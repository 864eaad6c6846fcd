// SPDX-License-Identifier: GPL-3.0-or-later
// How values are written in the outputs meant for other programs and for reading: a JSON string
// and a figure with a fixed number of decimals.
#pragma once

#include <string>
#include <string_view>

namespace voxtar::text {

// A JSON string literal of UTF-8 text; bytes that are not UTF-8 (a path as given) become
// U+FFFD, which JSON can hold.
std::string JsonString(std::string_view text);
// `value` with `decimals` decimals ("2.40").
std::string Fixed(double value, int decimals);

}  // namespace voxtar::text
