// SPDX-License-Identifier: GPL-3.0-or-later
// The PulseAudio engine's life and its commands on devices. The connection to the server is in
// pulse_connection.cpp, the streams and the level check in pulse_streams.cpp.
#include "audio/pulse_audio_engine.h"

#include <pulse/pulseaudio.h>
#include <QCoreApplication>

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <utility>

#include "audio/pulse_device_p.h"
#include "audio/pulse_support_p.h"
#include "audio/wave_element.h"

namespace voxtar::audio {

using namespace pulse;

PulseAudioEngine::PulseAudioEngine(std::string iconName, QObject* parent)
    : QObject(parent), iconName_(std::move(iconName)), recorder_(*this, [] { return Now(); }) {
  loop_ = pa_threaded_mainloop_new();
  if (loop_ != nullptr && pa_threaded_mainloop_start(loop_) < 0) {
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }
}

PulseAudioEngine::~PulseAudioEngine() {
  if (loop_ == nullptr) {
    return;
  }
  {
    MainLoopLock lock(loop_);
    for (auto& [id, device] : devices_) {
      EndRecording(*device);
      CancelOperation(device->drain);
      CancelOperation(device->timing);
      if (device->tail != nullptr) {
        pa_threaded_mainloop_get_api(loop_)->time_free(device->tail);
        device->tail = nullptr;
      }
      ReleaseStream(device->output);
    }
    devices_.clear();
    EndLevelCheck();
    EndPreRoll();
    DropContext();
  }
  pa_threaded_mainloop_stop(loop_);
  pa_threaded_mainloop_free(loop_);
}

PulseAudioEngine::Device* PulseAudioEngine::Find(DeviceId device) {
  auto it = devices_.find(device);
  return it == devices_.end() ? nullptr : it->second.get();
}

void PulseAudioEngine::SetMediaName(DeviceId device, std::u16string_view name) {
  if (loop_ == nullptr) {
    return;
  }
  MainLoopLock lock(loop_);
  if (Device* found = Find(device)) {
    found->mediaName =
        QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())).toStdString();
  }
}

// ---- The engine's commands ---------------------------------------------------------------------

ErrorCode PulseAudioEngine::Open(std::u16string_view element, DeviceId* device) {
  *device = 0;
  if (loop_ == nullptr) {
    return Connect();
  }
  auto opened = std::make_unique<Device>();
  opened->engine = this;
  opened->path = std::u16string(element);
  {
    MainLoopLock lock(loop_);
    if (const ErrorCode error = Connect(); error != kNoError) {
      return error;
    }
  }
  std::string error;
  bool notOpened = false;
  if (!ReadWaveFile(element, &opened->element, &error, &notOpened)) {
    return errors_.Make(notOpened ? AudioError::FileNotReadable : AudioError::NotASoundFile,
                        QString::fromStdString(error));
  }
  const QString path = QString::fromUtf16(element.data(), static_cast<qsizetype>(element.size()));
  opened->mediaName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toStdString();
  MainLoopLock lock(loop_);
  if (devices_.size() >= 0xFFFE) {
    return errors_.Make(AudioError::TooManyDevices);
  }
  while (nextId_ == 0 || devices_.count(nextId_) != 0) {
    ++nextId_;
  }
  opened->id = nextId_++;
  *device = opened->id;
  devices_.emplace(opened->id, std::move(opened));
  return kNoError;
}

ErrorCode PulseAudioEngine::WithDevice(DeviceId id, const std::function<ErrorCode(Device&)>& body) {
  if (loop_ == nullptr) {
    return errors_.Make(AudioError::InvalidDevice);
  }
  MainLoopLock lock(loop_);
  Device* device = Find(id);
  return device != nullptr ? body(*device) : errors_.Make(AudioError::InvalidDevice);
}

ErrorCode PulseAudioEngine::QueryLength(DeviceId id, std::uint32_t* lengthMs) {
  return WithDevice(id, [lengthMs](Device& device) {
    *lengthMs = device.element.lengthMs();
    return kNoError;
  });
}

ErrorCode PulseAudioEngine::Play(DeviceId id, std::uint32_t fromMs,
                                 std::optional<std::uint32_t> toMs, QObject* notify) {
  return WithDevice(id, [&](Device& device) {
    if (device.take.capturing()) {
      return errors_.Make(AudioError::Busy);
    }
    const WaveElement& element = device.element;
    const std::uint32_t lengthMs = element.lengthMs();
    const std::uint32_t endMs = toMs.value_or(lengthMs);
    if (fromMs > endMs || endMs > lengthMs) {
      return errors_.Make(
          AudioError::OutOfRange,
          QCoreApplication::translate("AudioError",
                                      "The play range %1 to %2 ms does not lie within the "
                                      "sound's %3 ms.")
              .arg(fromMs)
              .arg(endMs)
              .arg(lengthMs));
    }
    EndPlayback(device, NotifyCode::Superseded);
    FlushNotice(device);
    EndLevelCheck();
    if (const ErrorCode error = Connect(); error != kNoError) {
      return error;
    }

    const std::uint64_t first = element.FramesAt(fromMs);
    const std::uint64_t end =
        toMs ? std::min(element.FramesAt(*toMs), element.frames()) : element.frames();
    device.timings = Timings{};
    device.timings.playCalled = Now();
    device.timings.playedFrames = end > first ? end - first : 0;
    device.notify = notify;
    ++device.playSerial;
    device.play = Device::PlayState::Starting;
    if (end <= first) {
      // Nothing to play: done at once.
      EndPlayback(device, NotifyCode::Successful);
      return kNoError;
    }
    device.playNext = first;
    device.playEnd = end;
    device.draining = false;
    device.lastRequest = device.timings.playCalled;
    device.deadline = device.timings.playCalled +
                      static_cast<std::int64_t>((end - first) * 1'000'000'000u /
                                                static_cast<std::uint64_t>(element.sampleRate)) +
                      kStalledNs;
    if (const ErrorCode error = StartStream(device, Direction::Output); error != kNoError) {
      device.play = Device::PlayState::Idle;
      device.notify = nullptr;
      return error;
    }
    device.play = Device::PlayState::Running;
    return kNoError;
  });
}

