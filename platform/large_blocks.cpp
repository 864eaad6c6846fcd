// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/large_blocks.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace voxtar::platform {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t Rounded(std::size_t bytes) {
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

class LargeBlockResource final : public std::pmr::memory_resource {
 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    if (alignment > kHugePage || bytes > SIZE_MAX - 2 * kHugePage) {
      throw std::bad_alloc();
    }
    const std::size_t length = Rounded(bytes == 0 ? 1 : bytes);
    // Map a huge page more than asked and trim both ends, so the block starts on a huge page.
    void* mapped = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
      throw std::bad_alloc();
    }
    const auto address = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t start = (address + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
    if (start > address) {
      ::munmap(mapped, start - address);
    }
    const std::size_t tail = kHugePage - (start - address);
    if (tail > 0) {
      ::munmap(reinterpret_cast<void*>(start + length), tail);
    }
    void* block = reinterpret_cast<void*>(start);
#ifdef MADV_HUGEPAGE
    ::madvise(block, length, MADV_HUGEPAGE);  // advice only: small pages work as well
#endif
    return block;
  }

  void do_deallocate(void* block, std::size_t bytes, std::size_t /*alignment*/) override {
    ::munmap(block, Rounded(bytes == 0 ? 1 : bytes));
  }

  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

}  // namespace

std::pmr::memory_resource* LargeBlocks() {
  static LargeBlockResource resource;
  return &resource;
}

}  // namespace voxtar::platform
