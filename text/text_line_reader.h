// Reads a text file line by line into wide-string buffers: UTF-16LE when the file starts with the
// byte-order mark FF FE, else 8-bit text (Windows-1251 Russian letters, Latin-1 for the rest).
// One reader reads one file; destruction closes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace voxtar {

enum class ReaderMode : std::int32_t {
  EightBit = 1,
  Utf16Le = 2,
  Utf8 = 3,  // reserved: never selected by Open
};

enum class ReaderStatus : std::int32_t {
  Opened = 0,
  OpenFailed = 1,
  NotOpen = 5,
};

class TextLineReader {
 public:
  // Longest path Open takes (the file name buffer holds 255 characters and the terminator).
  static constexpr std::size_t kMaxPathLength = 255;

  TextLineReader() = default;
  ~TextLineReader();
  TextLineReader(const TextLineReader&) = delete;
  TextLineReader& operator=(const TextLineReader&) = delete;

  // Opens the file; status() tells whether it worked. A longer path than kMaxPathLength fails.
  void Open(std::u16string_view path);
  // Reads one line into buffer (size units, terminator included). Returns 1 with a line, possibly
  // empty, or 0 when the end had been reached before the call (buffer untouched).
  int ReadLine(char16_t* buffer, int size);
  // True when the file's end-of-file indicator is set, or a read failed.
  bool AtEnd() const;
  // True when a read failed: what was read is not the whole file.
  bool ReadFailed() const;
  void Close();
  // 1-based number of the file line the last ReadLine read from; the pieces of an overlong
  // 8-bit line share their line's number.
  int lineNumber() const { return lineNumber_; }

  ReaderMode mode() const { return mode_; }
  ReaderStatus status() const { return status_; }
  const std::u16string& fileName() const { return fileName_; }

 private:
  std::u16string fileName_;
  ReaderMode mode_ = ReaderMode::EightBit;
  std::FILE* file_ = nullptr;
  ReaderStatus status_ = ReaderStatus::NotOpen;
  int lineNumber_ = 0;
  bool midLine_ = false;  // the last 8-bit read stopped before the line feed
};

}  // namespace voxtar
