// SPDX-License-Identifier: GPL-3.0-or-later
// A small tmpfs mounted over a test's directory, to run out of room for real: a write that fails
// with "No space left on device" the way it does on a full disk. Mounting needs root; without it
// mounted() is false and the test skips.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace voxtar::testing {

class SmallFileSystem {
 public:
  explicit SmallFileSystem(std::filesystem::path at, const char* options = "size=256k")
      : at_(std::move(at)) {
    std::filesystem::create_directories(at_);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) {
      ::umount2(at_.c_str(), MNT_DETACH);
    }
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return mounted_; }

  // Fills it to its last byte; Empty gives the room back.
  void Fill() const {
    std::FILE* filler = std::fopen(Filler().c_str(), "wb");
    if (filler == nullptr) {
      return;
    }
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
    }
    std::fclose(filler);
  }
  void Empty() const { std::filesystem::remove(Filler()); }

 private:
  std::filesystem::path Filler() const { return at_ / ".filler"; }

  std::filesystem::path at_;
  bool mounted_ = false;
};

}  // namespace voxtar::testing
