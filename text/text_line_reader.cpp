#include "text/text_line_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/file_system.h"

namespace voxtar {

namespace {

// fgets never reads more than this in one call, whatever size the caller's buffer has.
constexpr int kEightBitChunk = 1024;

// One byte of 8-bit text: Windows-1251 for the Russian letters, Latin-1 for the rest. CR and LF
// become terminators, so a line's text ends at its first CR or LF.
char16_t DecodeEightBit(unsigned char byte) {
  if (byte == 0x0D || byte == 0x0A) {
    return 0;
  }
  if (byte >= 0xC0) {
    return static_cast<char16_t>(byte + 0x350);
  }
  if (byte == 0xB8) {
    return u'\u0451';
  }
  return byte;
}

}  // namespace

TextLineReader::~TextLineReader() {
  Close();
}

void TextLineReader::Open(std::u16string_view path) {
  Close();  // a reader holds at most one file
  path = path.substr(0, path.find(u'\0'));
  mode_ = ReaderMode::EightBit;
  lineNumber_ = 0;
  midLine_ = false;
  if (path.size() > kMaxPathLength) {
    fileName_.clear();
    status_ = ReaderStatus::OpenFailed;
    return;
  }
  status_ = ReaderStatus::Opened;
  fileName_ = path;
  // The system names files in UTF-8 here; the 8-bit form would name no file.
  file_ = platform::OpenFile(path, "rb");
  if (file_ == nullptr) {
    status_ = ReaderStatus::OpenFailed;
    return;
  }
  std::array<unsigned char, 2> head{};
  const std::size_t got = std::fread(head.data(), 1, head.size(), file_);
  if (got == 2 && head[0] == 0xFF && head[1] == 0xFE) {
    mode_ = ReaderMode::Utf16Le;
    return;
  }
  // Anything else, FF 0F included, is 8-bit text from its first byte. Going back also clears the
  // end-of-file indicator a short file has set.
  std::fseek(file_, 0, SEEK_SET);
  std::clearerr(file_);
}

int TextLineReader::ReadLine(char16_t* buffer, int size) {
  if (file_ == nullptr || size < 1 || AtEnd()) {
    return 0;
  }
  if (!midLine_) {
    ++lineNumber_;
  }
  midLine_ = false;
  if (mode_ == ReaderMode::Utf16Le) {
    const auto limit = static_cast<std::size_t>(size - 1);
    std::size_t stored = 0;
    for (;;) {
      const int low = std::getc(file_);
      if (low == EOF) {
        break;
      }
      const int high = std::getc(file_);
      if (high == EOF) {
        break;  // an odd trailing byte is dropped
      }
      const auto unit = static_cast<char16_t>(low | (high << 8));
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
  std::array<char, kEightBitChunk> work{};
  const int limit = std::min(size, kEightBitChunk);
  if (std::fgets(work.data(), limit, file_) == nullptr) {
    work[0] = 0;  // after a read error the contents are unspecified
  }
  // fgets stops right after a line feed, so one in the buffer is the last byte read.
  midLine_ = std::memchr(work.data(), '\n', work.size()) == nullptr;
  std::size_t length = 0;
  while (work[length] != 0) {
    buffer[length] = DecodeEightBit(static_cast<unsigned char>(work[length]));
    ++length;
  }
  buffer[length] = 0;
  return 1;
}

bool TextLineReader::AtEnd() const {
  // A read error ends the file like its end does; otherwise a failing disk would yield empty
  // lines for ever.
  return file_ == nullptr || std::feof(file_) != 0 || std::ferror(file_) != 0;
}

bool TextLineReader::ReadFailed() const {
  return file_ != nullptr && std::ferror(file_) != 0;
}

void TextLineReader::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  status_ = ReaderStatus::NotOpen;
}

}  // namespace voxtar
