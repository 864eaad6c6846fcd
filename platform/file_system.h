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

namespace voxtar::platform {

// The native directory separator ("/" here). Path rules written with a separator use this.
inline constexpr char16_t kSeparator = u'/';

// UTF-16 <-> UTF-8. Unpaired surrogates and invalid UTF-8 become U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// The path as the OS names it (UTF-8), spelled exactly as given.
std::filesystem::path NativePath(std::u16string_view path);

// The path of an existing entry that equals `path` ignoring letter case (Latin, Latin-1, Greek,
// Cyrillic, Armenian), component by component. An exact match always wins; components that do
// not exist in any spelling are kept as written, so the result also serves for creating files.
std::filesystem::path ResolvePath(std::u16string_view path);

// fopen(mode) on the resolved path; nullptr when it cannot be opened (also for a directory).
std::FILE* OpenFile(std::u16string_view path, const char* mode);

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

// Writes a file whole or not at all, like QSaveFile: the content goes to a temporary file in the
// target's directory, which is flushed to disk and renamed over the target on Commit. Until then,
// and whenever anything fails, the target stays byte-identical. A read-only target (no write bit,
// or not writable for this user) is refused, since a rename would get around it. A symlinked
// target is written through to the file it points to. The new file keeps the old file's mode.
class SaveFile {
 public:
  explicit SaveFile(std::u16string_view target);
  ~SaveFile();  // discards an uncommitted temporary file
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  // Creates the temporary file. False (with error()) when the target is read-only or the
  // directory does not take a new file.
  bool Open();
  // The open temporary file's descriptor, for writers that need one (libsndfile).
  int descriptor() const { return fd_; }
  bool Write(const void* data, std::size_t size);
  // Flushes, syncs and renames over the target. False (target untouched) on any failure,
  // including an earlier failed Write.
  bool Commit();
  // Drops the temporary file; the target stays as it was.
  void Cancel();

  const std::filesystem::path& target() const { return target_; }
  const std::string& error() const { return error_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path final_;  // target_ with symbolic links followed: the file replaced
  std::filesystem::path temp_;
  std::string error_;
  int fd_ = -1;
  bool failed_ = false;
};

}  // namespace voxtar::platform
