// SPDX-License-Identifier: GPL-3.0-or-later
// The file system as the rest of the program sees it: wide (UTF-16) paths with the native
// separator, names resolved ignoring letter case, listings sorted ignoring case, and index and
// recording files replaced atomically. The only place that knows which OS it runs on.
//
// No Qt here: the core (text, lesson) builds on this and must stay free of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/save_file.h"
#include "platform/utf8.h"

namespace voxtar::platform {

// The native directory separator ("/" here). Path rules written with a separator use this.
inline constexpr char16_t kSeparator = u'/';

// The path as the OS names it (UTF-8), spelled exactly as given.
std::filesystem::path NativePath(std::u16string_view path);

// The path of an existing entry that equals `path` ignoring letter case (Latin, Latin-1, Greek,
// Cyrillic, Armenian), component by component. An exact match always wins; components that do
// not exist in any spelling are kept as written, so the result also serves for creating files.
std::filesystem::path ResolvePath(std::u16string_view path);

// Why a file could not be opened or read.
enum class FileError {
  None,
  NotFound,
  PermissionDenied,
  NotRegularFile,  // a directory, FIFO, device or socket
  TooLarge,        // more bytes than the reader's limit
  ReadFailed,
  OutOfMemory,
  Other,
};

// fopen(mode) on the resolved path; nullptr when it cannot be opened, with the reason in *error.
// Reading ("r" without "+") opens only regular files, and never blocks on the way: a FIFO or a
// device is refused at once. errno then is EISDIR for a directory and 0 for the other kinds.
std::FILE* OpenFile(std::u16string_view path, const char* mode, FileError* error = nullptr);

// A regular file opened for reading, read in pieces.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens the regular file at the resolved path; never blocks (a FIFO or device is refused at
  // once). Closes a file opened before.
  FileError Open(std::u16string_view path);
  // Up to `size` bytes; 0 at the end, -1 when the read failed.
  std::ptrdiff_t Read(char* data, std::size_t size);
  // Back to the first byte; false when that fails.
  bool Rewind();
  void Close();
  // The size when it was opened.
  std::uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Creates one directory (not its parents). False when it could not be created, also when it
// exists already.
bool CreateDirectory(std::u16string_view path);

// The current directory, without a trailing separator.
std::u16string CurrentDirectory();

// Names (not paths) of the entries of `directory` whose names match `pattern` ignoring case
// ("*" and "?" wildcards), sorted by name ignoring case. Directories are listed like files.
// Empty when the directory is missing or unreadable.
std::vector<std::u16string> ListDirectory(std::u16string_view directory,
                                          std::u16string_view pattern);

// Compares two names ignoring letter case as the listing does: <0, 0 or >0.
int CompareNamesIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace voxtar::platform
