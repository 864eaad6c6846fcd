// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/text_line_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

namespace voxtar::text {

namespace {

// An 8-bit line comes back in pieces of at most this many bytes less one, whatever size the
// caller's buffer has.
constexpr std::size_t kEightBitChunk = 1024;

// The file is read in pieces of this size.
constexpr std::size_t kPiece = std::size_t{64} * 1024;

// Windows-1251: 80..BF, then the Russian letters C0..FF. 98 has no meaning in Windows-1251 and
// stays as it is.
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
  return table;
}

constexpr std::array<char16_t, 256> kEightBit = MakeEightBitTable();

static_assert(kEightBit[0xA8] == u'Ё' && kEightBit[0xB8] == u'ё' && kEightBit[0xB9] == u'№');
static_assert(kEightBit[0xC0] == u'А' && kEightBit[0xFF] == u'я' && kEightBit[0x98] == 0x98);

// Units up to the first CR, LF or 0. All three are below 0E; ordinary text is passed four units
// at a time, with the test for a unit below 0E done on all four at once.
bool AnyUnitBelow0E(std::uint64_t four) {
  constexpr std::uint64_t kLanes = 0x0001000100010001;
  constexpr std::uint64_t kTopBits = 0x8000800080008000;
  return ((four - kLanes * 0x0E) & ~four & kTopBits) != 0;
}

bool EndsText(char16_t unit) {
  return unit == u'\r' || unit == u'\n' || unit == 0;
}

// Whether units that follow the end of a text hold more than line ends and 0s.
bool HoldsText(const char16_t* units, std::size_t count) {
  return std::any_of(units, units + count, [](char16_t unit) { return !EndsText(unit); });
}

std::size_t TextLength(const char16_t* units, std::size_t count) {
  std::size_t at = 0;
  for (; at + 4 <= count; at += 4) {
    std::uint64_t four = 0;
    std::memcpy(&four, units + at, sizeof four);
    if (AnyUnitBelow0E(four)) {
      break;
    }
  }
  while (at < count && !EndsText(units[at])) {
    ++at;
  }
  return at;
}

char16_t Utf16LeUnit(const unsigned char* bytes, std::size_t index) {
  return static_cast<char16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

// The same over UTF-16LE bytes: the index of the first unit that is CR, LF or 0, or `units`.
std::size_t FindUtf16LeTextEnd(const unsigned char* bytes, std::size_t units) {
  std::size_t at = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; at + 4 <= units; at += 4) {
      std::uint64_t four = 0;
      std::memcpy(&four, bytes + 2 * at, sizeof four);
      if (AnyUnitBelow0E(four)) {
        break;
      }
    }
  }
  while (at < units && !EndsText(Utf16LeUnit(bytes, at))) {
    ++at;
  }
  return at;
}

// The index of the first LF unit (0A 00 on a unit boundary), or `units`.
std::size_t FindUtf16LeLineFeed(const unsigned char* bytes, std::size_t units) {
  std::size_t at = 0;
  while (at < units) {
    const void* found = std::memchr(bytes + 2 * at, '\n', 2 * (units - at));
    if (found == nullptr) {
      return units;
    }
    const auto offset = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - bytes);
    if (offset % 2 == 0 && bytes[offset + 1] == 0) {
      return offset / 2;
    }
    at = offset / 2 + 1;
  }
  return units;
}

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

}  // namespace

char16_t EightBitCharacter(unsigned char byte) {
  return kEightBit[byte];
}

TextLineReader::~TextLineReader() {
  Close();
}

void TextLineReader::Open(std::u16string_view path) {
  Close();  // a reader holds at most one file
  path = path.substr(0, path.find(u'\0'));
  mode_ = ReaderMode::EightBit;
  error_ = platform::FileError::None;
  lineNumber_ = 0;
  midLine_ = false;
  if (path.size() > kMaxPathLength) {
    fileName_.clear();
    error_ = platform::FileError::NotFound;
    status_ = ReaderStatus::OpenFailed;
    return;
  }
  fileName_ = path;
  status_ = ReaderStatus::OpenFailed;
  // The system names files in UTF-8 here; the 8-bit path form would name no file.
  error_ = file_.Open(path);
  if (error_ == platform::FileError::None && file_.size() > kMaxFileSize) {
    error_ = platform::FileError::TooLarge;
  }
  if (error_ != platform::FileError::None) {
    file_.Close();
    return;
  }
  try {
    buffer_.resize(kPiece);
  } catch (const std::bad_alloc&) {
    error_ = platform::FileError::OutOfMemory;
    file_.Close();
    return;
  }
  const std::size_t head = Available(kUtf8Mark.size());
  const std::string_view start(buffer_.data() + begin_, head);
  if (start.starts_with(kUtf16LeMark)) {
    mode_ = ReaderMode::Utf16Le;
    begin_ += kUtf16LeMark.size();
  } else if (start.starts_with(kUtf8Mark)) {
    mode_ = ReaderMode::Utf8;
    begin_ += kUtf8Mark.size();
  } else {
    // Windows-1251 Russian text is practically never valid UTF-8: its letters C0..FF are UTF-8
    // lead bytes, and a letter is almost always followed by another letter, not by 80..BF.
    platform::Utf8Validator validator;
    if (!Scan(validator)) {
      file_.Close();
      return;
    }
    if (validator.valid() && validator.nonAscii()) {
      mode_ = ReaderMode::Utf8;
    }
    // Anything else, FF 0F included, is 8-bit text from its first byte.
  }
  if (failed_) {
    file_.Close();
    return;
  }
  status_ = ReaderStatus::Opened;
}

