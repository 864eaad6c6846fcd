#include "lesson/index_file.h"

#include <array>

#include "text/wide_string.h"

namespace voxtar {

namespace {

void AppendUnits(std::string& bytes, const std::u16string& units) {
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
}

}  // namespace

BadLineReason ParseIndexLine(const char16_t* line, PromptEntry& entry) {
  const char16_t* space = FindChar(line, u' ');
  if (space == nullptr) {
    return BadLineReason::NoSpace;
  }
  const auto nameLength = static_cast<std::size_t>(space - line);
  if (nameLength > kMaxNameLength) {
    return BadLineReason::NameTooLong;
  }
  std::array<char16_t, kMaxTextLength + 1> text{};
  CopyBounded(text.data(), space + 1, text.size());
  text[kMaxTextLength] = 0;
  entry.name.assign(line, nameLength);
  entry.text = text.data();
  return BadLineReason::None;
}

std::string EncodeIndex(const PromptList& prompts) {
  std::size_t size = 2;
  for (const auto& entry : prompts.entries) {
    size += 2 * (entry->name.size() + entry->text.size() + 3);
  }
  std::string bytes;
  bytes.reserve(size);
  bytes += "\xFF\xFE";
  for (const auto& entry : prompts.entries) {
    AppendUnits(bytes, entry->name);
    bytes.append("\x20\x00", 2);
    AppendUnits(bytes, entry->text);
    bytes.append("\x0D\x00\x0A\x00", 4);
  }
  return bytes;
}

}  // namespace voxtar
