// SPDX-License-Identifier: GPL-3.0-or-later
// The text line reader against a plain model of its rules, on any file content and buffer size.
// Input: two bytes choose the buffer size, the rest is the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/utf8.h"
#include "text/text_line_reader.h"

namespace voxtar::fuzz {
namespace {

// Windows-1251 80..BF, written out as text.
constexpr std::u16string_view kUpperHalf =
    u"ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—\u0098™љ›њќћџ\u00A0ЎўЈ¤Ґ¦§Ё©Є«¬\u00AD®Ї°±Ііґµ¶·ё№є»јЅѕї";
static_assert(kUpperHalf.size() == 64);

struct Line {
  std::u16string text;  // up to the first terminator, as a caller sees it
  bool atEnd = false;
  int lineNumber = 0;
};

char16_t EightBit(unsigned char byte) {
  if (byte >= 0xC0) {
    return static_cast<char16_t>(u'А' + (byte - 0xC0));
  }
  return byte >= 0x80 ? kUpperHalf[byte - 0x80] : byte;
}

bool IsUtf8(std::string_view bytes) {
  bool nonAscii = false;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t start = i;
    const char32_t c = platform::DecodeUtf8(bytes, i);
    nonAscii = nonAscii || c >= 0x80 || i - start > 1;
    if (c == 0xFFFD && i - start == 1) {
      return false;
    }
  }
  return nonAscii;
}

// Text up to its first terminator: CR, LF and 0 all end what a caller sees.
std::u16string Visible(const std::u16string& units) {
  return units.substr(0, units.find_first_of(std::u16string_view(u"\0\r\n", 3)));
}

std::vector<Line> Model(std::string_view file, std::size_t size) {
  enum class Mode { EightBit, Utf16Le, Utf8 } mode = Mode::EightBit;
  std::size_t at = 0;
  if (file.starts_with("\xFF\xFE")) {
    mode = Mode::Utf16Le;
    at = 2;
  } else if (file.starts_with("\xEF\xBB\xBF")) {
    mode = Mode::Utf8;
    at = 3;
  } else if (IsUtf8(file)) {
    mode = Mode::Utf8;
  }
  std::vector<Line> lines;
  bool atEnd = false;
  bool midLine = false;
  int lineNumber = 0;
  const std::size_t pieceLimit = std::min<std::size_t>(size, 1024) - 1;
  while (!atEnd) {
    lineNumber += midLine ? 0 : 1;
    midLine = false;
    std::u16string units;
    if (mode == Mode::Utf16Le) {
      for (;;) {
        if (file.size() - at < 2) {
          atEnd = true;
          break;
        }
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(file[at]) |
                                                static_cast<unsigned char>(file[at + 1]) << 8);
        at += 2;
        if (unit == u'\n') {
          break;
        }
        if (units.size() < size - 1) {
          units += unit;
        }
      }
    } else if (pieceLimit == 0) {
      const std::size_t lineFeed = file.find('\n', at);
      atEnd = lineFeed == std::string_view::npos;
      at = atEnd ? file.size() : lineFeed + 1;
    } else if (mode == Mode::EightBit) {
      midLine = true;
      std::size_t taken = 0;
      while (taken < pieceLimit) {
        if (at == file.size()) {
          atEnd = true;
          break;
        }
        const auto byte = static_cast<unsigned char>(file[at++]);
        ++taken;
        units += byte == 0 ? u'\0' : EightBit(byte);
        if (byte == '\n') {
          midLine = false;
          break;
        }
      }
    } else {
      midLine = true;
      std::size_t stored = 0;
      while (stored < pieceLimit) {
        if (at == file.size()) {
          atEnd = true;
          break;
        }
        if (file[at] == '\n') {
          ++at;
          midLine = false;
          break;
        }
        std::size_t next = at;
        const char32_t c =
            platform::DecodeUtf8(file.substr(0, std::min(file.size(), at + 4)), next);
        const std::size_t width = c >= 0x10000 ? 2 : 1;
        if (stored + width > pieceLimit) {
          if (stored == 0) {
            at = next;  // fits no piece: dropped
            continue;
          }
          break;
        }
        at = next;
        stored += width;
        if (width == 2) {
          units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
          units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
          units += static_cast<char16_t>(c);
        }
      }
    }
    lines.push_back({Visible(units), atEnd, lineNumber});
  }
  return lines;
}

}  // namespace
}  // namespace voxtar::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace voxtar;
  if (size < 2) {
    return 0;
  }
  const std::size_t bufferSize = 1 + static_cast<std::size_t>(data[0] | (data[1] << 8)) % 1100;
  const std::string_view file(reinterpret_cast<const char*>(data + 2), size - 2);
  const auto path = fuzz::ScratchDirectory() / "lines.txt";
  fuzz::WriteFile(path, file);

  voxtar::text::TextLineReader reader;
  reader.Open(platform::FromUtf8(path.string()));
  if (reader.status() != voxtar::text::ReaderStatus::Opened) {
    fuzz::Fail("a regular file did not open");
  }
  const std::vector<fuzz::Line> expected = fuzz::Model(file, bufferSize);
  for (const fuzz::Line& line : expected) {
    const std::optional<std::u16string_view> read = reader.ReadLine(bufferSize);
    if (!read) {
      fuzz::Fail("ReadLine ended early");
    }
    if (read->size() >= bufferSize) {
      fuzz::Fail("ReadLine handed back more than the buffer holds");
    }
    if (std::u16string(*read) != line.text) {
      fuzz::Fail("line text differs from the model");
    }
    if (reader.AtEnd() != line.atEnd || reader.lineNumber() != line.lineNumber) {
      fuzz::Fail("end or line number differs from the model");
    }
  }
  if (reader.ReadLine(bufferSize) || reader.ReadFailed()) {
    fuzz::Fail("a read after the end returned a line");
  }
  return 0;
}
