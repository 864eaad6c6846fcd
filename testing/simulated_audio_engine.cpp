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

SimulatedAudioEngine::SimulatedAudioEngine()
    : recorder_(*this, [this] { return static_cast<std::int64_t>(nowMs_) * 1'000'000; }) {}
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
    if (found.take.capturing()) {
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
    StopLevelCheck();
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
    Capture(found);
    EndCapture(found);
    StopLevelCheck();
    found.streamDevice = DeviceFor(Direction::Input);
    found.recordNotify = notify;
    const CaptureFormat format = CaptureFormatOf(found.element);
    if (recorder_.TakesOver(format)) {
      CapturePreRoll();  // what it keeps is what it captured up to now
    }
    try {
      if (!recorder_.Begin(found.take, device, found.element, found.element.FramesAt(fromMs),
                           found.element.MaxFrames(takeLimitBytes_))) {
        found.input = Stream{format, nowMs_, 0};
      }
    } catch (const std::bad_alloc&) {
      return errors_.Make(AudioError::OutOfMemory);
    }
    return kNoError;
  });
}

ErrorCode SimulatedAudioEngine::StopDevice(DeviceId id, Device& device) {
  if (device.playing) {
    EndPlayback(id, device, NotifyCode::Aborted);
  }
  if (device.take.capturing()) {
    device.recordNotify = nullptr;  // stopped, not stopping by itself
  }
  Capture(device);
  EndCapture(device);
  if (const std::optional<TakeLoss> lost = recorder_.Stop(device.take)) {
    return errors_.Make(lost->cause, lost->text);
  }
  return kNoError;
}

ErrorCode SimulatedAudioEngine::Stop(DeviceId device) {
  return Run(NewCall(Command::Stop, device),
             [this, device](Device& found) { return StopDevice(device, found); });
}

ErrorCode SimulatedAudioEngine::FinishRecording(DeviceId device, std::uint32_t afterMs) {
  Call call = NewCall(Command::FinishRecording, device);
  call.from = afterMs;
  return Run(std::move(call), [&](Device& found) {
    if (!found.take.open()) {
      return StopDevice(device, found);
    }
    Capture(found);
    recorder_.Finish(found.take, found.element.FramesAt(afterMs));
    if (!found.take.capturing()) {
      EndCapture(found);
    }
    return kNoError;
  });
}

std::uint64_t SimulatedAudioEngine::PressFrame(DeviceId device) {
  const Device* found = Find(device);
  return found != nullptr ? found->take.pressFrame() : 0;
}

std::shared_ptr<const WaveElement> SimulatedAudioEngine::Content(DeviceId device) {
  Device* found = Find(device);
  if (found == nullptr) {
    return nullptr;
  }
  Capture(*found);
  return std::make_shared<const WaveElement>(found->element);
}

std::uint64_t SimulatedAudioEngine::CapturedFrames(DeviceId device) {
  Device* found = Find(device);
  if (found == nullptr) {
    return 0;
  }
  Capture(*found);
  return found->take.capturedFrames();
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
    recorder_.FeedMeasured(Due(*levelCheck_));
  }
  CapturePreRoll();
  for (auto& [id, device] : devices_) {
    Capture(device);
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
  if (listener != nullptr) {
    CapturePreRoll();  // what it captured up to now goes to the listener it was captured for
  }
  captureListener_ = listener;
  recorder_.SetListening(listener != nullptr);
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
  if (found->take.fed()) {
    LoseInput();
    return;
  }
  Capture(*found);
  recorder_.CutShort(found->take, {AudioError::InputFailed, {}});
  EndCapture(*found);
}

