// SPDX-License-Identifier: GPL-3.0-or-later
// What the PulseAudio engine's inputs capture: the frames of a take stored as they come (bounded
// by the take limit, a failed allocation ending the take), the level check (a recording that is
// measured and not kept) and the kept-open input, whose stream a take takes over.
#include <pulse/pulseaudio.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "audio/pulse_audio_engine.h"
#include "audio/pulse_device_p.h"
#include "audio/pulse_support_p.h"

namespace voxtar::audio {

using namespace pulse;

bool PulseAudioEngine::Device::Capture(const std::byte* data, std::size_t size) {
  const std::size_t frameBytes = element.bytesPerFrame();
  std::vector<std::byte> joined;
  if (!partial.empty()) {
    joined.reserve(partial.size() + size);
    joined.insert(joined.end(), partial.begin(), partial.end());
    joined.insert(joined.end(), data, data + size);
    partial.clear();
    data = joined.data();
    size = joined.size();
  }
  const std::size_t whole = size - size % frameBytes;
  partial.assign(data + whole, data + size);
  lastCapture = Now();
  if (whole == 0) {
    return true;
  }
  const std::span<const std::byte> frames(data, whole);
  engine->PostLevel(SummarizeBlock(frames, element.channels, element.kind));
  if (!measureOnly && engine->tapping_) {
    engine->PostCapture(CaptureFormatOf(element), {frames.begin(), frames.end()});
  }
  if (keeps) {
    ring.Push(frames);
    if (feeds != nullptr) {
      engine->Feed(*feeds, frames);
    }
    return true;
  }
  return measureOnly || Store(frames);
}

bool PulseAudioEngine::Device::Store(std::span<const std::byte> frames) {
  const std::size_t frameBytes = element.bytesPerFrame();
  const std::uint64_t stop = std::min(recordEnd, finishAt);
  const std::uint64_t room = stop > recordNext ? stop - recordNext : 0;
  const std::uint64_t count = std::min<std::uint64_t>(frames.size() / frameBytes, room);
  element.Overwrite(recordNext, frames.data(), static_cast<std::size_t>(count) * frameBytes);
  if (timings.firstCapture == 0) {
    timings.firstCapture = lastCapture;
    timings.firstCaptureFrames = count;
  }
  recordNext += count;
  timings.capturedFrames += count;
  return recordNext < stop;
}

// ---- The level check ---------------------------------------------------------------------------

void PulseAudioEngine::SetLevelListener(QObject* listener) {
  levelListener_ = listener;
}

void PulseAudioEngine::PostLevel(const LevelSummary& summary) {
  if (QThread::currentThread() == thread()) {
    if (levelListener_ != nullptr) {
      QCoreApplication::postEvent(levelListener_, new LevelNotice(summary));
    }
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, summary] { PostLevel(summary); }, Qt::QueuedConnection);
}

void PulseAudioEngine::SetCaptureListener(QObject* listener) {
  captureListener_ = listener;
  if (loop_ == nullptr) {
    tapping_ = listener != nullptr;
    return;
  }
  MainLoopLock lock(loop_);
  tapping_ = listener != nullptr;
  // Blocks captured from here on follow what the input kept, in order: they are queued after it.
  if (listener != nullptr && preRoll_ != nullptr &&
      preRoll_->record == Device::RecordState::Running) {
    std::vector<std::byte> kept;
    kept.reserve(preRoll_->ring.frames() * preRoll_->ring.frameBytes());
    for (const std::span<const std::byte> span : preRoll_->ring.Spans()) {
      kept.insert(kept.end(), span.begin(), span.end());
    }
    QCoreApplication::postEvent(
        listener, new CaptureNotice(CaptureFormatOf(preRoll_->element), std::move(kept), true));
  }
}

