// SPDX-License-Identifier: GPL-3.0-or-later
// Sound frames held in fixed blocks of a few MiB, each holding whole frames: a take grows by
// adding blocks and never moves what it already holds, so a fragment captured an hour into a
// take costs what the first one did, and memory grows by one block at a time.
//
// Copies share their blocks, so copying a store costs a pointer per block. A block shared with a
// copy is copied before it is written, so a copy never changes, whatever happens to the store it
// was taken from.
//
// Threads: a store is used by one thread at a time. Copies of it may live and die on other
// threads: the sharing count is atomic and a shared block is never written.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace voxtar::audio {

class SampleBlocks {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

  SampleBlocks() = default;  // of single bytes
  // A store of frames of `frameBytes` bytes in blocks of at most `blockBytes` (at least one
  // frame each).
  explicit SampleBlocks(std::size_t frameBytes, std::size_t blockBytes = kBlockBytes);

  std::size_t frameBytes() const { return frameBytes_; }
  std::size_t blockFrames() const { return blockFrames_; }
  std::uint64_t frames() const { return frames_; }
  std::uint64_t bytes() const { return frames_ * frameBytes_; }
  bool empty() const { return frames_ == 0; }

  // Writes `bytes` (whole frames) over the frames from `at` on, extending the store past its
  // end; frames after the written ones stay. A gap between the end and `at` becomes zero bytes.
  // Throws std::bad_alloc when a block cannot be had, and then has changed nothing.
  void Write(std::uint64_t at, std::span<const std::byte> bytes);
  // Appends `count` frames whose every byte is `fill` (std::bad_alloc as for Write).
  void Append(std::uint64_t count, std::byte fill);
  // Copies the frames from `at` on into `to`, as many whole frames as it holds; what lies
  // beyond the end is not touched. How many frames were copied.
  std::uint64_t CopyOut(std::uint64_t at, std::span<std::byte> to) const;

  // Calls `visit(std::span<const std::byte>)` on the contiguous spans holding the frames from
  // `from` on, `count` of them or up to the end, in order; each span holds whole frames. A visit
  // returning false ends the walk. Whether every span was visited.
  template <typename Visit>
  bool ForEachSpan(std::uint64_t from, std::uint64_t count, Visit&& visit) const {
    const std::uint64_t end = from + std::min(count, frames_ > from ? frames_ - from : 0);
    for (std::uint64_t at = from; at < end;) {
      const std::uint64_t run = std::min(end - at, blockFrames_ - at % blockFrames_);
      if (!visit(std::span<const std::byte>(Address(at),
                                            static_cast<std::size_t>(run) * frameBytes_))) {
        return false;
      }
      at += run;
    }
    return true;
  }

 private:
  using Block = std::shared_ptr<std::byte[]>;

  std::byte* Address(std::uint64_t frame) const {
    return blocks_[static_cast<std::size_t>(frame / blockFrames_)].get() +
           static_cast<std::size_t>(frame % blockFrames_) * frameBytes_;
  }
  // Makes the blocks that hold frames [from, end) exist and belong to this store alone, or
  // throws std::bad_alloc having changed nothing.
  void Own(std::uint64_t from, std::uint64_t end);
  // Calls `put(to, size)` on the writable spans of frames [from, end) (owned already).
  template <typename Put>
  void Fill(std::uint64_t from, std::uint64_t end, Put&& put);

  std::size_t frameBytes_ = 1;
  std::size_t blockFrames_ = kBlockBytes;
  std::uint64_t frames_ = 0;
  std::vector<Block> blocks_;
};

}  // namespace voxtar::audio
