// SPDX-License-Identifier: GPL-3.0-or-later
// The last frames an input captured, never more than the ring was made for: what a take begins
// with when the input was kept open before Record. One buffer, allocated when the ring is made,
// so taking in a fragment never allocates and the memory stays what the capacity says.
//
// Plain data, one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "audio/wave_element.h"

namespace voxtar::audio {

class CaptureRing {
 public:
  CaptureRing() = default;  // holds nothing
  // Holds up to `capacityFrames` frames of `frameBytes` bytes. Throws std::bad_alloc.
  CaptureRing(std::size_t frameBytes, std::size_t capacityFrames);

  std::size_t frameBytes() const { return frameBytes_; }
  std::size_t capacityFrames() const { return capacity_; }
  std::size_t frames() const { return held_; }

  // Takes in whole frames; once the ring is full the oldest give way.
  void Push(std::span<const std::byte> bytes);
  // The frames held, oldest first: the second span is empty unless the ring has wrapped.
  std::array<std::span<const std::byte>, 2> Spans() const;
  // Writes the oldest `most` frames held over `element` from frame `at` on; how many it wrote.
  // Throws std::bad_alloc when the element has no memory for them.
  std::uint64_t WriteInto(WaveElement& element, std::uint64_t at, std::uint64_t most) const;

 private:
  std::size_t frameBytes_ = 1;
  std::size_t capacity_ = 0;
  std::size_t held_ = 0;
  std::size_t next_ = 0;  // the slot of the next frame pushed
  std::unique_ptr<std::byte[]> buffer_;
};

}  // namespace voxtar::audio
