// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/outcome.h"

#include "platform/utf8.h"

namespace voxtar::platform {

Outcome Outcome::OfFile(std::string_view sentence, std::string_view path, int error,
                        std::string_view fallback) {
  if (error == 0) {
    return {{}, FileText(sentence, path, fallback)};
  }
  return {std::error_code(error, std::system_category()),
          FileText(sentence, path, SystemText(error))};
}

std::string SystemText(int error) {
  // The text is in the locale's encoding.
  const std::string text = std::system_category().message(error);
  return IsValidUtf8(text) ? text : ToUtf8(FromUtf8(text));
}

std::string FileText(std::string_view sentence, std::string_view path, std::string_view cause) {
  std::string text(sentence);
  text += ": ";
  text += path;
  if (!cause.empty()) {
    text += " (";
    text += cause;
    text += ')';
  }
  return text;
}

}  // namespace voxtar::platform
