// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzz targets share: a private scratch directory for the files they read.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace voxtar::fuzz {

// One directory per process, made on first use (in memory where /dev/shm exists).
inline const std::filesystem::path& ScratchDirectory() {
  static const std::filesystem::path kDirectory = [] {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "voxtar-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::abort();
    }
    std::atexit([] { std::filesystem::remove_all(ScratchDirectory()); });
    return std::filesystem::path(pattern);
  }();
  return kDirectory;
}

inline void WriteFile(const std::filesystem::path& file, std::string_view bytes) {
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
      std::fclose(out) != 0) {
    std::abort();
  }
}

inline std::string ReadFile(const std::filesystem::path& file) {
  std::string bytes;
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    std::abort();
  }
  char block[4096];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) {
    bytes.append(block, got);
  }
  std::fclose(in);
  return bytes;
}

// Stops the run with a message: libFuzzer keeps the input that led here.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace voxtar::fuzz