void PulseAudioEngine::PostCapture(const CaptureFormat& format, std::vector<std::byte> frames) {
  if (QThread::currentThread() == thread()) {
    if (captureListener_ != nullptr) {
      QCoreApplication::postEvent(captureListener_,
                                  new CaptureNotice(format, std::move(frames), false));
    }
    return;
  }
  QMetaObject::invokeMethod(
      this,
      [this, format, frames = std::move(frames)]() mutable {
        PostCapture(format, std::move(frames));
      },
      Qt::QueuedConnection);
}

ErrorCode PulseAudioEngine::StartLevelCheck(const CaptureFormat& format) {
  if (loop_ == nullptr) {
    return Connect();
  }
  MainLoopLock lock(loop_);
  if (preRoll_ != nullptr && preRoll_->record == Device::RecordState::Running) {
    return errors_.Make(
        AudioError::Busy,
        QCoreApplication::translate("AudioError",
                                    "The input is measured all the time while it is kept open "
                                    "for the next take."));
  }
  EndLevelCheck();
  if (const ErrorCode error = Connect(); error != kNoError) {
    return error;
  }
  std::unique_ptr<Device> check = NewInput(format, "level check");
  check->measureOnly = true;
  if (const ErrorCode error = StartInput(*check); error != kNoError) {
    return error;
  }
  levelCheck_ = std::move(check);
  return kNoError;
}

std::unique_ptr<PulseAudioEngine::Device> PulseAudioEngine::NewInput(const CaptureFormat& format,
                                                                     std::string name) {
  auto input = std::make_unique<Device>();
  input->engine = this;
  input->mediaName = std::move(name);
  input->element.kind = format.kind;
  input->element.sampleRate = format.sampleRate;
  input->element.channels = format.channels;
  return input;
}

ErrorCode PulseAudioEngine::StartInput(Device& input) {
  input.lastCapture = Now();
  input.record = Device::RecordState::Starting;
  if (const ErrorCode error = StartStream(input, Direction::Input); error != kNoError) {
    return error;
  }
  input.record = Device::RecordState::Running;
  return kNoError;
}

void PulseAudioEngine::StopLevelCheck() {
  if (loop_ != nullptr) {
    MainLoopLock lock(loop_);
    EndLevelCheck();
  }
}

void PulseAudioEngine::EndLevelCheck() {
  if (levelCheck_ != nullptr) {
    EndRecording(*levelCheck_);
    levelCheck_.reset();
  }
}

bool PulseAudioEngine::levelCheckRunning() const {
  if (loop_ == nullptr) {
    return false;
  }
  MainLoopLock lock(loop_);
  return levelCheck_ != nullptr && levelCheck_->record == Device::RecordState::Running;
}

// ---- The kept-open input -----------------------------------------------------------------------

ErrorCode PulseAudioEngine::StartPreRoll(const CaptureFormat& format, std::uint32_t keepMs) {
  if (keepMs > kPreRollLimitMs) {
    return errors_.Make(
        AudioError::OutOfRange,
        QCoreApplication::translate("AudioError",
                                    "A lead-in of %1 ms is longer than the %2 ms an input "
                                    "can be kept for.")
            .arg(keepMs)
            .arg(kPreRollLimitMs));
  }
  if (loop_ == nullptr) {
    return Connect();
  }
  MainLoopLock lock(loop_);
  std::unique_ptr<Device> input = NewInput(format, "the next take");
  input->keeps = true;
  const pa_sample_spec spec = SpecOf(input->element);
  if (pa_sample_spec_valid(&spec) == 0) {
    return errors_.Make(
        AudioError::UnsupportedFormat,
        QCoreApplication::translate("AudioError", "The sound system cannot record %1.")
            .arg(FormatText(input->element)));
  }
  const auto keepFrames = static_cast<std::size_t>(input->element.FramesAt(keepMs));
  Device* running = preRoll_.get();
  if (running != nullptr && running->record == Device::RecordState::Running &&
      CaptureFormatOf(running->element) == format) {
    // The same input in the same format: what it holds stays, as much as the new length keeps.
    if (running->ring.capacityFrames() != keepFrames) {
      try {
        CaptureRing resized(running->ring.frameBytes(), keepFrames);
        for (const std::span<const std::byte> span : running->ring.Spans()) {
          resized.Push(span);
        }
        running->ring = std::move(resized);
      } catch (const std::bad_alloc&) {
        return errors_.Make(AudioError::OutOfMemory);
      }
    }
    return kNoError;
  }
  EndPreRoll();
  EndLevelCheck();
  if (const ErrorCode error = Connect(); error != kNoError) {
    return error;
  }
  try {
    input->ring = CaptureRing(input->element.bytesPerFrame(), keepFrames);
  } catch (const std::bad_alloc&) {
    return errors_.Make(AudioError::OutOfMemory);
  }
  if (const ErrorCode error = StartInput(*input); error != kNoError) {
    return error;
  }
  preRoll_ = std::move(input);
  return kNoError;
}

