// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

namespace voxtar::platform {

namespace {

// The letter a name compares as: its capital where the letter has one in the scripts that
// lesson and recording names use. Capitals, because that is the order the original file system
// lists names in ("A_1" after "AB1").
char32_t FoldCase(char32_t c) {
  if (c < 0x80) {
    return (c >= U'a' && c <= U'z') ? c - 0x20 : c;
  }
  if (c < 0x100) {
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      return c - 0x20;
    }
    return c == 0xFF ? char32_t{0x178} : c;
  }
  if (c < 0x180) {  // Latin Extended-A: capital and small letter side by side
    const bool smallIsOdd = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool smallIsEven = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((smallIsOdd && (c & 1u) == 1) || (smallIsEven && (c & 1u) == 0)) {
      return c - 1;
    }
    return c;
  }
  if (c >= 0x3AC && c <= 0x3CE) {  // Greek
    if (c == 0x3AC) {
      return 0x386;
    }
    if (c <= 0x3AF) {
      return c - 0x25;
    }
    if (c == 0x3C2) {
      return 0x3A3;
    }
    if (c <= 0x3CB && c >= 0x3B1) {
      return c - 0x20;
    }
    if (c == 0x3CC) {
      return 0x38C;
    }
    if (c >= 0x3CD) {
      return c - 0x3F;
    }
    return c;
  }
  if (c >= 0x430 && c <= 0x44F) {
    return c - 0x20;  // Cyrillic а..я
  }
  if (c >= 0x450 && c <= 0x45F) {
    return c - 0x50;  // ѐ..џ
  }
  if (c >= 0x561 && c <= 0x586) {
    return c - 0x30;  // Armenian
  }
  return c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldCase(DecodeUtf8(a, i)) != FoldCase(DecodeUtf8(b, j))) {
      return false;
    }
  }
  return i == a.size() && j == b.size();
}

// Whether some other spelling of the name could equal it ignoring case. Anything beyond ASCII
// may be a letter, so only names of ASCII digits and signs are certain to have no other spelling.
bool HasCasedLetter(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
}

// Names sorted ignoring case; names equal ignoring case in exact order, so that the result never
// depends on the order the directory hands them out.
bool ListedBefore(const std::u16string& a, const std::u16string& b) {
  const int order = CompareNamesIgnoringCase(a, b);
  return order != 0 ? order < 0 : a < b;
}

FileError ErrorFor(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return FileError::NotFound;
    case EACCES:
    case EPERM:
      return FileError::PermissionDenied;
    case EISDIR:
      return FileError::NotRegularFile;
    case ENOMEM:
      return FileError::OutOfMemory;
    default:
      return FileError::Other;
  }
}

