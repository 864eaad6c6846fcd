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

ErrorCode SimulatedAudioEngine::SetTimeFormatMilliseconds(DeviceId device) {
  return Run(NewCall(Command::SetTimeFormat, device), [](Device& found) {
    found.timeFormatSet = true;
    return kNoError;
  });
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
    }
    levelCheck_.reset();
    found.recording = true;
    found.streamDevice = DeviceFor(Direction::Input);
    found.recordStart = nowMs_;
    found.recordAt = found.element.FramesAt(fromMs);
    found.recordedFrames = 0;
    found.recordEnd = found.element.MaxFrames(takeLimitBytes_);
    found.recordNotify = notify;
    found.lostError = kNoError;
    return kNoError;
  });
}

ErrorCode SimulatedAudioEngine::Stop(DeviceId device) {
  return Run(NewCall(Command::Stop, device), [&](Device& found) {
    if (found.playing) {
      EndPlayback(device, found, NotifyCode::Aborted);
    }
    if (found.recording) {
      found.recordNotify = nullptr;  // stopped, not stopping by itself
      Capture(device, found);
      found.recording = false;
    }
    return std::exchange(found.lostError, kNoError);
  });
}

ErrorCode SimulatedAudioEngine::Save(DeviceId device, std::u16string_view path) {
  Call call = NewCall(Command::Save, device);
  call.path = std::u16string(path);
  return Run(std::move(call), [&](Device& found) {
    if (found.recording) {
      Capture(device, found);
    }
    std::string error;
    if (!WriteWaveFile(found.element, path, &error, {}, takeLimitBytes_)) {
      return errors_.Make(AudioError::CannotWrite, QString::fromStdString(error));
    }
    return kNoError;
  });
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
    const CaptureFormat& format = levelCheck_->format;
    const std::uint64_t due =
        (nowMs_ - levelCheck_->startMs) * static_cast<std::uint64_t>(format.sampleRate) / 1000u;
    if (due > levelCheck_->frames) {
      PostLevel(
          ToneFrames(format.kind, format.sampleRate, format.channels, levelCheck_->frames, due),
          format.kind, format.channels);
      levelCheck_->frames = due;
    }
  }
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
  if (found->recording) {
    Capture(device, *found);
    found->recording = false;
    found->lostError = errors_.Make(AudioError::InputFailed);
  }
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
                                                        std::uint64_t from,
                                                        std::uint64_t to) const {
  const std::size_t sampleBytes = BytesPerSample(kind);
  const auto count = static_cast<std::size_t>(channels);
  std::vector<std::byte> bytes(static_cast<std::size_t>(to - from) * sampleBytes * count);
  std::byte* at = bytes.data();
  for (std::uint64_t n = from; n < to; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double value = toneAmplitude_ * std::sin(2.0 * std::numbers::pi * toneFrequency_ * t);
    for (std::size_t c = 0; c < count; ++c) {
      EncodeSample(kind, value, at);
      at += sampleBytes;
    }
  }
  return bytes;
}

void SimulatedAudioEngine::PostLevel(const std::vector<std::byte>& bytes, SampleKind kind,
                                     int channels) {
  if (levelListener_ != nullptr && !bytes.empty()) {
    QCoreApplication::postEvent(levelListener_,
                                new LevelNotice(SummarizeBlock(bytes, channels, kind)));
  }
}

void SimulatedAudioEngine::Capture(DeviceId id, Device& device) {
  WaveElement& element = device.element;
  const std::uint64_t room =
      device.recordEnd > device.recordAt ? device.recordEnd - device.recordAt : 0;
  const std::uint64_t due = std::min(
      room, (nowMs_ - device.recordStart) * static_cast<std::uint64_t>(element.sampleRate) / 1000u);
  if (due > device.recordedFrames) {
    const std::vector<std::byte> bytes =
        ToneFrames(element.kind, element.sampleRate, element.channels, device.recordedFrames, due);
    try {
      if (std::exchange(failNextCapture_, false)) {
        throw std::bad_alloc();
      }
      element.Overwrite(device.recordAt + device.recordedFrames, bytes.data(), bytes.size());
    } catch (const std::bad_alloc&) {
      device.recording = false;
      device.lostError = errors_.Make(AudioError::OutOfMemory, OutOfMemoryCutText());
      return;
    }
    device.recordedFrames = due;
    PostLevel(bytes, element.kind, element.channels);
  }
  if (due == room) {
    device.recording = false;
    if (device.recordNotify != nullptr) {
      QCoreApplication::postEvent(device.recordNotify,
                                  new RecordingNotice(RecordingCode::LimitReached, id));
    }
  }
}

ErrorCode SimulatedAudioEngine::StartLevelCheck(const CaptureFormat& format) {
  if (format.sampleRate <= 0 || format.channels <= 0) {
    return errors_.Make(AudioError::UnsupportedFormat);
  }
  levelCheck_ = LevelCheck{format, nowMs_, 0};
  return kNoError;
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
