// SPDX-License-Identifier: GPL-3.0-or-later
// What the lines the import writes may not hold, in the index and in the lesson list alike.
#pragma once

#include <string>
#include <string_view>

namespace voxtar::import {

// "has a control character (U+001B)" when `text` holds one, else empty: neither file has room
// for them, and a CR or LF would even split the line.
std::string ControlFault(std::u16string_view text);
// The unit as "U+0416".
std::string UnitName(char16_t unit);
// The text in double quotes, as UTF-8.
std::string Quoted(std::u16string_view text);

}  // namespace voxtar::import