void PulseAudioEngine::StopPreRoll() {
  if (loop_ != nullptr) {
    MainLoopLock lock(loop_);
    EndPreRoll();
  }
}

bool PulseAudioEngine::preRollRunning() const {
  if (loop_ == nullptr) {
    return false;
  }
  MainLoopLock lock(loop_);
  return preRoll_ != nullptr && preRoll_->record == Device::RecordState::Running;
}

void PulseAudioEngine::EndPreRoll() {
  if (preRoll_ != nullptr) {
    HandOver(*preRoll_);
    EndRecording(*preRoll_);
    preRoll_.reset();
  }
}

ErrorCode PulseAudioEngine::TakeOver(Device& take, Device& preRoll) {
  std::uint64_t kept = 0;
  try {
    kept = preRoll.ring.WriteInto(
        take.element, take.recordNext,
        take.recordEnd > take.recordNext ? take.recordEnd - take.recordNext : 0);
  } catch (const std::bad_alloc&) {
    return errors_.Make(AudioError::OutOfMemory);
  }
  take.recordNext += kept;
  take.timings.capturedFrames = kept;
  if (kept > 0) {
    take.timings.firstCapture = take.timings.recordCalled;
    take.timings.firstCaptureFrames = kept;
  }
  // The press came after the last fragment in by what the input captured since: it comes next.
  const std::int64_t since =
      std::clamp<std::int64_t>(take.timings.recordCalled - preRoll.lastCapture, 0,
                               static_cast<std::int64_t>(2 * kFragmentUs * 1000));
  take.pressFrame = take.recordNext + static_cast<std::uint64_t>(since) *
                                          static_cast<std::uint64_t>(take.element.sampleRate) /
                                          1'000'000'000u;
  take.record = Device::RecordState::Running;
  take.takeOpen = true;
  take.fedBy = &preRoll;
  preRoll.feeds = &take;
  if (take.recordNext >= take.recordEnd) {
    StopCapturing(take);  // a take limit below the lead-in
  }
  return kNoError;
}

void PulseAudioEngine::Feed(Device& take, std::span<const std::byte> frames) {
  take.lastCapture = Now();
  try {
    if (!take.Store(frames)) {
      StopCapturing(take);
    }
  } catch (const std::bad_alloc&) {
    CutShort(take, AudioError::OutOfMemory, OutOfMemoryCutText());
  }
}

void PulseAudioEngine::HandOver(Device& preRoll) {
  Device* take = std::exchange(preRoll.feeds, nullptr);
  if (take == nullptr) {
    return;
  }
  take->fedBy = nullptr;
  take->input = std::exchange(preRoll.input, nullptr);
  take->partial = std::move(preRoll.partial);
  pa_stream_set_state_callback(take->input, &PulseAudioEngine::OnStreamState, take);
  pa_stream_set_read_callback(take->input, &PulseAudioEngine::OnReadable, take);
  pa_stream_set_started_callback(take->input, nullptr, nullptr);
}

}  // namespace voxtar::audio
