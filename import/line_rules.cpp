// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>

#include "import/line_rules_p.h"
#include "platform/utf8.h"

namespace voxtar::import {

std::string ControlFault(std::u16string_view text) {
  const auto control = std::find_if(
      text.begin(), text.end(), [](char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); });
  if (control == text.end()) {
    return {};
  }
  return "has a control character (" + UnitName(*control) + ")";
}

std::string UnitName(char16_t unit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name = "U+";
  for (int shift = 12; shift >= 0; shift -= 4) {
    name += kHex[(unit >> shift) & 0xF];
  }
  return name;
}

std::string Quoted(std::u16string_view text) {
  return "\"" + platform::ToUtf8(text) + "\"";
}

}  // namespace voxtar::import
