// SPDX-License-Identifier: GPL-3.0-or-later
#include "testing/simulated_audio_engine.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <numbers>
#include <utility>

namespace voxtar::audio {

namespace {

SimulatedAudioEngine::Call NewCall(SimulatedAudioEngine::Command command, DeviceId device) {
  SimulatedAudioEngine::Call call;
  call.command = command;
  call.device = device;
  return call;
}

}  // namespace

SimulatedAudioEngine::SimulatedAudioEngine() = default;
SimulatedAudioEngine::~SimulatedAudioEngine() = default;

ErrorCode SimulatedAudioEngine::Log(Call call) {
  calls_.push_back(std::move(call));
  return calls_.back().result;
}

std::optional<ErrorCode> SimulatedAudioEngine::Injected(Command command) {
  auto it = failures_.find(command);
  if (it == failures_.end()) {
    return std::nullopt;
  }
  const ErrorCode error = it->second.error;
  if (!it->second.always) {
    failures_.erase(it);
  }
  return error;
}

SimulatedAudioEngine::Device* SimulatedAudioEngine::Find(DeviceId device) {
  auto it = devices_.find(device);
  return it == devices_.end() ? nullptr : &it->second;
}

ErrorCode SimulatedAudioEngine::Open(std::u16string_view element, DeviceId* device) {
  Call call = NewCall(Command::Open, 0);
  call.path = std::u16string(element);
  *device = 0;
  if (auto injected = Injected(Command::Open)) {
    call.result = *injected;
    return Log(std::move(call));
  }
  Device opened;
  opened.path = std::u16string(element);
  opened.mediaName = opened.path.substr(opened.path.rfind(u'/') + 1);
  if (auto it = memoryElements_.find(opened.path); it != memoryElements_.end()) {
    opened.element = it->second;
  } else {
    std::string error;
    bool notOpened = false;
    if (!ReadWaveFile(element, &opened.element, &error, &notOpened)) {
      call.result =
          errors_.Make(notOpened ? AudioError::FileNotReadable : AudioError::NotASoundFile,
                       QString::fromStdString(error));
      return Log(std::move(call));
    }
  }
  if (devices_.size() >= 0xFFFE) {
    call.result = errors_.Make(AudioError::TooManyDevices);
    return Log(std::move(call));
  }
  while (nextId_ == 0 || devices_.count(nextId_) != 0) {
    ++nextId_;
  }
  const DeviceId id = nextId_++;
  devices_.emplace(id, std::move(opened));
  *device = id;
  call.device = id;
  return Log(std::move(call));
}

ErrorCode SimulatedAudioEngine::Run(Call call, const std::function<ErrorCode(Device&)>& body) {
  if (auto injected = Injected(call.command)) {
    call.result = *injected;
  } else if (Device* found = Find(call.device)) {
    call.result = body(*found);
  } else {
    call.result = errors_.Make(AudioError::InvalidDevice);
  }
  return Log(std::move(call));
}

ErrorCode SimulatedAudioEngine::QueryLength(DeviceId device, std::uint32_t* lengthMs) {
  return Run(NewCall(Command::QueryLength, device), [lengthMs](Device& found) {
    *lengthMs = found.element.lengthMs();
    return kNoError;
  });
}

ErrorCode SimulatedAudioEngine::Play(DeviceId device, std::uint32_t fromMs,
                                     std::optional<std::uint32_t> toMs, QObject* notify) {
  Call call = NewCall(Command::Play, device);
  call.from = fromMs;
  call.to = toMs;
  call.notify = notify;
  return Run(std::move(call), [&](Device& found) {
    if (found.recording) {
      return errors_.Make(AudioError::Busy);
    }
    const std::uint32_t length = found.element.lengthMs();
    const std::uint32_t end = toMs.value_or(length);
    if (fromMs > end || end > length) {
      return errors_.Make(AudioError::OutOfRange);
    }
    if (found.playing) {
      EndPlayback(device, found, NotifyCode::Superseded);
    }
    levelCheck_.reset();
    found.playing = true;
    found.streamDevice = DeviceFor(Direction::Output);
    found.playStart = nowMs_;
    found.playDuration = end - fromMs;
    found.notify = notify;
    if (found.playDuration == 0) {
      EndPlayback(device, found, NotifyCode::Successful);
    }
    return kNoError;
  });
}

ErrorCode SimulatedAudioEngine::Record(DeviceId device, std::uint32_t fromMs, QObject* notify) {
  Call call = NewCall(Command::Record, device);
  call.from = fromMs;
  call.notify = notify;
  return Run(std::move(call), [&](Device& found) {
    if (fromMs > found.element.lengthMs()) {
      return errors_.Make(AudioError::OutOfRange);
    }
    if (found.playing) {
      EndPlayback(device, found, NotifyCode::Superseded);
    }
    if (found.recording) {
      Capture(device, found);
      EndCapture(found);
    }
    levelCheck_.reset();
    found.recording = true;
    found.takeOpen = true;
    found.streamDevice = DeviceFor(Direction::Input);
    found.recordStart = nowMs_;
    found.startFrames = 0;
    found.recordAt = found.element.FramesAt(fromMs);
    found.recordedFrames = 0;
    found.recordEnd = found.element.MaxFrames(takeLimitBytes_);
    found.finishAt = UINT64_MAX;
    found.pressFrame = found.recordAt;
    found.recordNotify = notify;
    found.noticeGiven = false;
    found.lostError = kNoError;
    if (preRoll_ && preRoll_->feeds == 0 &&
        preRoll_->input.format == CaptureFormatOf(found.element)) {
      // The take takes over the kept-open input and begins with what it kept.
      CapturePreRoll();
      const std::uint64_t room =
          found.recordEnd > found.recordAt ? found.recordEnd - found.recordAt : 0;
      try {
        found.recordedFrames = preRoll_->ring.WriteInto(found.element, found.recordAt, room);
      } catch (const std::bad_alloc&) {
        found.recording = false;
        found.takeOpen = false;
        return errors_.Make(AudioError::OutOfMemory);
      }
      found.pressFrame += found.recordedFrames;
      found.fed = true;
      preRoll_->feeds = device;
      if (found.recordedFrames == room) {
        StopCapturing(device, found);
      }
    }
    return kNoError;
  });
}

ErrorCode SimulatedAudioEngine::StopDevice(DeviceId id, Device& device) {
  if (device.playing) {
    EndPlayback(id, device, NotifyCode::Aborted);
  }
  if (device.recording) {
    device.recordNotify = nullptr;  // stopped, not stopping by itself
    Capture(id, device);
    EndCapture(device);
  }
  device.takeOpen = false;
  return std::exchange(device.lostError, kNoError);
}

ErrorCode SimulatedAudioEngine::Stop(DeviceId device) {
  return Run(NewCall(Command::Stop, device),
             [this, device](Device& found) { return StopDevice(device, found); });
}

ErrorCode SimulatedAudioEngine::FinishRecording(DeviceId device, std::uint32_t afterMs) {
  Call call = NewCall(Command::FinishRecording, device);
  call.from = afterMs;
  return Run(std::move(call), [&](Device& found) {
    if (!found.takeOpen) {
      return StopDevice(device, found);
    }
    if (found.recording) {
      Capture(device, found);
    }
    if (!found.recording) {
      Notify(device, found, RecordingCode::Finished);
    } else if (afterMs == 0) {
      found.finishAt = found.recordAt + found.recordedFrames;
      StopCapturing(device, found);
    } else if (found.finishAt == UINT64_MAX) {
      found.finishAt = found.recordAt + found.recordedFrames + found.element.FramesAt(afterMs);
    }
    return kNoError;
  });
}

std::uint64_t SimulatedAudioEngine::PressFrame(DeviceId device) {
  const Device* found = Find(device);
  return found != nullptr ? found->pressFrame : 0;
}

std::shared_ptr<const WaveElement> SimulatedAudioEngine::Content(DeviceId device) {
  Device* found = Find(device);
  if (found == nullptr) {
    return nullptr;
  }
  if (found->recording) {
    Capture(device, *found);
  }
  return std::make_shared<const WaveElement>(found->element);
}

std::uint64_t SimulatedAudioEngine::CapturedFrames(DeviceId device) {
  Device* found = Find(device);
  if (found == nullptr) {
    return 0;
  }
  if (found->recording) {
    Capture(device, *found);
  }
  return found->recordedFrames;
}

ErrorCode SimulatedAudioEngine::Close(DeviceId device) {
  return Run(NewCall(Command::Close, device), [&](Device& found) {
    if (found.playing) {
      EndPlayback(device, found, NotifyCode::Aborted);
    }
    EndCapture(found);
    devices_.erase(device);
    return kNoError;
  });
}

QString SimulatedAudioEngine::ErrorText(ErrorCode error) {
  if (auto it = injectedTexts_.find(error); it != injectedTexts_.end()) {
    return it->second;
  }
  return errors_.Text(error);
}

void SimulatedAudioEngine::Advance(std::uint32_t ms) {
  nowMs_ += ms;
  if (levelCheck_) {
    Listen(*levelCheck_, true);
  }
  CapturePreRoll();
  for (auto& [id, device] : devices_) {
    if (device.recording) {
      Capture(id, device);
    }
    if (device.playing && nowMs_ >= device.playStart + device.playDuration) {
      EndPlayback(id, device, NotifyCode::Successful);
    }
  }
}

void SimulatedAudioEngine::FailNext(Command command, ErrorCode error, const QString& text) {
  failures_[command] = Failure{error, text, false};
  injectedTexts_[error] = text;
}

void SimulatedAudioEngine::FailAlways(Command command, ErrorCode error, const QString& text) {
  failures_[command] = Failure{error, text, true};
  injectedTexts_[error] = text;
}

void SimulatedAudioEngine::ClearFailures() {
  failures_.clear();
}

void SimulatedAudioEngine::SetInputTone(double frequency, double amplitude) {
  toneFrequency_ = frequency;
  toneAmplitude_ = std::clamp(amplitude, 0.0, 1.0);
  inputSignal_ = nullptr;
}

void SimulatedAudioEngine::SetInputSignal(std::function<double(double seconds)> signal) {
  inputSignal_ = std::move(signal);
}

void SimulatedAudioEngine::SetCaptureListener(QObject* listener) {
  if (listener != nullptr && preRoll_) {
    CapturePreRoll();
    std::vector<std::byte> kept;
    for (const std::span<const std::byte> span : preRoll_->ring.Spans()) {
      kept.insert(kept.end(), span.begin(), span.end());
    }
    QCoreApplication::postEvent(listener,
                                new CaptureNotice(preRoll_->input.format, std::move(kept), true));
  }
  captureListener_ = listener;
}

void SimulatedAudioEngine::AddElement(std::u16string_view path, WaveElement element) {
  memoryElements_[std::u16string(path)] = std::move(element);
}

void SimulatedAudioEngine::LoseDevice(DeviceId device) {
  Device* found = Find(device);
  if (found == nullptr) {
    return;
  }
  if (found->playing) {
    EndPlayback(device, *found, NotifyCode::Failure);
  }
  if (found->fed) {
    LoseInput();
    return;
  }
  if (found->recording) {
    Capture(device, *found);
  }
  if (found->recording) {
    StopCapturing(device, *found, errors_.Make(AudioError::InputFailed));
  }
}

void SimulatedAudioEngine::LoseInput() {
  levelCheck_.reset();
  if (!preRoll_) {
    return;
  }
  CapturePreRoll();
  if (Device* take = Find(preRoll_->feeds); take != nullptr && take->recording) {
    StopCapturing(preRoll_->feeds, *take, errors_.Make(AudioError::InputFailed));
  }
  preRoll_.reset();
}

std::vector<SimulatedAudioEngine::Command> SimulatedAudioEngine::commands() const {
  std::vector<Command> result;
  result.reserve(calls_.size());
  for (const Call& call : calls_) {
    result.push_back(call.command);
  }
  return result;
}

bool SimulatedAudioEngine::isPlaying(DeviceId device) const {
  auto it = devices_.find(device);
  return it != devices_.end() && it->second.playing;
}

bool SimulatedAudioEngine::isRecording(DeviceId device) const {
  auto it = devices_.find(device);
  return it != devices_.end() && it->second.recording;
}

const WaveElement* SimulatedAudioEngine::element(DeviceId device) const {
  auto it = devices_.find(device);
  return it == devices_.end() ? nullptr : &it->second.element;
}

void SimulatedAudioEngine::EndPlayback(DeviceId id, Device& device, NotifyCode code) {
  device.playing = false;
  if (device.notify != nullptr) {
    QCoreApplication::postEvent(device.notify, new PlaybackNotice(code, id));
  }
  device.notify = nullptr;
}

std::vector<std::byte> SimulatedAudioEngine::ToneFrames(SampleKind kind, int rate, int channels,
                                                        std::uint64_t from, std::uint64_t to,
                                                        double startSeconds) const {
  const std::size_t sampleBytes = BytesPerSample(kind);
  const auto count = static_cast<std::size_t>(channels);
  std::vector<std::byte> bytes(static_cast<std::size_t>(to - from) * sampleBytes * count);
  std::byte* at = bytes.data();
  for (std::uint64_t n = from; n < to; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double value =
        inputSignal_ ? inputSignal_(startSeconds + t)
                     : toneAmplitude_ * std::sin(2.0 * std::numbers::pi * toneFrequency_ * t);
    for (std::size_t c = 0; c < count; ++c) {
      EncodeSample(kind, value, at);
      at += sampleBytes;
    }
  }
  return bytes;
}

void SimulatedAudioEngine::PostLevel(const std::vector<std::byte>& bytes,
                                     const CaptureFormat& format, bool measureOnly) {
  if (levelListener_ != nullptr && !bytes.empty()) {
    QCoreApplication::postEvent(
        levelListener_, new LevelNotice(SummarizeBlock(bytes, format.channels, format.kind)));
  }
  if (captureListener_ != nullptr && !bytes.empty() && !measureOnly) {
    QCoreApplication::postEvent(captureListener_, new CaptureNotice(format, bytes, false));
  }
}

void SimulatedAudioEngine::Capture(DeviceId id, Device& device) {
  if (device.fed) {
    CapturePreRoll();
    return;
  }
  const WaveElement& element = device.element;
  const std::uint64_t stop = std::min(device.recordEnd, device.finishAt);
  const std::uint64_t room = stop > device.recordAt ? stop - device.recordAt : 0;
  const std::uint64_t due = std::min(
      room, device.startFrames + (nowMs_ - device.recordStart) *
                                     static_cast<std::uint64_t>(element.sampleRate) / 1000u);
  if (due < device.recordedFrames) {
    return;
  }
  const std::vector<std::byte> bytes =
      ToneFrames(element.kind, element.sampleRate, element.channels, device.recordedFrames, due,
                 static_cast<double>(device.recordStart) / 1000.0 -
                     static_cast<double>(device.startFrames) / element.sampleRate);
  Store(id, device, bytes);
  if (device.lostError == kNoError) {
    PostLevel(bytes, CaptureFormatOf(element));
  }
}

void SimulatedAudioEngine::Store(DeviceId id, Device& device, std::span<const std::byte> bytes) {
  WaveElement& element = device.element;
  const std::uint64_t at = device.recordAt + device.recordedFrames;
  const std::uint64_t stop = std::min(device.recordEnd, device.finishAt);
  const std::uint64_t room = stop > at ? stop - at : 0;
  const std::uint64_t count = std::min<std::uint64_t>(bytes.size() / element.bytesPerFrame(), room);
  if (count > 0) {
    try {
      if (std::exchange(failNextCapture_, false)) {
        throw std::bad_alloc();
      }
      element.Overwrite(at, bytes.data(),
                        static_cast<std::size_t>(count) * element.bytesPerFrame());
    } catch (const std::bad_alloc&) {
      StopCapturing(id, device, errors_.Make(AudioError::OutOfMemory, OutOfMemoryCutText()));
      return;
    }
    device.recordedFrames += count;
  }
  if (count == room) {
    StopCapturing(id, device);
  }
}

void SimulatedAudioEngine::StopCapturing(DeviceId id, Device& device, ErrorCode lost) {
  EndCapture(device);
  device.lostError = lost;
  if (lost == kNoError) {
    Notify(id, device,
           device.recordAt + device.recordedFrames >= device.recordEnd ? RecordingCode::LimitReached
                                                                       : RecordingCode::Finished);
  } else if (device.finishAt != UINT64_MAX) {
    Notify(id, device, RecordingCode::Finished);
  }
}

void SimulatedAudioEngine::EndCapture(Device& device) {
  device.recording = false;
  if (device.fed) {
    device.fed = false;
    preRoll_->feeds = 0;
  }
}

void SimulatedAudioEngine::Notify(DeviceId id, Device& device, RecordingCode code) {
  if (!std::exchange(device.noticeGiven, true) && device.recordNotify != nullptr) {
    QCoreApplication::postEvent(device.recordNotify, new RecordingNotice(code, id));
  }
}

std::vector<std::byte> SimulatedAudioEngine::Listen(Input& input, bool measureOnly) {
  const CaptureFormat& format = input.format;
  const std::uint64_t due =
      (nowMs_ - input.startMs) * static_cast<std::uint64_t>(format.sampleRate) / 1000u;
  if (due <= input.frames) {
    return {};
  }
  std::vector<std::byte> bytes =
      ToneFrames(format.kind, format.sampleRate, format.channels, input.frames, due,
                 static_cast<double>(input.startMs) / 1000.0);
  PostLevel(bytes, format, measureOnly);
  input.frames = due;
  return bytes;
}

ErrorCode SimulatedAudioEngine::StartLevelCheck(const CaptureFormat& format) {
  if (format.sampleRate <= 0 || format.channels <= 0) {
    return errors_.Make(AudioError::UnsupportedFormat);
  }
  if (preRoll_) {
    return errors_.Make(AudioError::Busy);
  }
  levelCheck_ = Input{format, nowMs_, 0};
  return kNoError;
}

ErrorCode SimulatedAudioEngine::StartPreRoll(const CaptureFormat& format, std::uint32_t keepMs) {
  Call call = NewCall(Command::StartPreRoll, 0);
  call.from = keepMs;
  if (auto injected = Injected(Command::StartPreRoll)) {
    call.result = *injected;
    return Log(std::move(call));
  }
  if (keepMs > kPreRollLimitMs) {
    call.result = errors_.Make(AudioError::OutOfRange);
  } else if (format.sampleRate <= 0 || format.channels <= 0) {
    call.result = errors_.Make(AudioError::UnsupportedFormat);
  } else {
    const std::size_t frameBytes =
        BytesPerSample(format.kind) * static_cast<std::size_t>(format.channels);
    CaptureRing ring(frameBytes, static_cast<std::size_t>(
                                     static_cast<std::uint64_t>(keepMs) *
                                     static_cast<std::uint64_t>(format.sampleRate) / 1000u));
    if (preRoll_ && preRoll_->input.format == format) {
      // The same input in the same format: what it holds stays, as much as the new length keeps.
      CapturePreRoll();
      for (const std::span<const std::byte> span : preRoll_->ring.Spans()) {
        ring.Push(span);
      }
      preRoll_->ring = std::move(ring);
      preRoll_->keepMs = keepMs;
    } else {
      StopPreRoll();
      levelCheck_.reset();
      preRoll_ = PreRoll{Input{format, nowMs_, 0}, keepMs, std::move(ring), 0};
    }
  }
  return Log(std::move(call));
}

void SimulatedAudioEngine::StopPreRoll() {
  if (preRoll_) {
    CapturePreRoll();
    HandOver();
    preRoll_.reset();
  }
}

void SimulatedAudioEngine::CapturePreRoll() {
  if (!preRoll_) {
    return;
  }
  const std::vector<std::byte> bytes = Listen(preRoll_->input, false);
  preRoll_->ring.Push(bytes);
  if (Device* take = Find(preRoll_->feeds); take != nullptr && take->recording) {
    Store(preRoll_->feeds, *take, bytes);
  }
}

void SimulatedAudioEngine::HandOver() {
  Device* take = Find(preRoll_->feeds);
  if (take == nullptr) {
    return;
  }
  take->fed = false;
  take->recordStart = nowMs_;
  take->startFrames = take->recordedFrames;
  preRoll_->feeds = 0;
}

std::optional<CaptureFormat> SimulatedAudioEngine::preRollFormat() const {
  return preRoll_ ? std::optional(preRoll_->input.format) : std::nullopt;
}

std::vector<SoundDevice> SimulatedAudioEngine::Devices(Direction direction) {
  auto it = soundDevices_.find(direction);
  return it == soundDevices_.end() ? std::vector<SoundDevice>{} : it->second;
}

void SimulatedAudioEngine::ChooseDevice(Direction direction, const std::string& name) {
  chosen_[direction] = name;
}

std::string SimulatedAudioEngine::ChosenDevice(Direction direction) const {
  auto it = chosen_.find(direction);
  return it == chosen_.end() ? std::string() : it->second;
}

void SimulatedAudioEngine::SetMediaName(DeviceId device, std::u16string_view name) {
  if (Device* found = Find(device)) {
    found->mediaName = std::u16string(name);
  }
}

void SimulatedAudioEngine::SetDevices(Direction direction, std::vector<SoundDevice> devices) {
  soundDevices_[direction] = std::move(devices);
}

std::string SimulatedAudioEngine::DeviceFor(Direction direction) const {
  const std::string chosen = ChosenDevice(direction);
  auto it = soundDevices_.find(direction);
  if (chosen.empty() || it == soundDevices_.end()) {
    return {};
  }
  const bool present =
      std::any_of(it->second.begin(), it->second.end(),
                  [&](const SoundDevice& device) { return device.name == chosen; });
  return present ? chosen : std::string();
}

std::string SimulatedAudioEngine::streamDevice(DeviceId device) const {
  auto it = devices_.find(device);
  return it == devices_.end() ? std::string() : it->second.streamDevice;
}

std::u16string SimulatedAudioEngine::mediaName(DeviceId device) const {
  auto it = devices_.find(device);
  return it == devices_.end() ? std::u16string() : it->second.mediaName;
}

}  // namespace voxtar::audio
