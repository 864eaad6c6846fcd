#include "lesson/index_file.h"

#include <string_view>

#include "platform/utf8.h"
#include "text/wide_string.h"

namespace voxtar {

BadLineReason ParseIndexLine(const char16_t* line, PromptEntry& entry) {
  const char16_t* space = FindChar(line, u' ');
  if (space == nullptr) {
    return BadLineReason::NoSpace;
  }
  const auto nameLength = static_cast<std::size_t>(space - line);
  if (nameLength > kMaxPromptNameLength) {
    return BadLineReason::NameTooLong;
  }
  // The text runs to the line's terminator, cut to kMaxPromptTextLength.
  const char16_t* text = space + 1;
  std::size_t textLength = 0;
  while (textLength < kMaxPromptTextLength && text[textLength] != 0) {
    ++textLength;
  }
  entry.name.assign(line, nameLength);
  entry.text.assign(text, textLength);
  return BadLineReason::None;
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

}  // namespace voxtar
