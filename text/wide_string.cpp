#include "text/wide_string.h"

#include <array>
#include <cstdint>

#include "platform/file_system.h"

namespace voxtar {

namespace {

using Table128 = std::array<std::uint8_t, 128>;
using Table160 = std::array<std::uint8_t, 160>;
using Table64 = std::array<std::uint8_t, 64>;

// Windows-1251 codes of the Russian, Ukrainian (without Ґ ґ) and Belarusian letters, indexed by
// code point - U+0400. Every other letter has no 8-bit form here.
constexpr Table128 MakeCyrillicTable() {
  Table128 table{};
  for (unsigned c = 0x410; c <= 0x44F; ++c) {
    table[c - 0x400] = static_cast<std::uint8_t>(c - 0x350);
  }
  table[0x01] = 0xA8;  // Ё
  table[0x51] = 0xB8;  // ё
  table[0x04] = 0xAA;  // Є
  table[0x54] = 0xBA;  // є
  table[0x06] = 0xB2;  // І
  table[0x56] = 0xB3;  // і
  table[0x07] = 0xAF;  // Ї
  table[0x57] = 0xBF;  // ї
  table[0x0E] = 0xA1;  // Ў
  table[0x5E] = 0xA2;  // ў
  return table;
}

// 8-bit Armenian letter codes, indexed by code point - U+0500.
constexpr Table160 MakeArmenianTable() {
  Table160 table{};
  for (unsigned c = 0x531; c <= 0x556; ++c) {
    table[c - 0x500] = static_cast<std::uint8_t>(0xB2 + 2 * (c - 0x531));
  }
  for (unsigned c = 0x561; c <= 0x586; ++c) {
    table[c - 0x500] = static_cast<std::uint8_t>(0xB3 + 2 * (c - 0x561));
  }
  table[0x5B] = 0xB0;
  table[0x5C] = 0xAF;
  table[0x5D] = 0xAA;
  table[0x5E] = 0xB1;
  table[0x87] = 0x9C;  // և
  table[0x89] = 0xA3;  // ։
  return table;
}

// 8-bit Georgian letter codes, indexed by code point - U+10C0.
constexpr Table64 MakeGeorgianTable() {
  Table64 table{};
  const auto run = [&table](unsigned first, unsigned last, unsigned code) {
    for (unsigned c = first; c <= last; ++c) {
      table[c - 0x10C0] = static_cast<std::uint8_t>(code + (c - first));
    }
  };
  run(0x10D0, 0x10D6, 0xC0);
  run(0x10D7, 0x10DC, 0xC8);
  run(0x10DD, 0x10E2, 0xCF);
  run(0x10E3, 0x10EE, 0xD6);
  run(0x10EF, 0x10F0, 0xE3);
  table[0x31] = 0xC7;
  table[0x32] = 0xCE;
  table[0x33] = 0xD5;
  table[0x34] = 0xE2;
  table[0x35] = 0xE5;
  return table;
}

constexpr Table128 kCyrillic = MakeCyrillicTable();
constexpr Table160 kArmenian = MakeArmenianTable();
constexpr Table64 kGeorgian = MakeGeorgianTable();

static_assert(kCyrillic[0x10] == 0xC0 && kCyrillic[0x4F] == 0xFF && kCyrillic[0x02] == 0);
static_assert(kArmenian[0x56] == 0xFC && kArmenian[0x86] == 0xFD && kArmenian[0x5A] == 0);
static_assert(kGeorgian[0x20] == 0xD2 && kGeorgian[0x30] == 0xE4 && kGeorgian[0x36] == 0);

constexpr char kUnknown = '?';

// The narrow form of one unit; 0 when the unit is dropped.
char NarrowUnit(char16_t unit) {
  const unsigned high = unit >> 8;
  std::uint8_t code = 0;
  switch (high) {
    case 0x00:
      return static_cast<char>(unit);
    case 0x03:
      return 0;
    case 0x04:
      code = kCyrillic[unit & 0x7Fu];
      break;
    case 0x05:
      if (unit - 0x500u < kArmenian.size()) {
        code = kArmenian[unit - 0x500u];
      }
      break;
    case 0x10:
      code = kGeorgian[unit & 0x3Fu];
      break;
    default:
      break;
  }
  return code == 0 ? kUnknown : static_cast<char>(code);
}

char narrowPathBuffer[kNarrowPathCapacity];

template <typename Char>
Char* FindCharIn(Char* s, char16_t unit) {
  if (unit == 0) {
    return nullptr;
  }
  for (; *s != 0; ++s) {
    if (*s == unit) {
      return s;
    }
  }
  return nullptr;
}

template <typename Char>
Char* FindSubstringIn(Char* text, const char16_t* pattern) {
  if (*text == 0 || *pattern == 0) {
    return nullptr;
  }
  for (; *text != 0; ++text) {
    std::size_t i = 0;
    while (pattern[i] != 0 && text[i] == pattern[i]) {
      ++i;
    }
    if (pattern[i] == 0) {
      return text;
    }
  }
  return nullptr;
}

constexpr bool FoldsLower(char16_t c) {
  return (c >= 0x41 && c <= 0x5A) || (c >= 0xC0 && c <= 0xDE) || (c >= 0x410 && c <= 0x42F);
}

}  // namespace

std::size_t StringLength(const char16_t* s) {
  std::size_t length = 0;
  while (s[length] != 0) {
    ++length;
  }
  return length;
}

char16_t* CopyString(char16_t* destination, const char16_t* source) {
  std::size_t i = 0;
  do {
    destination[i] = source[i];
  } while (source[i++] != 0);
  return destination;
}

char16_t* AppendString(char16_t* destination, const char16_t* source) {
  CopyString(destination + StringLength(destination), source);
  return destination;
}

int CompareStrings(const char16_t* a, const char16_t* b) {
  std::size_t i = 0;
  while (a[i] == b[i]) {
    if (a[i] == 0) {
      return 0;
    }
    ++i;
  }
  return static_cast<int>(a[i]) - static_cast<int>(b[i]);
}

const char16_t* FindChar(const char16_t* s, char16_t unit) {
  return FindCharIn(s, unit);
}
char16_t* FindChar(char16_t* s, char16_t unit) {
  return FindCharIn(s, unit);
}

const char16_t* FindSubstring(const char16_t* text, const char16_t* pattern) {
  return FindSubstringIn(text, pattern);
}
char16_t* FindSubstring(char16_t* text, const char16_t* pattern) {
  return FindSubstringIn(text, pattern);
}

char16_t* CopyBounded(char16_t* destination, const char16_t* source, std::size_t count) {
  destination[0] = source[0];
  if (source[0] == 0) {
    return destination;
  }
  for (std::size_t i = 1; i + 1 < count; ++i) {
    destination[i] = source[i];
    if (source[i] == 0) {
      break;
    }
  }
  return destination;
}

char16_t* FoldLower(char16_t* s) {
  for (; *s != 0; ++s) {
    if (FoldsLower(*s)) {
      *s = static_cast<char16_t>(*s + 0x20);
    }
  }
  return s;
}

void FoldLower(std::u16string& s) {
  for (char16_t& c : s) {
    if (FoldsLower(c)) {
      c = static_cast<char16_t>(c + 0x20);
    }
  }
}

void SplitPath(const char16_t* path, char16_t* drive, char16_t* directory, char16_t* name,
               char16_t* extension) {
  const std::size_t length = StringLength(path);
  std::size_t fileStart = 0;  // just after the last separator
  for (std::size_t i = length; i > 0; --i) {
    if (path[i - 1] == platform::kSeparator) {
      fileStart = i;
      break;
    }
  }
  // No drive letters here: drive stays empty and directory takes the whole leading part.
  if (drive != nullptr) {
    drive[0] = 0;
  }
  if (directory != nullptr) {
    for (std::size_t i = 0; i < fileStart; ++i) {
      directory[i] = path[i];
    }
    directory[fileStart] = 0;
  }
  std::size_t dot = length;
  for (std::size_t i = length; i > fileStart; --i) {
    if (path[i - 1] == u'.') {
      dot = i - 1;
      break;
    }
  }
  if (name != nullptr) {
    for (std::size_t i = fileStart; i < dot; ++i) {
      name[i - fileStart] = path[i];
    }
    name[dot - fileStart] = 0;
  }
  if (extension != nullptr) {
    std::size_t out = 0;
    for (std::size_t i = dot + 1; i < length; ++i) {
      extension[out++] = path[i];
    }
    extension[out] = 0;
  }
}

PathParts SplitPath(std::u16string_view path) {
  // Only the part before an embedded terminator counts, as for the buffer form.
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

const char* NarrowPath(const char16_t* path) {
  std::size_t out = 0;
  for (const char16_t* unit = path; *unit != 0 && out + 1 < kNarrowPathCapacity; ++unit) {
    const char byte = NarrowUnit(*unit);
    if (byte != 0) {
      narrowPathBuffer[out++] = byte;
    }
  }
  narrowPathBuffer[out] = 0;
  return narrowPathBuffer;
}

}  // namespace voxtar
