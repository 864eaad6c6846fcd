// SPDX-License-Identifier: GPL-3.0-or-later
#include "lesson/index_file.h"

#include <string_view>

#include "platform/utf8.h"

namespace voxtar::lesson {

BadLineReason ParseIndexLine(std::u16string_view line, PromptEntry& entry) {
  const std::size_t space = line.find(u' ');
  if (space == std::u16string_view::npos) {
    return BadLineReason::NoSpace;
  }
  entry.name = line.substr(0, space);
  entry.text = line.substr(space + 1);
  return BadLineReason::None;
}

LineLimit LineLimitOf(const PromptEntry& entry) {
  if (entry.name.size() > kMaxPromptNameLength) {
    return LineLimit::NameTooLong;
  }
  return entry.text.size() > kMaxPromptTextLength ? LineLimit::TextTooLong : LineLimit::None;
}

std::string OverlongLine::Text() const {
  switch (limit) {
    case LineLimit::None:
      break;
    case LineLimit::NameTooLong:
      return "name of " + std::to_string(length) + " characters, more than " +
             std::to_string(kMaxPromptNameLength);
    case LineLimit::TextTooLong:
      return "text of " + std::to_string(length) + " characters, more than " +
             std::to_string(kMaxPromptTextLength);
    case LineLimit::TextAfterBreak:
      return "text after a carriage return or NUL character";
  }
  return "within the limits";
}

bool EncodeIndex(const PromptList& prompts, const std::function<bool(std::string_view)>& write) {
  // Handed on in pieces of about this size, so that a large lesson is never held twice.
  constexpr std::size_t kPiece = std::size_t{64} * 1024;
  std::string bytes;
  bytes.reserve(kPiece + 2 * (kMaxPromptNameLength + kMaxPromptTextLength + 3));
  bytes += "\xFF\xFE";
  for (const auto& entry : prompts.entries) {
    platform::AppendUtf16Le(bytes, entry->name);
    bytes.append("\x20\x00", 2);
    platform::AppendUtf16Le(bytes, entry->text);
    bytes.append("\x0D\x00\x0A\x00", 4);
    if (bytes.size() >= kPiece) {
      if (!write(bytes)) {
        return false;
      }
      bytes.clear();
    }
  }
  return write(bytes);
}

std::string EncodeIndex(const PromptList& prompts) {
  std::string bytes;
  EncodeIndex(prompts, [&bytes](std::string_view piece) {
    bytes += piece;
    return true;
  });
  return bytes;
}

}  // namespace voxtar::lesson
