// SPDX-License-Identifier: GPL-3.0-or-later
// A fresh temporary directory per test, removed with everything in it afterwards, small file
// helpers for tests that work on real files, the working directory switched for one test, and
// lesson files in the index format.
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

class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::filesystem::path& directory)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(directory);
  }
  ~ScopedWorkingDirectory() { std::filesystem::current_path(previous_); }
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

// A lesson index in the written form: FF FE, then "name text" lines ending in CR LF.
inline std::string IndexBytes(const std::vector<std::u16string>& lines) {
  std::string bytes = "\xFF\xFE";
  for (const std::u16string& line : lines) {
    bytes += Utf16LeBytes(line + u"\r\n");
  }
  return bytes;
}

}  // namespace voxtar::testing
