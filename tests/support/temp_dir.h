// A fresh temporary directory per test, removed with everything in it afterwards, and small file
// helpers for tests that work on real files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory as a wide path, with a trailing separator when `withSeparator`.
  std::u16string wide(bool withSeparator = false) const;
  // this/relative (UTF-8 relative path).
  std::filesystem::path operator/(std::string_view relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

std::string ReadBytes(const std::filesystem::path& file);
// Writes `bytes` to the file, creating parent directories.
void WriteBytes(const std::filesystem::path& file, std::string_view bytes);
// UTF-16LE bytes of a string (no byte-order mark).
std::string Utf16LeBytes(std::u16string_view text);

}  // namespace voxtar::testing
