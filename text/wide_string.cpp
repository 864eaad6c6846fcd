// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/wide_string.h"

#include "platform/file_system.h"

namespace voxtar::text {

namespace {

constexpr bool FoldsLower(char16_t c) {
  return (c >= 0x41 && c <= 0x5A) || (c >= 0xC0 && c <= 0xDE) || (c >= 0x410 && c <= 0x42F);
}

}  // namespace

void FoldLower(std::u16string& s) {
  for (char16_t& c : s) {
    if (FoldsLower(c)) {
      c = static_cast<char16_t>(c + 0x20);
    }
  }
}

PathParts SplitPath(std::u16string_view path) {
  path = path.substr(0, path.find(u'\0'));
  const std::size_t separator = path.rfind(platform::kSeparator);
  const std::size_t fileStart = separator == std::u16string_view::npos ? 0 : separator + 1;
  const std::u16string_view file = path.substr(fileStart);
  const std::size_t dot = file.rfind(u'.');
  PathParts parts;
  parts.directory = path.substr(0, fileStart);
  if (dot == std::u16string_view::npos) {
    parts.name = file;
  } else {
    parts.name = file.substr(0, dot);
    parts.extension = file.substr(dot + 1);
  }
  return parts;
}

}  // namespace voxtar::text
