// SPDX-License-Identifier: GPL-3.0-or-later
// What the PulseAudio engine's inputs capture, handed to its take recorder: a take's own stream,
// the level check (measured and not kept) and the kept-open input, whose stream a take takes
// over; and the level and capture listeners the recorder's reports go to.
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

bool PulseAudioEngine::TakeIn(Device& device, std::span<const std::byte> bytes) {
  switch (device.role) {
    case Device::Role::LevelCheck:
      recorder_.FeedMeasured(bytes);
      return true;
    case Device::Role::KeptInput:
      recorder_.FeedKept(bytes);
      return true;
    case Device::Role::Take:
      break;
  }
  return recorder_.Feed(device.take, bytes);
}

// ---- The level check ---------------------------------------------------------------------------

void PulseAudioEngine::SetLevelListener(QObject* listener) {
  levelListener_ = listener;
}

void PulseAudioEngine::Level(const LevelSummary& summary) {
  if (QThread::currentThread() == thread()) {
    if (levelListener_ != nullptr) {
      QCoreApplication::postEvent(levelListener_, new LevelNotice(summary));
    }
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, summary] { Level(summary); }, Qt::QueuedConnection);
}

void PulseAudioEngine::SetCaptureListener(QObject* listener) {
  captureListener_ = listener;
  if (loop_ == nullptr) {
    recorder_.SetListening(listener != nullptr);
    return;
  }
  MainLoopLock lock(loop_);
  recorder_.SetListening(listener != nullptr);
}

void PulseAudioEngine::Captured(const CaptureFormat& format, std::vector<std::byte> frames,
                                bool kept) {
  // Queued in order: what the input kept, then the blocks captured after it.
  if (QThread::currentThread() == thread()) {
    if (captureListener_ != nullptr) {
      QCoreApplication::postEvent(captureListener_,
                                  new CaptureNotice(format, std::move(frames), kept));
    }
    return;
  }
  QMetaObject::invokeMethod(
      this,
      [this, format, frames = std::move(frames), kept]() mutable {
        Captured(format, std::move(frames), kept);
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
  check->role = Device::Role::LevelCheck;
  recorder_.StartMeasuring(format);
  if (const ErrorCode error = StartInput(*check); error != kNoError) {
    recorder_.EndMeasuring();
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
  input->role = Device::Role::KeptInput;
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
    try {
      recorder_.Keep(format, keepFrames);
    } catch (const std::bad_alloc&) {
      return errors_.Make(AudioError::OutOfMemory);
    }
    return kNoError;
  }
  EndPreRoll();
  EndLevelCheck();
  if (const ErrorCode error = Connect(); error != kNoError) {
    return error;
  }
  try {
    recorder_.Keep(format, keepFrames);
  } catch (const std::bad_alloc&) {
    return errors_.Make(AudioError::OutOfMemory);
  }
  if (const ErrorCode error = StartInput(*input); error != kNoError) {
    recorder_.EndKeeping();
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

void PulseAudioEngine::HandOver(Device& preRoll) {
  Device* take = Find(recorder_.HandOver());
  if (take == nullptr) {
    return;
  }
  take->input = std::exchange(preRoll.input, nullptr);
  take->record = Device::RecordState::Running;
  pa_stream_set_state_callback(take->input, &PulseAudioEngine::OnStreamState, take);
  pa_stream_set_read_callback(take->input, &PulseAudioEngine::OnReadable, take);
  pa_stream_set_started_callback(take->input, nullptr, nullptr);
}

}  // namespace voxtar::audio
