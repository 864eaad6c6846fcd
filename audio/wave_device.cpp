// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wave_device.h"

#include <QCoreApplication>
#include <QString>

namespace voxtar::audio {

namespace {

QString Wide(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

WaveDevice::WaveDevice(std::u16string_view path, QObject* notifyWindow, AudioEngine& engine,
                       FailureReporter& reporter)
    : fileName_(path.substr(0, kMaxFileNameLength)),
      notifyWindow_(notifyWindow),
      engine_(engine),
      reporter_(reporter) {
  // The whole path is opened even where the field keeps only its first 259 characters: opening
  // a cut path could open another file.
  DeviceId opened = 0;
  const ErrorCode error = engine_.Open(path, &opened);
  if (error != kNoError) {
    // The one box with swapped roles: the path as message, the cause as caption.
    reporter_.ReportFailure(Wide(path), ErrorText(error));
    return;
  }
  deviceId_ = opened;
  std::uint32_t length = 0;
  if (const ErrorCode status = engine_.QueryLength(deviceId_, &length); status != kNoError) {
    Report(status, QCoreApplication::translate("AudioError", "Wave Error"));
    return;
  }
  length_ = length;
  state_ = WaveState::Stopped;
}

void WaveDevice::Close() {
  if (deviceId_ == 0) {
    return;
  }
  if (const ErrorCode error = engine_.Close(deviceId_); error != kNoError) {
    Report(error, QCoreApplication::translate("AudioError", "Wave Error"));
  }
}

void WaveDevice::Play(std::uint32_t from, std::uint32_t to) {
  if (deviceId_ == 0 || state_ == WaveState::Playing) {
    return;
  }
  if (to > length_) {
    if (from > length_) {
      reporter_.ReportFailure(QCoreApplication::translate("AudioError", "Bad play parameter"),
                              QCoreApplication::translate("AudioError", "play"));
      return;
    }
    to = length_;
  }
  // A failed start is not reported: the operator sees that nothing plays.
  const std::optional<std::uint32_t> end =
      to != 0 ? std::optional<std::uint32_t>(to) : std::nullopt;
  if (engine_.Play(deviceId_, from, end, notifyWindow_) == kNoError) {
    state_ = WaveState::Playing;
  }
}

void WaveDevice::Record(std::uint32_t from) {
  if (state_ == WaveState::Recording) {
    if (const ErrorCode error = engine_.Stop(deviceId_); error != kNoError) {
      Report(error, QCoreApplication::translate("AudioError", "Error"));
    }
    state_ = WaveState::Stopped;
  }
  if (const ErrorCode error = engine_.Record(deviceId_, from, notifyWindow_); error != kNoError) {
    Report(error, QCoreApplication::translate("AudioError", "Error"));
    return;
  }
  state_ = WaveState::Recording;
}

void WaveDevice::Stop() {
  if (deviceId_ == 0 || state_ == WaveState::Stopped) {
    return;
  }
  if (const ErrorCode error = engine_.Stop(deviceId_); error != kNoError) {
    Report(error, QCoreApplication::translate("AudioError", "Wave Stop Error"));
    return;
  }
  state_ = WaveState::Stopped;
}

std::uint64_t WaveDevice::CapturedFrames() const {
  return deviceId_ == 0 ? 0 : engine_.CapturedFrames(deviceId_);
}

std::shared_ptr<const WaveElement> WaveDevice::Content() const {
  return deviceId_ != 0 ? engine_.Content(deviceId_) : nullptr;
}

QString WaveDevice::ErrorText(ErrorCode error) const {
  // Whole: a long path must not hide the cause behind it.
  return engine_.ErrorText(error);
}

void WaveDevice::Report(ErrorCode error, const QString& caption) const {
  reporter_.ReportFailure(ErrorText(error), caption);
}

}  // namespace voxtar::audio
