// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/capture_ring.h"

#include <algorithm>
#include <cstring>

namespace voxtar::audio {

CaptureRing::CaptureRing(std::size_t frameBytes, std::size_t capacityFrames)
    : frameBytes_(std::max<std::size_t>(frameBytes, 1)),
      capacity_(capacityFrames),
      buffer_(std::make_unique_for_overwrite<std::byte[]>(capacityFrames * frameBytes_)) {}

void CaptureRing::Push(std::span<const std::byte> bytes) {
  std::size_t frames = bytes.size() / frameBytes_;
  if (capacity_ == 0 || frames == 0) {
    return;
  }
  if (frames >= capacity_) {
    // Only the newest fit: they fill the ring from its start.
    std::memcpy(buffer_.get(), bytes.data() + (frames - capacity_) * frameBytes_,
                capacity_ * frameBytes_);
    next_ = 0;
    held_ = capacity_;
    return;
  }
  const std::size_t first = std::min(frames, capacity_ - next_);
  std::memcpy(buffer_.get() + next_ * frameBytes_, bytes.data(), first * frameBytes_);
  std::memcpy(buffer_.get(), bytes.data() + first * frameBytes_, (frames - first) * frameBytes_);
  next_ = (next_ + frames) % capacity_;
  held_ = std::min(held_ + frames, capacity_);
}

std::array<std::span<const std::byte>, 2> CaptureRing::Spans() const {
  if (held_ == 0) {
    return {};
  }
  const std::size_t start = (next_ + capacity_ - held_) % capacity_;
  const std::size_t first = std::min(held_, capacity_ - start);
  return {std::span<const std::byte>(buffer_.get() + start * frameBytes_, first * frameBytes_),
          std::span<const std::byte>(buffer_.get(), (held_ - first) * frameBytes_)};
}

std::uint64_t CaptureRing::WriteInto(WaveElement& element, std::uint64_t at,
                                     std::uint64_t most) const {
  std::uint64_t written = 0;
  for (std::span<const std::byte> span : Spans()) {
    const std::size_t frames = static_cast<std::size_t>(
        std::min<std::uint64_t>(span.size() / frameBytes_, most - written));
    if (frames > 0) {
      element.Overwrite(at + written, span.data(), frames * frameBytes_);
      written += frames;
    }
  }
  return written;
}

}  // namespace voxtar::audio
