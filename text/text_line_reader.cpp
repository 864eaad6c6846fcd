#include "text/text_line_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace voxtar {

namespace {

// An 8-bit line comes back in pieces of at most this many bytes less one, whatever size the
// caller's buffer has.
constexpr std::size_t kEightBitChunk = 1024;

// Windows-1251: 80..BF, then the Russian letters C0..FF. CR and LF become terminators, so a
// line's text ends at its first CR or LF. 98 has no meaning in Windows-1251 and stays as it is.
constexpr std::array<char16_t, 64> kWindows1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr std::array<char16_t, 256> MakeEightBitTable() {
  std::array<char16_t, 256> table{};
  for (unsigned byte = 0; byte < 0x80; ++byte) {
    table[byte] = static_cast<char16_t>(byte);
  }
  for (unsigned byte = 0x80; byte < 0xC0; ++byte) {
    table[byte] = kWindows1251High[byte - 0x80];
  }
  for (unsigned byte = 0xC0; byte <= 0xFF; ++byte) {
    table[byte] = static_cast<char16_t>(byte + 0x350);  // А..я
  }
  table[0x0D] = 0;
  table[0x0A] = 0;
  return table;
}

constexpr std::array<char16_t, 256> kEightBit = MakeEightBitTable();

static_assert(kEightBit[0xA8] == u'Ё' && kEightBit[0xB8] == u'ё' && kEightBit[0xB9] == u'№');
static_assert(kEightBit[0xC0] == u'А' && kEightBit[0xFF] == u'я' && kEightBit[0x98] == 0x98);

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool HasNonAscii(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace

void TextLineReader::Open(std::u16string_view path) {
  Close();  // a reader holds at most one file
  path = path.substr(0, path.find(u'\0'));
  mode_ = ReaderMode::EightBit;
  error_ = platform::FileError::None;
  lineNumber_ = 0;
  midLine_ = false;
  atEnd_ = false;
  position_ = 0;
  if (path.size() > kMaxPathLength) {
    fileName_.clear();
    error_ = platform::FileError::NotFound;
    status_ = ReaderStatus::OpenFailed;
    return;
  }
  fileName_ = path;
  // The system names files in UTF-8 here; the 8-bit path form would name no file.
  error_ = platform::ReadRegularFile(path, kMaxFileSize, bytes_);
  if (error_ != platform::FileError::None) {
    status_ = ReaderStatus::OpenFailed;
    return;
  }
  status_ = ReaderStatus::Opened;
  const std::string_view bytes(bytes_);
  if (bytes.starts_with(kUtf16LeMark)) {
    mode_ = ReaderMode::Utf16Le;
    position_ = kUtf16LeMark.size();
  } else if (bytes.starts_with(kUtf8Mark)) {
    mode_ = ReaderMode::Utf8;
    position_ = kUtf8Mark.size();
  } else if (HasNonAscii(bytes) && platform::IsValidUtf8(bytes)) {
    // Windows-1251 Russian text is practically never valid UTF-8: its letters C0..FF are UTF-8
    // lead bytes, and a letter is almost always followed by another letter, not by 80..BF.
    mode_ = ReaderMode::Utf8;
  }
  // Anything else, FF 0F included, is 8-bit text from its first byte.
}

int TextLineReader::ReadLine(char16_t* buffer, int size) {
  if (status_ != ReaderStatus::Opened || size < 1 || atEnd_) {
    return 0;
  }
  if (!midLine_) {
    ++lineNumber_;
  }
  midLine_ = false;
  const auto units = static_cast<std::size_t>(size);
  switch (mode_) {
    case ReaderMode::Utf16Le:
      return ReadUtf16LeLine(buffer, units - 1);
    case ReaderMode::Utf8:
      return ReadUtf8Line(buffer, std::min(units, kEightBitChunk) - 1);
    case ReaderMode::EightBit:
      break;
  }
  return ReadEightBitLine(buffer, std::min(units, kEightBitChunk) - 1);
}

int TextLineReader::ReadUtf16LeLine(char16_t* buffer, std::size_t limit) {
  std::size_t stored = 0;
  const std::size_t size = bytes_.size();
  const auto* bytes = reinterpret_cast<const unsigned char*>(bytes_.data());
  for (;;) {
    if (size - position_ < 2) {
      position_ = size;  // an odd trailing byte is dropped
      atEnd_ = true;
      break;
    }
    const auto unit = static_cast<char16_t>(bytes[position_] | (bytes[position_ + 1] << 8));
    position_ += 2;
    if (unit == u'\n') {
      break;
    }
    // The rest of an overlong line is read and dropped, so the next call starts a new line.
    if (stored < limit) {
      buffer[stored++] = unit == u'\r' ? char16_t{0} : unit;
    }
  }
  buffer[stored] = 0;
  return 1;
}

void TextLineReader::SkipLine() {
  const std::size_t lineFeed = bytes_.find('\n', position_);
  if (lineFeed == std::string::npos) {
    position_ = bytes_.size();
    atEnd_ = true;
  } else {
    position_ = lineFeed + 1;
  }
}

int TextLineReader::ReadEightBitLine(char16_t* buffer, std::size_t limit) {
  if (limit == 0) {
    // No room for a single character: the line is dropped, as an overlong UTF-16LE line's end
    // is, rather than handed back as an endless run of empty pieces.
    SkipLine();
    buffer[0] = 0;
    return 1;
  }
  // A piece ends after a line feed, after `limit` bytes, or at the end of the file.
  const std::size_t available = bytes_.size() - position_;
  std::size_t length = std::min(limit, available);
  const void* lineFeed = std::memchr(bytes_.data() + position_, '\n', length);
  if (lineFeed != nullptr) {
    length = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - bytes_.data()) -
             position_ + 1;
  } else {
    midLine_ = true;
    atEnd_ = length == available && length < limit;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(bytes_.data() + position_);
  position_ += length;
  // A 0 byte ends the characters handed back; the bytes after it, up to the line feed, are lost.
  std::size_t stored = 0;
  while (stored < length && bytes[stored] != 0) {
    buffer[stored] = kEightBit[bytes[stored]];
    ++stored;
  }
  buffer[stored] = 0;
  return 1;
}

int TextLineReader::ReadUtf8Line(char16_t* buffer, std::size_t limit) {
  if (limit == 0) {
    SkipLine();
    buffer[0] = 0;
    return 1;
  }
  // As an 8-bit line, counted in UTF-16 units: a piece ends after a line feed, when `limit` units
  // are stored (a character never split), or at the end of the file.
  const std::string_view bytes(bytes_);
  std::size_t stored = 0;
  bool ended = false;  // a 0 character was read: the rest of the piece is consumed, not stored
  midLine_ = true;
  for (;;) {
    if (position_ == bytes.size()) {
      atEnd_ = true;
      break;
    }
    if (bytes[position_] == '\n') {
      ++position_;
      midLine_ = false;
      break;
    }
    const std::size_t start = position_;
    const char32_t c = platform::DecodeUtf8(bytes, position_);
    const std::size_t units = c >= 0x10000 ? 2 : 1;
    if (stored + units > limit) {
      position_ = start;
      break;
    }
    if (ended || c == 0) {
      ended = true;
    } else if (units == 2) {
      buffer[stored++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      buffer[stored++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      buffer[stored++] = c == U'\r' ? char16_t{0} : static_cast<char16_t>(c);
    }
    if (stored == limit) {
      break;
    }
  }
  buffer[stored] = 0;
  return 1;
}

bool TextLineReader::AtEnd() const {
  return status_ != ReaderStatus::Opened || atEnd_;
}

void TextLineReader::Close() {
  bytes_.clear();
  bytes_.shrink_to_fit();
  position_ = 0;
  status_ = ReaderStatus::NotOpen;
}

}  // namespace voxtar
