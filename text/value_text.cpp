// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/value_text.h"

#include <cstdio>

#include "platform/utf8.h"

namespace voxtar::text {

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = platform::DecodeUtf8(text, i);
    if (c == U'"' || c == U'\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else if (c == platform::kReplacementCharacter && i - start == 1) {
      quoted += "\\ufffd";
    } else {
      quoted.append(text, start, i - start);
    }
  }
  return quoted + "\"";
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace voxtar::text
