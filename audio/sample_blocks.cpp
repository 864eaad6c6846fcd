// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sample_blocks.h"

#include <atomic>
#include <cstring>
#include <utility>

namespace voxtar::audio {

SampleBlocks::SampleBlocks(std::size_t frameBytes, std::size_t blockBytes)
    : frameBytes_(std::max<std::size_t>(frameBytes, 1)),
      blockFrames_(std::max<std::size_t>(blockBytes / frameBytes_, 1)) {}

void SampleBlocks::Own(std::uint64_t from, std::uint64_t end) {
  if (from >= end) {
    return;
  }
  const auto first = static_cast<std::size_t>(from / blockFrames_);
  const auto last = static_cast<std::size_t>((end - 1) / blockFrames_);
  // Every allocation comes before the first change, so running out of memory changes nothing.
  std::vector<std::pair<std::size_t, Block>> made;
  for (std::size_t index = first; index <= last; ++index) {
    if (index < blocks_.size() && blocks_[index].use_count() == 1) {
      continue;
    }
    Block block = std::make_shared_for_overwrite<std::byte[]>(blockFrames_ * frameBytes_);
    if (index < blocks_.size()) {
      // Shared with a copy: the copy keeps the old block, this store writes a copy of its own.
      const std::uint64_t start = std::uint64_t{index} * blockFrames_;
      const std::uint64_t held = std::min<std::uint64_t>(frames_ - start, blockFrames_);
      std::memcpy(block.get(), blocks_[index].get(), static_cast<std::size_t>(held) * frameBytes_);
    }
    made.emplace_back(index, std::move(block));
  }
  blocks_.reserve(last + 1);
  // Seeing no other owner, this thread must also see everything the last one did to the block.
  std::atomic_thread_fence(std::memory_order_acquire);
  for (auto& [index, block] : made) {
    if (index < blocks_.size()) {
      blocks_[index] = std::move(block);
    } else {
      blocks_.push_back(std::move(block));
    }
  }
}

template <typename Put>
void SampleBlocks::Fill(std::uint64_t from, std::uint64_t end, Put&& put) {
  for (std::uint64_t at = from; at < end;) {
    const std::uint64_t run = std::min(end - at, blockFrames_ - at % blockFrames_);
    put(Address(at), static_cast<std::size_t>(run) * frameBytes_);
    at += run;
  }
}

void SampleBlocks::Write(std::uint64_t at, std::span<const std::byte> bytes) {
  if (bytes.size() < frameBytes_) {
    return;
  }
  const std::uint64_t end = at + bytes.size() / frameBytes_;
  Own(std::min(at, frames_), end);
  if (at > frames_) {
    Fill(frames_, at, [](std::byte* to, std::size_t size) { std::memset(to, 0, size); });
  }
  const std::byte* from = bytes.data();
  Fill(at, end, [&from](std::byte* to, std::size_t size) {
    std::memcpy(to, from, size);
    from += size;
  });
  frames_ = std::max(frames_, end);
}

void SampleBlocks::Append(std::uint64_t count, std::byte fill) {
  const std::uint64_t end = frames_ + count;
  Own(frames_, end);
  Fill(frames_, end, [fill](std::byte* to, std::size_t size) {
    std::memset(to, std::to_integer<int>(fill), size);
  });
  frames_ = end;
}

std::uint64_t SampleBlocks::CopyOut(std::uint64_t at, std::span<std::byte> to) const {
  std::byte* into = to.data();
  std::uint64_t copied = 0;
  ForEachSpan(at, to.size() / frameBytes_, [&](std::span<const std::byte> span) {
    std::memcpy(into, span.data(), span.size());
    into += span.size();
    copied += span.size() / frameBytes_;
    return true;
  });
  return copied;
}

}  // namespace voxtar::audio