// Opens a regular file for reading. Non-blocking, so that opening a FIFO without a writer or a
// device cannot hang; the kind is checked on the open descriptor, so nothing can swap the file
// between the check and the read. -1 with the reason in `why` otherwise.
int OpenRegular(std::u16string_view path, FileError& why) {
  why = FileError::None;
  const std::filesystem::path resolved = ResolvePath(path);
  const int fd = ::open(resolved.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    why = ErrorFor(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    why = ErrorFor(errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    why = FileError::NotRegularFile;
    errno = S_ISDIR(info.st_mode) ? EISDIR : 0;
    return -1;
  }
  // Reads of a regular file never block anyway; clear the flag all the same for later users.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) {
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  return fd;
}

class Directory {
 public:
  explicit Directory(const std::string& path)
      : dir_(::opendir(path.empty() ? "." : path.c_str())) {}
  ~Directory() {
    if (dir_ != nullptr) {
      ::closedir(dir_);
    }
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // The next entry's name, "." and ".." skipped; nullopt at the end.
  std::optional<std::string_view> Next() {
    if (dir_ == nullptr) {
      return std::nullopt;
    }
    while (const dirent* entry = ::readdir(dir_)) {
      const std::string_view name(entry->d_name);
      if (name != "." && name != "..") {
        return name;
      }
    }
    return std::nullopt;
  }

 private:
  DIR* dir_;
};

// The entry of `directory` that equals `name` ignoring case; the first in listing order when
// several do.
std::optional<std::string> FindIgnoringCase(const std::string& directory, std::string_view name) {
  Directory dir(directory);
  std::optional<std::string> best;
  std::u16string bestWide;
  while (auto entry = dir.Next()) {
    // Both letters of every pair FoldCase knows take the same number of UTF-8 bytes.
    if (entry->size() != name.size() || !EqualIgnoringCase(*entry, name)) {
      continue;
    }
    std::u16string wide = FromUtf8(*entry);
    if (!best || ListedBefore(wide, bestWide)) {
      best = std::string(*entry);
      bestWide = std::move(wide);
    }
  }
  return best;
}

// '*' and '?' over case-folded units. "*.*" means every name, as users of the pattern expect.
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern) {
  if (pattern == u"*.*") {
    return true;
  }
  const auto same = [](char16_t a, char16_t b) { return FoldCase(a) == FoldCase(b); };
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t starPattern = std::u16string_view::npos;
  std::size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starPattern = p++;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || same(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (starPattern != std::u16string_view::npos) {
      p = starPattern + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') {
    ++p;
  }
  return p == pattern.size();
}

}  // namespace

std::filesystem::path NativePath(std::u16string_view path) {
  return ToUtf8(path);
}

std::filesystem::path ResolvePath(std::u16string_view path) {
  const std::string written = ToUtf8(path);
  std::string resolved;
  resolved.reserve(written.size());
  bool missing = false;  // once a directory is missing, nothing below it can be found
  std::size_t position = 0;
  for (;;) {
    const std::size_t slash = written.find('/', position);
    const std::size_t end = slash == std::string::npos ? written.size() : slash;
    const std::string_view component(written.data() + position, end - position);
    if (missing || component.empty() || component == "." || component == "..") {
      resolved += component;
    } else {
      std::string exact = resolved;
      exact += component;
      struct stat info {};
      const bool exists = ::lstat(exact.c_str(), &info) == 0;
      // Only a name that is missing as written may exist in another spelling.
      std::optional<std::string> match;
      if (!exists && errno == ENOENT && HasCasedLetter(component)) {
        match = FindIgnoringCase(resolved, component);
      }
      if (match) {
        resolved += *match;
      } else {
        missing = !exists;
        resolved = std::move(exact);
      }
    }
    if (slash == std::string::npos) {
      break;
    }
    resolved += '/';
    position = slash + 1;
  }
  return resolved;
}

std::FILE* OpenFile(std::u16string_view path, const char* mode, FileError* error) {
  FileError ignored = FileError::None;
  FileError& why = error != nullptr ? *error : ignored;
  const std::string_view modeView(mode);
  if (!modeView.starts_with('r') || modeView.find('+') != std::string_view::npos) {
    why = FileError::None;
    const std::filesystem::path resolved = ResolvePath(path);
    std::string fullMode(modeView);
    fullMode += 'e';  // close-on-exec: no file of ours leaks into a child process
    std::FILE* file = std::fopen(resolved.c_str(), fullMode.c_str());
    if (file == nullptr) {
      why = ErrorFor(errno);
    }
    return file;
  }
  const int fd = OpenRegular(path, why);
  if (fd < 0) {
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    why = ErrorFor(errno);
    ::close(fd);
  }
  return file;
}

InputFile::~InputFile() {
  Close();
}

FileError InputFile::Open(std::u16string_view path) {
  Close();
  FileError why = FileError::None;
  fd_ = OpenRegular(path, why);
  struct stat info {};
  if (fd_ >= 0 && ::fstat(fd_, &info) == 0) {
    size_ = static_cast<std::uint64_t>(info.st_size);
  }
  return why;
}

std::ptrdiff_t InputFile::Read(char* data, std::size_t size) {
  if (fd_ < 0) {
    return -1;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, data, size);
    if (got >= 0 || errno != EINTR) {
      return got;
    }
  }
}

bool InputFile::Rewind() {
  return fd_ >= 0 && ::lseek(fd_, 0, SEEK_SET) == 0;
}

void InputFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  size_ = 0;
}

bool CreateDirectory(std::u16string_view path) {
  const std::filesystem::path resolved = ResolvePath(path);
  return ::mkdir(resolved.c_str(), 0777) == 0;
}

std::u16string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error) {
    return u".";
  }
  return FromUtf8(current.string());
}

std::vector<std::u16string> ListDirectory(std::u16string_view directory,
                                          std::u16string_view pattern) {
  // Each name with its folded form, worked out once rather than at every comparison: sorting
  // the pairs orders as ListedBefore does (folded names first, then the names themselves).
  std::vector<std::pair<std::u32string, std::u16string>> listed;
  Directory dir(ResolvePath(directory).string());
  while (auto entry = dir.Next()) {
    std::u16string name = FromUtf8(*entry);
    if (MatchesPattern(name, pattern)) {
      std::u32string folded(name.size(), 0);
      std::transform(name.begin(), name.end(), folded.begin(),
                     [](char16_t unit) { return FoldCase(unit); });
      listed.emplace_back(std::move(folded), std::move(name));
    }
  }
  std::sort(listed.begin(), listed.end());
  std::vector<std::u16string> names;
  names.reserve(listed.size());
  for (auto& [folded, name] : listed) {
    names.push_back(std::move(name));
  }
  return names;
}

int CompareNamesIgnoringCase(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char32_t x = FoldCase(a[i]);
    const char32_t y = FoldCase(b[i]);
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  if (a.size() == b.size()) {
    return 0;
  }
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace voxtar::platform