void SimulatedAudioEngine::LoseInput() {
  StopLevelCheck();
  if (!preRoll_) {
    return;
  }
  CapturePreRoll();
  recorder_.EndKeeping(TakeLoss{AudioError::InputFailed, {}});
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
  return it != devices_.end() && it->second.take.capturing();
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

std::vector<std::byte> SimulatedAudioEngine::Due(Stream& stream) const {
  const CaptureFormat& format = stream.format;
  const auto rate = static_cast<std::uint64_t>(format.sampleRate);
  const std::uint64_t due = (nowMs_ - stream.startMs) * rate / 1000u;
  if (due <= stream.frames) {
    return {};
  }
  const std::size_t sampleBytes = BytesPerSample(format.kind);
  const auto channels = static_cast<std::size_t>(format.channels);
  std::vector<std::byte> bytes(static_cast<std::size_t>(due - stream.frames) * sampleBytes *
                               channels);
  const double startSeconds = static_cast<double>(stream.startMs) / 1000.0;
  std::byte* at = bytes.data();
  for (std::uint64_t n = stream.frames; n < due; ++n) {
    const double t = static_cast<double>(n) / format.sampleRate;
    const double value =
        inputSignal_ ? inputSignal_(startSeconds + t)
                     : toneAmplitude_ * std::sin(2.0 * std::numbers::pi * toneFrequency_ * t);
    for (std::size_t c = 0; c < channels; ++c) {
      EncodeSample(format.kind, value, at);
      at += sampleBytes;
    }
  }
  stream.frames = due;
  return bytes;
}

void SimulatedAudioEngine::Level(const LevelSummary& summary) {
  if (levelListener_ != nullptr) {
    QCoreApplication::postEvent(levelListener_, new LevelNotice(summary));
  }
}

void SimulatedAudioEngine::Captured(const CaptureFormat& format, std::vector<std::byte> frames,
                                    bool kept) {
  if (captureListener_ != nullptr) {
    QCoreApplication::postEvent(captureListener_,
                                new CaptureNotice(format, std::move(frames), kept));
  }
}

void SimulatedAudioEngine::Ended(DeviceId device, RecordingCode code) {
  Device* found = Find(device);
  if (found != nullptr && found->recordNotify != nullptr) {
    QCoreApplication::postEvent(found->recordNotify, new RecordingNotice(code, device));
  }
}

void SimulatedAudioEngine::Capture(Device& device) {
  if (device.take.fed()) {
    CapturePreRoll();
  } else if (device.input && !recorder_.Feed(device.take, Due(*device.input))) {
    device.input.reset();
  }
}

void SimulatedAudioEngine::EndCapture(Device& device) {
  recorder_.EndCapture(device.take);
  device.input.reset();
}

ErrorCode SimulatedAudioEngine::StartLevelCheck(const CaptureFormat& format) {
  if (format.sampleRate <= 0 || format.channels <= 0) {
    return errors_.Make(AudioError::UnsupportedFormat);
  }
  if (preRoll_) {
    return errors_.Make(AudioError::Busy);
  }
  levelCheck_ = Stream{format, nowMs_, 0};
  recorder_.StartMeasuring(format);
  return kNoError;
}

void SimulatedAudioEngine::StopLevelCheck() {
  levelCheck_.reset();
  recorder_.EndMeasuring();
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
    const auto keepFrames = static_cast<std::size_t>(
        static_cast<std::uint64_t>(keepMs) * static_cast<std::uint64_t>(format.sampleRate) / 1000u);
    const bool same = preRoll_ && preRoll_->input.format == format;
    if (same) {
      CapturePreRoll();
    } else {
      StopPreRoll();
      StopLevelCheck();
    }
    try {
      recorder_.Keep(format, keepFrames);
      if (same) {
        preRoll_->keepMs = keepMs;
      } else {
        preRoll_ = PreRoll{Stream{format, nowMs_, 0}, keepMs};
      }
    } catch (const std::bad_alloc&) {
      call.result = errors_.Make(AudioError::OutOfMemory);
    }
  }
  return Log(std::move(call));
}

void SimulatedAudioEngine::StopPreRoll() {
  if (!preRoll_) {
    return;
  }
  CapturePreRoll();
  // The take it fed goes on with its stream.
  if (Device* take = Find(recorder_.HandOver())) {
    take->input = preRoll_->input;
  }
  preRoll_.reset();
}

void SimulatedAudioEngine::CapturePreRoll() {
  if (preRoll_) {
    recorder_.FeedKept(Due(preRoll_->input));
  }
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
