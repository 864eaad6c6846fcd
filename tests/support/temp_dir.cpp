// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/temp_dir.h"

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "platform/file_system.h"
#include "platform/utf8.h"

namespace voxtar::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "voxtar-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests make files read-only; give the owner write access back so removal works as non-root.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

std::u16string TempDir::wide(bool withSeparator) const {
  std::u16string result = platform::FromUtf8(path_.string());
  if (withSeparator) {
    result += platform::kSeparator;
  }
  return result;
}

std::string ReadBytes(const std::filesystem::path& file) {
  // Read through the stream buffer in blocks: istreambuf_iterator trips a false
  // -Wnull-dereference in GCC 12.
  std::ifstream in(file, std::ios::binary);
  std::string bytes;
  std::array<char, 65536> block{};
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    bytes.append(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  return bytes;
}

void WriteBytes(const std::filesystem::path& file, std::string_view bytes) {
  if (file.has_parent_path()) {
    std::filesystem::create_directories(file.parent_path());
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Utf16LeBytes(std::u16string_view text) {
  std::string bytes;
  platform::AppendUtf16Le(bytes, text);
  return bytes;
}

}  // namespace voxtar::testing
