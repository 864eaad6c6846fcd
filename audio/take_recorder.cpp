// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/take_recorder.h"

#include <algorithm>
#include <new>
#include <utility>

namespace voxtar::audio {

namespace {

std::size_t FrameBytes(const CaptureFormat& format) {
  return BytesPerSample(format.kind) * static_cast<std::size_t>(std::max(format.channels, 1));
}

}  // namespace

std::span<const std::byte> WholeFrames::Join(std::span<const std::byte> bytes,
                                             std::size_t frameBytes) {
  if (!partial_.empty()) {
    joined_.assign(partial_.begin(), partial_.end());
    joined_.insert(joined_.end(), bytes.begin(), bytes.end());
    partial_.clear();
    bytes = joined_;
  }
  const std::size_t whole = bytes.size() - bytes.size() % frameBytes;
  partial_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(whole), bytes.end());
  return bytes.first(whole);
}

TakeRecorder::TakeRecorder(TakeReports& reports, Clock clock)
    : reports_(reports), clock_(std::move(clock)) {}

void TakeRecorder::Report(const CaptureFormat& format, std::span<const std::byte> frames,
                          bool listened) {
  reports_.Level(SummarizeBlock(frames, format.channels, format.kind));
  if (listened && listening_) {
    reports_.Captured(format, {frames.begin(), frames.end()}, false);
  }
}

// ---- Takes ----------------------------------------------------------------------------------

bool TakeRecorder::TakesOver(const CaptureFormat& format) const {
  return kept_ && kept_->feeds == nullptr && kept_->format == format;
}

bool TakeRecorder::Begin(Take& take, DeviceId device, WaveElement& element, std::uint64_t from,
                         std::uint64_t limit) {
  EndCapture(take);
  const std::int64_t now = clock_();
  take.device_ = device;
  take.element_ = &element;
  take.next_ = from;
  take.end_ = limit;
  take.finishAt_ = UINT64_MAX;
  take.pressFrame_ = from;
  take.captured_ = 0;
  take.noticeGiven_ = false;
  take.lost_.reset();
  take.frames_.Clear();
  take.lastCapture_ = now;
  take.firstCapture_ = 0;
  take.firstCaptureFrames_ = 0;
  take.open_ = false;
  if (!TakesOver(CaptureFormatOf(element))) {
    take.capturing_ = take.open_ = true;
    return false;
  }
  // The take begins with what the input kept, as much as the limit lets in.
  const std::uint64_t kept =
      kept_->ring.WriteInto(element, from, limit > from ? limit - from : 0);  // may throw
  take.next_ += kept;
  take.captured_ = kept;
  if (kept > 0) {
    take.firstCapture_ = now;
    take.firstCaptureFrames_ = kept;
  }
  // The press came after the last fragment in by what the input captured since: it comes next.
  const std::int64_t since =
      std::clamp<std::int64_t>(now - kept_->lastCapture, 0, 2 * kCaptureFragmentNs);
  take.pressFrame_ = take.next_ + static_cast<std::uint64_t>(since) *
                                      static_cast<std::uint64_t>(element.sampleRate) /
                                      1'000'000'000u;
  take.lastCapture_ = kept_->lastCapture;
  take.capturing_ = take.open_ = take.fed_ = true;
  kept_->feeds = &take;
  if (take.next_ >= take.end_) {
    Store(take, {});  // a take limit below the lead-in
  }
  return true;
}

bool TakeRecorder::Feed(Take& take, std::span<const std::byte> bytes) {
  if (!take.capturing_) {
    return false;
  }
  const WaveElement& element = *take.element_;
  take.lastCapture_ = clock_();
  const std::span<const std::byte> frames = take.frames_.Join(bytes, element.bytesPerFrame());
  if (!frames.empty()) {
    Report(CaptureFormatOf(element), frames, true);
    Store(take, frames);
  }
  return take.capturing_;
}

void TakeRecorder::Store(Take& take, std::span<const std::byte> frames) {
  WaveElement& element = *take.element_;
  const std::size_t frameBytes = element.bytesPerFrame();
  const std::uint64_t stop = std::min(take.end_, take.finishAt_);
  const std::uint64_t room = stop > take.next_ ? stop - take.next_ : 0;
  const std::uint64_t count = std::min<std::uint64_t>(frames.size() / frameBytes, room);
  if (count > 0) {
    try {
      if (std::exchange(failNextStore_, false)) {
        throw std::bad_alloc();
      }
      element.Overwrite(take.next_, frames.data(), static_cast<std::size_t>(count) * frameBytes);
    } catch (const std::bad_alloc&) {
      CutShort(take, {AudioError::OutOfMemory, OutOfMemoryCutText()});
      return;
    }
  }
  if (take.firstCapture_ == 0 && !frames.empty()) {
    take.firstCapture_ = take.lastCapture_;
    take.firstCaptureFrames_ = count;
  }
  take.next_ += count;
  take.captured_ += count;
  if (take.next_ >= stop) {
    EndCapture(take);
    Notice(take, take.next_ >= take.end_ ? RecordingCode::LimitReached : RecordingCode::Finished);
  }
}

