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

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes the code point at text[i] and advances i. A byte that does not start a well-formed
// sequence (overlong forms, surrogates and values above U+10FFFF included) gives U+FFFD and
// advances by one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  std::size_t length = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07u;
    minimum = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + length > text.size()) {
    ++i;
    return kReplacement;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = byte(i + k);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (next & 0x3Fu);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += length;
  return c;
}

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
    if (c == 0x3AC)
      return 0x386;
    if (c <= 0x3AF)
      return c - 0x25;
    if (c == 0x3C2)
      return 0x3A3;
    if (c <= 0x3CB && c >= 0x3B1)
      return c - 0x20;
    if (c == 0x3CC)
      return 0x38C;
    if (c >= 0x3CD)
      return c - 0x3F;
    return c;
  }
  if (c >= 0x430 && c <= 0x44F)
    return c - 0x20;  // Cyrillic а..я
  if (c >= 0x450 && c <= 0x45F)
    return c - 0x50;  // ѐ..џ
  if (c >= 0x561 && c <= 0x586)
    return c - 0x30;  // Armenian
  return c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) {
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

std::string Describe(int error) {
  return std::strerror(error);
}

// Appended piece by piece: "literal" + string&& trips a false -Wrestrict in GCC 12 at -O3.
std::string Quoted(const std::filesystem::path& path) {
  std::string quoted = "\"";
  quoted += path.native();
  quoted += '"';
  return quoted;
}

// Follows symbolic links to the file they finally name, which need not exist yet.
std::filesystem::path FollowLinks(std::filesystem::path path) {
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
      break;
    }
    std::filesystem::path link = std::filesystem::read_symlink(path, error);
    if (error) {
      break;
    }
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path;
}

std::string RandomSuffix() {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  std::mt19937 generator(
      seed ^ static_cast<unsigned>(::getpid()) ^
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (counter.fetch_add(1) * 2654435761u));
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix(8, 'x');
  for (char& c : suffix) {
    c = kLetters[generator() % (sizeof(kLetters) - 1)];
  }
  return suffix;
}

// Why an existing target may not be replaced, or empty when it may.
std::string RefusalFor(const std::filesystem::path& path, const struct stat& info) {
  if (S_ISDIR(info.st_mode)) {
    return "Cannot save " + Quoted(path) + ": it is a directory";
  }
  if (!S_ISREG(info.st_mode)) {
    return "Cannot save " + Quoted(path) + ": it is not a regular file";
  }
  // access() answers "writable" to root for any file, so the write bits are checked as well.
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0) {
    return "Cannot save " + Quoted(path) + ": it is read-only";
  }
  return {};
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      const char32_t c = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      AppendUtf8(out, c);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char32_t c = NextCodePoint(text, i);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

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
      if (::lstat(exact.c_str(), &info) == 0) {
        resolved = std::move(exact);
      } else if (errno != ENOENT || !HasCasedLetter(component)) {
        resolved = std::move(exact);
        missing = true;
      } else if (auto match = FindIgnoringCase(resolved, component)) {
        resolved += *match;
      } else {
        resolved = std::move(exact);
        missing = true;
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

std::FILE* OpenFile(std::u16string_view path, const char* mode) {
  const std::filesystem::path resolved = ResolvePath(path);
  std::string fullMode = mode;
  fullMode += 'e';  // close-on-exec: no file of ours leaks into a child process
  std::FILE* file = std::fopen(resolved.c_str(), fullMode.c_str());
  if (file == nullptr) {
    return nullptr;
  }
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
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
  std::vector<std::u16string> names;
  Directory dir(ResolvePath(directory).string());
  while (auto entry = dir.Next()) {
    std::u16string name = FromUtf8(*entry);
    if (MatchesPattern(name, pattern)) {
      names.push_back(std::move(name));
    }
  }
  std::sort(names.begin(), names.end(), ListedBefore);
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

SaveFile::SaveFile(std::u16string_view target) : target_(ResolvePath(target)) {}

SaveFile::~SaveFile() {
  Cancel();
}

bool SaveFile::Open() {
  if (fd_ >= 0) {
    return true;
  }
  failed_ = false;
  error_.clear();
  final_ = FollowLinks(target_);

  mode_t mode = 0666;  // a new file: open() applies the umask and the directory's default ACL
  struct stat info {};
  const bool exists = ::stat(final_.c_str(), &info) == 0;
  if (exists) {
    error_ = RefusalFor(final_, info);
    if (!error_.empty()) {
      return false;
    }
  }

  const std::filesystem::path directory = final_.parent_path();
  std::string base = ".";
  base += final_.filename().native();
  base += '.';
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate = directory / (base + RandomSuffix() + ".tmp");
    fd_ = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                 exists ? mode_t{0600} : mode);
    if (fd_ >= 0) {
      temp_ = std::move(candidate);
      break;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  if (fd_ < 0) {
    const int error = errno;
    error_ = "Cannot create a temporary file in " +
             Quoted(directory.empty() ? std::filesystem::path(".") : directory) + ": " +
             Describe(error);
    return false;
  }
  if (exists) {
    // The replacement takes the old file's place with its permissions and, where allowed, owner.
    if (::fchmod(fd_, info.st_mode & 07777) != 0) {
      const int error = errno;
      error_ = "Cannot set the permissions of " + Quoted(temp_) + ": " + Describe(error);
      Cancel();
      return false;
    }
    struct stat tempInfo {};
    if (::fstat(fd_, &tempInfo) == 0 &&
        (tempInfo.st_uid != info.st_uid || tempInfo.st_gid != info.st_gid)) {
      [[maybe_unused]] const int ignored = ::fchown(fd_, info.st_uid, info.st_gid);
    }
  }
  return true;
}

bool SaveFile::Write(const void* data, std::size_t size) {
  if (fd_ < 0) {
    if (error_.empty()) {
      error_ = "Cannot write " + Quoted(target_) + ": the file is not open";
    }
    failed_ = true;
    return false;
  }
  if (failed_) {
    return false;
  }
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_, bytes, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      error_ = "Cannot write " + Quoted(final_) + ": " + Describe(error);
      failed_ = true;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool SaveFile::Commit() {
  if (fd_ < 0) {
    if (error_.empty()) {
      error_ = "Cannot save " + Quoted(target_) + ": the file is not open";
    }
    return false;
  }
  if (failed_) {
    Cancel();
    return false;
  }
  const auto fail = [this](const std::string& what, int error) {
    error_ = what + ": " + Describe(error);
    Cancel();
    return false;
  };
  if (::fsync(fd_) != 0) {
    return fail("Cannot flush " + Quoted(final_) + " to disk", errno);
  }
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) {
    return fail("Cannot write " + Quoted(final_), errno);
  }
  // The target may have turned read-only since Open; a rename would get around that.
  struct stat info {};
  if (::stat(final_.c_str(), &info) == 0) {
    std::string refusal = RefusalFor(final_, info);
    if (!refusal.empty()) {
      error_ = std::move(refusal);
      Cancel();
      return false;
    }
  }
  if (::rename(temp_.c_str(), final_.c_str()) != 0) {
    return fail("Cannot replace " + Quoted(final_), errno);
  }
  temp_.clear();
  // Make the rename itself durable. The new content is in place already, so a directory that
  // cannot be synced (some file systems refuse) does not turn the save into a failure.
  const std::filesystem::path directory = final_.parent_path();
  const int dirFd =
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

void SaveFile::Cancel() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

}  // namespace voxtar::platform
