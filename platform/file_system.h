// The file system as the rest of the program sees it: wide (UTF-16) paths with the native
// separator, names resolved ignoring letter case, listings sorted ignoring case, and index and
// recording files replaced atomically. The only place that knows which OS it runs on.
//
// No Qt here: the core (text, lesson) builds on this and must stay free of it.
#pragma once

#include <cstddef>
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

// The whole content of the regular file at the resolved path, if it holds at most maxSize bytes.
// Reads until the end, so a file that grows while it is read is caught too.
FileError ReadRegularFile(std::u16string_view path, std::size_t maxSize, std::string& bytes);

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