ErrorCode PulseAudioEngine::Record(DeviceId id, std::uint32_t fromMs, QObject* notify) {
  return WithDevice(id, [&](Device& device) {
    const WaveElement& element = device.element;
    if (fromMs > element.lengthMs()) {
      return errors_.Make(
          AudioError::OutOfRange,
          QCoreApplication::translate("AudioError",
                                      "The recording position %1 ms lies beyond the end of the "
                                      "sound (%2 ms).")
              .arg(fromMs)
              .arg(element.lengthMs()));
    }
    EndPlayback(device, NotifyCode::Superseded);
    EndRecording(device);
    EndLevelCheck();
    const bool takesOver = recorder_.TakesOver(CaptureFormatOf(element));
    if (!takesOver) {
      if (const ErrorCode error = Connect(); error != kNoError) {
        return error;
      }
    }
    device.timings = Timings{};
    device.timings.recordCalled = Now();
    device.recordNotify = notify;
    device.notice.reset();
    try {
      recorder_.Begin(device.take, device.id, device.element, element.FramesAt(fromMs),
                      element.MaxFrames(takeLimitBytes_));
    } catch (const std::bad_alloc&) {
      return errors_.Make(AudioError::OutOfMemory);
    }
    if (takesOver) {
      return kNoError;
    }
    device.record = Device::RecordState::Starting;
    if (const ErrorCode error = StartStream(device, Direction::Input); error != kNoError) {
      device.record = Device::RecordState::Idle;
      recorder_.Stop(device.take);
      return error;
    }
    device.record = Device::RecordState::Running;
    return kNoError;
  });
}

void PulseAudioEngine::CatchUp(Device& device) {
  // Take in the fragment still on its way, so the last syllable before the stop is kept.
  const std::uint64_t before = device.take.capturedFrames();
  WaitFor(loop_, kStopCatchUpMs, [&device, before] {
    return !device.take.capturing() || device.take.capturedFrames() > before;
  });
}

ErrorCode PulseAudioEngine::StopDevice(Device& device) {
  EndPlayback(device, NotifyCode::Aborted);
  if (device.take.capturing()) {
    CatchUp(device);
    EndRecording(device);
  }
  device.notice.reset();  // stopped: whatever it said comes too late
  if (const std::optional<TakeLoss> lost = recorder_.Stop(device.take)) {
    return errors_.Make(lost->cause, lost->text);
  }
  return kNoError;
}

ErrorCode PulseAudioEngine::Stop(DeviceId id) {
  return WithDevice(id, [this](Device& device) { return StopDevice(device); });
}

ErrorCode PulseAudioEngine::FinishRecording(DeviceId id, std::uint32_t afterMs) {
  return WithDevice(id, [&](Device& device) {
    if (!device.take.open()) {
      return StopDevice(device);
    }
    if (device.take.capturing() && afterMs == 0) {
      CatchUp(device);
    }
    recorder_.Finish(device.take, device.element.FramesAt(afterMs));
    if (!device.take.capturing()) {
      EndRecording(device);
    }
    return kNoError;
  });
}

std::uint64_t PulseAudioEngine::PressFrame(DeviceId id) {
  std::uint64_t frame = 0;
  WithDevice(id, [&frame](Device& device) {
    frame = device.take.pressFrame();
    return kNoError;
  });
  return frame;
}

std::shared_ptr<const WaveElement> PulseAudioEngine::Content(DeviceId id) {
  std::shared_ptr<const WaveElement> content;
  WithDevice(id, [&content](Device& device) {
    // A copy shares the frames; the device's next write copies the block it writes into.
    content = std::make_shared<const WaveElement>(device.element);
    return kNoError;
  });
  return content;
}

std::uint64_t PulseAudioEngine::CapturedFrames(DeviceId id) {
  std::uint64_t frames = 0;
  WithDevice(id, [&frames](Device& device) {
    frames = device.take.capturedFrames();
    return kNoError;
  });
  return frames;
}

ErrorCode PulseAudioEngine::Close(DeviceId id) {
  return WithDevice(id, [&](Device& device) {
    EndPlayback(device, NotifyCode::Aborted);
    FlushNotice(device);
    EndRecording(device);
    devices_.erase(id);
    return kNoError;
  });
}

QString PulseAudioEngine::ErrorText(ErrorCode error) {
  return errors_.Text(error);
}

PulseAudioEngine::Timings PulseAudioEngine::timings(DeviceId device) const {
  if (loop_ == nullptr) {
    return {};
  }
  MainLoopLock lock(loop_);
  auto it = devices_.find(device);
  if (it == devices_.end()) {
    return {};
  }
  Timings timings = it->second->timings;
  const Take& take = it->second->take;
  timings.firstCapture = take.firstCapture();
  timings.firstCaptureFrames = take.firstCaptureFrames();
  timings.capturedFrames = take.capturedFrames();
  return timings;
}

}  // namespace voxtar::audio