void TakeRecorder::Finish(Take& take, std::uint64_t afterFrames) {
  if (!take.capturing_) {
    Notice(take, RecordingCode::Finished);
  } else if (afterFrames == 0) {
    take.finishAt_ = take.next_;
    Store(take, {});
  } else if (!take.finishing()) {
    take.finishAt_ = take.next_ + afterFrames;
  }
}

void TakeRecorder::EndCapture(Take& take) {
  take.capturing_ = false;
  take.frames_.Clear();
  if (std::exchange(take.fed_, false) && kept_ && kept_->feeds == &take) {
    kept_->feeds = nullptr;
  }
}

std::optional<TakeLoss> TakeRecorder::Stop(Take& take) {
  EndCapture(take);
  take.open_ = false;
  return std::exchange(take.lost_, std::nullopt);
}

void TakeRecorder::CutShort(Take& take, const TakeLoss& loss) {
  if (!take.capturing_) {
    return;
  }
  take.lost_ = loss;
  EndCapture(take);
  if (take.finishing()) {
    Notice(take, RecordingCode::Finished);
  }
}

void TakeRecorder::Notice(Take& take, RecordingCode code) {
  if (!std::exchange(take.noticeGiven_, true)) {
    reports_.Ended(take.device_, code);
  }
}

// ---- The kept-open input ---------------------------------------------------------------------

void TakeRecorder::Keep(const CaptureFormat& format, std::size_t keepFrames) {
  if (kept_ && kept_->format == format) {
    if (kept_->ring.capacityFrames() != keepFrames) {
      CaptureRing resized(kept_->ring.frameBytes(), keepFrames);
      for (const std::span<const std::byte> span : kept_->ring.Spans()) {
        resized.Push(span);
      }
      kept_->ring = std::move(resized);
    }
    return;
  }
  CaptureRing ring(FrameBytes(format), keepFrames);
  EndKeeping();
  kept_.emplace(Kept{format, std::move(ring), {}, clock_(), nullptr});
}

void TakeRecorder::FeedKept(std::span<const std::byte> bytes) {
  if (!kept_) {
    return;
  }
  kept_->lastCapture = clock_();
  const std::span<const std::byte> frames = kept_->frames.Join(bytes, FrameBytes(kept_->format));
  if (frames.empty()) {
    return;
  }
  Report(kept_->format, frames, true);
  kept_->ring.Push(frames);
  if (Take* take = kept_->feeds) {
    take->lastCapture_ = kept_->lastCapture;
    Store(*take, frames);
  }
}

DeviceId TakeRecorder::HandOver() {
  if (!kept_) {
    return 0;
  }
  Take* take = std::exchange(kept_->feeds, nullptr);
  const DeviceId device = take != nullptr ? take->device_ : 0;
  if (take != nullptr) {
    take->fed_ = false;
    take->frames_ = std::move(kept_->frames);
  }
  kept_.reset();
  return device;
}

void TakeRecorder::EndKeeping(const std::optional<TakeLoss>& loss) {
  if (!kept_) {
    return;
  }
  if (Take* take = kept_->feeds) {
    if (loss) {
      CutShort(*take, *loss);
    } else {
      EndCapture(*take);
    }
  }
  kept_.reset();
}

// ---- The level check and the listener ---------------------------------------------------------

void TakeRecorder::StartMeasuring(const CaptureFormat& format) {
  measured_.emplace(Measured{format, {}});
}

void TakeRecorder::FeedMeasured(std::span<const std::byte> bytes) {
  if (!measured_) {
    return;
  }
  const std::span<const std::byte> frames =
      measured_->frames.Join(bytes, FrameBytes(measured_->format));
  if (!frames.empty()) {
    Report(measured_->format, frames, false);
  }
}

void TakeRecorder::SetListening(bool listening) {
  listening_ = listening;
  // Blocks captured from here on follow what the input kept, in order.
  if (listening && kept_) {
    std::vector<std::byte> held;
    held.reserve(kept_->ring.frames() * kept_->ring.frameBytes());
    for (const std::span<const std::byte> span : kept_->ring.Spans()) {
      held.insert(held.end(), span.begin(), span.end());
    }
    reports_.Captured(kept_->format, std::move(held), true);
  }
}

}  // namespace voxtar::audio