bool TextLineReader::Scan(platform::Utf8Validator& validator) {
  while (!failed_) {
    validator.Feed(std::string_view(buffer_.data() + begin_, end_ - begin_));
    begin_ = end_;
    if (!validator.valid() && validator.nonAscii()) {
      break;  // 8-bit text: no need to read further now
    }
    if (Available(1) == 0) {
      break;
    }
  }
  if (failed_) {
    return false;
  }
  // Back to the start for the lines.
  begin_ = end_ = 0;
  total_ = 0;
  fileEnded_ = false;
  if (!file_.Rewind()) {
    failed_ = true;
    error_ = platform::FileError::ReadFailed;
    return false;
  }
  return true;
}

std::size_t TextLineReader::Available(std::size_t wanted) {
  if (end_ - begin_ >= wanted || fileEnded_) {
    return end_ - begin_;
  }
  // Keep what is left at the front and fill up the rest.
  std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
            buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
  end_ -= begin_;
  begin_ = 0;
  while (end_ < wanted && !fileEnded_) {
    const std::ptrdiff_t got = file_.Read(buffer_.data() + end_, buffer_.size() - end_);
    if (got <= 0) {
      fileEnded_ = true;
      if (got < 0) {
        failed_ = true;
        error_ = platform::FileError::ReadFailed;
      }
      break;
    }
    end_ += static_cast<std::size_t>(got);
    total_ += static_cast<std::uint64_t>(got);
    if (total_ > kMaxFileSize) {
      // Grown since it was opened: the lines must not take memory without bound.
      fileEnded_ = true;
      failed_ = true;
      error_ = platform::FileError::TooLarge;
      end_ = begin_;
      break;
    }
  }
  return end_ - begin_;
}

std::optional<std::u16string_view> TextLineReader::ReadLine(std::size_t size) {
  if (status_ != ReaderStatus::Opened || size < 1 || AtEnd()) {
    return std::nullopt;
  }
  if (!midLine_) {
    ++lineNumber_;
  }
  midLine_ = false;
  droppedText_ = false;
  std::size_t stored = 0;
  if (mode_ != ReaderMode::Utf16Le && size == 1) {
    // No room for a single character: the line is dropped, as an overlong UTF-16LE line's end
    // is, rather than handed back as an endless run of empty pieces.
    SkipLine();
  } else {
    const std::size_t limit = std::min(size, kEightBitChunk) - 1;
    if (line_.size() < limit) {
      line_.resize(limit);
    }
    switch (mode_) {
      case ReaderMode::Utf16Le:
        stored = ReadUtf16LeLine(size - 1);  // grows line_ as far as the line needs
        break;
      case ReaderMode::Utf8:
        stored = ReadUtf8Line(limit);
        break;
      case ReaderMode::EightBit:
        stored = ReadEightBitLine(limit);
        break;
    }
  }
  if (failed_) {
    atEnd_ = true;  // a failing disk must not yield lines for ever
  }
  // A CR, a 0 or an 8-bit piece's own line feed ends the text: what follows is not part of it.
  // A UTF-16LE line stops there already.
  if (mode_ == ReaderMode::Utf16Le) {
    return std::u16string_view(line_.data(), stored);
  }
  const std::size_t text = TextLength(line_.data(), stored);
  if (text < stored && HoldsText(line_.data() + text, stored - text)) {
    droppedText_ = true;
  }
  return std::u16string_view(line_.data(), text);
}

