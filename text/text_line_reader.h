// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a text file line by line into wide-string buffers. The encoding is decided once, when the
// file is opened: UTF-16LE when it starts with FF FE; UTF-8 when it starts with the UTF-8
// byte-order mark, or is valid UTF-8 with at least one byte beyond ASCII; else 8-bit Windows-1251.
// One reader reads one file, in pieces of 64 KB; destruction closes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace voxtar::text {

enum class ReaderMode : std::int32_t {
  EightBit = 1,
  Utf16Le = 2,
  Utf8 = 3,
};

// The character an 8-bit byte stands for when a file is read as Windows-1251 text.
char16_t EightBitCharacter(unsigned char byte);

enum class ReaderStatus : std::int32_t {
  Opened = 0,
  OpenFailed = 1,
  NotOpen = 5,
};

class TextLineReader {
 public:
  // Longest path Open takes (the file name buffer holds 255 characters and the terminator).
  static constexpr std::size_t kMaxPathLength = 255;
  // Largest file read: five times a 100,000-prompt lesson in UTF-16LE and thousands of times any
  // real one, while what its lines can cost in memory stays far below a desktop's. A file that
  // grows beyond it while it is read (a FIFO cannot even be opened) fails as a read error.
  static constexpr std::size_t kMaxFileSize = std::size_t{64} << 20;

  TextLineReader() = default;
  ~TextLineReader();
  TextLineReader(const TextLineReader&) = delete;
  TextLineReader& operator=(const TextLineReader&) = delete;

  // Opens the file and decides its encoding; status() tells whether it worked, error() why not.
  // Only regular files of at most kMaxFileSize bytes open; a longer path than kMaxPathLength
  // fails. A file without byte-order mark is read once through to tell UTF-8 from 8-bit text.
  void Open(std::u16string_view path);
  // Reads the next line, as a line buffer of `size` units (terminator included) would hold it:
  // at most size - 1 units, and an 8-bit or UTF-8 line longer than that (or than 1023 bytes)
  // comes back in pieces. The text ends at its first CR or 0 character. The view stays valid
  // until the next call. Nothing when the end had been reached before the call.
  std::optional<std::u16string_view> ReadLine(std::size_t size);
  // True once a read has run into the end of the file or failed, and when no file is open.
  bool AtEnd() const;
  // True when a read failed or the file outgrew kMaxFileSize (error() says which): what was read
  // is not the whole file.
  bool ReadFailed() const { return failed_; }
  void Close();
  // 1-based number of the file line the last ReadLine read from; the pieces of an overlong
  // 8-bit or UTF-8 line share their line's number.
  int lineNumber() const { return lineNumber_; }
  // True when the last ReadLine handed back a piece of an 8-bit or UTF-8 line that goes on: the
  // next call returns more of it.
  bool lineContinues() const { return midLine_ && !atEnd_; }
  // True when the last ReadLine dropped text of its line: characters after a CR or 0 that ended
  // its text (CRs and 0s alone are no text), or in UTF-16LE what lay beyond `size`. A line put
  // together from what came back would be shorter than the file's.
  bool droppedText() const { return droppedText_; }

  ReaderMode mode() const { return mode_; }
  ReaderStatus status() const { return status_; }
  platform::FileError error() const { return error_; }
  const std::u16string& fileName() const { return fileName_; }

 private:
  // Each fills line_ with up to `limit` units and returns how many it stored.
  std::size_t ReadUtf16LeLine(std::size_t limit);
  std::size_t ReadEightBitLine(std::size_t limit);
  std::size_t ReadUtf8Line(std::size_t limit);
  // Consumes the rest of the line, its line feed included.
  void SkipLine();
  // Makes at least `wanted` bytes available unless the file ends first; returns how many are.
  std::size_t Available(std::size_t wanted);
  // Reads the file to its end; false (with error_) when it cannot be read whole.
  bool Scan(platform::Utf8Validator& validator);

  std::u16string fileName_;
  ReaderMode mode_ = ReaderMode::EightBit;
  ReaderStatus status_ = ReaderStatus::NotOpen;
  platform::FileError error_ = platform::FileError::None;
  platform::InputFile file_;
  std::string buffer_;   // bytes read and not yet consumed: [begin_, end_)
  std::u16string line_;  // the units of the last line handed back
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::uint64_t total_ = 0;  // bytes read from the file
  bool fileEnded_ = false;   // the file has no more bytes
  bool failed_ = false;
  bool atEnd_ = false;
  int lineNumber_ = 0;
  bool midLine_ = false;  // the last 8-bit or UTF-8 read stopped before the line feed
  bool droppedText_ = false;
};

}  // namespace voxtar::text