std::size_t TextLineReader::ReadUtf16LeLine(std::size_t limit) {
  // The text runs to the first CR, LF or 0; after a CR or 0 the rest of the line up to its line
  // feed is skipped. Units start at begin_, which always stays on a unit boundary.
  std::size_t stored = 0;
  bool textEnded = false;
  for (;;) {
    if (Available(2) < 2) {
      begin_ = end_;  // an odd trailing byte is dropped
      atEnd_ = true;
      break;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer_.data() + begin_);
    const std::size_t units = (end_ - begin_) / 2;
    if (textEnded) {
      const std::size_t lineFeed = FindUtf16LeLineFeed(bytes, units);
      if (lineFeed != 0 && !droppedText_) [[unlikely]] {
        for (std::size_t i = 0; i < std::min(lineFeed, units) && !droppedText_; ++i) {
          droppedText_ = !EndsText(Utf16LeUnit(bytes, i));
        }
      }
      begin_ += 2 * std::min(lineFeed + 1, units);
      if (lineFeed < units) {
        break;
      }
      continue;
    }
    const std::size_t end = FindUtf16LeTextEnd(bytes, units);
    // The rest of an overlong line is read and dropped, so the next call starts a new line.
    const std::size_t take = std::min(end, limit - stored);
    if (take < end) [[unlikely]] {
      droppedText_ = true;
    }
    if (line_.size() < stored + take) {
      line_.resize(stored + take);
    }
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(line_.data() + stored, bytes, 2 * take);
    } else {
      for (std::size_t i = 0; i < take; ++i) {
        line_[stored + i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
      }
    }
    stored += take;
    begin_ += 2 * end;
    if (end < units) {
      const bool lineFeed = bytes[2 * end] == '\n';
      begin_ += 2;
      if (lineFeed) {
        break;
      }
      textEnded = true;
    }
  }
  return stored;
}

void TextLineReader::SkipLine() {
  for (;;) {
    if (Available(1) == 0) {
      atEnd_ = true;
      return;
    }
    const void* found = std::memchr(buffer_.data() + begin_, '\n', end_ - begin_);
    if (found != nullptr) {
      begin_ = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data()) + 1;
      return;
    }
    begin_ = end_;
  }
}

std::size_t TextLineReader::ReadEightBitLine(std::size_t limit) {
  // A piece ends after a line feed, after `limit` bytes, or at the end of the file.
  std::size_t length = 0;
  midLine_ = true;
  while (length < limit) {
    if (Available(1) == 0) {
      atEnd_ = true;
      break;
    }
    const std::size_t span = std::min(limit - length, end_ - begin_);
    const char* bytes = buffer_.data() + begin_;
    const void* found = std::memchr(bytes, '\n', span);
    const std::size_t count =
        found == nullptr ? span
                         : static_cast<std::size_t>(static_cast<const char*>(found) - bytes) + 1;
    for (std::size_t i = 0; i < count; ++i) {
      line_[length + i] = kEightBit[static_cast<unsigned char>(bytes[i])];
    }
    length += count;
    begin_ += count;
    if (found != nullptr) {
      midLine_ = false;
      break;
    }
  }
  return length;
}

std::size_t TextLineReader::ReadUtf8Line(std::size_t limit) {
  // As an 8-bit line, counted in UTF-16 units: a piece ends after a line feed, after `limit`
  // units (a character is never split), or at the end of the file.
  std::size_t stored = 0;
  midLine_ = true;
  while (stored < limit) {
    const std::size_t available = Available(4);
    if (available == 0) {
      atEnd_ = true;
      break;
    }
    if (buffer_[begin_] == '\n') {
      ++begin_;
      midLine_ = false;
      break;
    }
    const std::string_view bytes(buffer_.data() + begin_, std::min<std::size_t>(available, 4));
    std::size_t used = 0;
    const char32_t c = platform::DecodeUtf8(bytes, used);
    const std::size_t units = c >= 0x10000 ? 2 : 1;
    if (stored + units > limit) {
      if (stored == 0) {
        // Two units in a piece of one: no piece can hold it, so it is dropped, as a character
        // is when a piece holds none; waiting for a later piece would wait for ever.
        begin_ += used;
        continue;
      }
      break;
    }
    begin_ += used;
    if (units == 2) {
      line_[stored++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      line_[stored++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      line_[stored++] = static_cast<char16_t>(c);
    }
  }
  return stored;
}

bool TextLineReader::AtEnd() const {
  return status_ != ReaderStatus::Opened || atEnd_;
}

void TextLineReader::Close() {
  file_.Close();
  buffer_.clear();
  buffer_.shrink_to_fit();
  begin_ = end_ = 0;
  total_ = 0;
  fileEnded_ = false;
  failed_ = false;
  atEnd_ = false;
  status_ = ReaderStatus::NotOpen;
}

}  // namespace voxtar::text
