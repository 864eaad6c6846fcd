// SPDX-License-Identifier: GPL-3.0-or-later
// One audio device bound to one WAV file (the element): plays it, records over it, stops and
// saves. Operations return nothing to speak of: each failure goes to the FailureReporter (a box
// without owner window), and the object's state stays as it was.
//
// Ownership: created with new by its owner (the main dialog) and deleted by it after Close.
// Destruction does no audio work. Threads: GUI thread only; playback and recording run in the
// engine, and the end of a playback comes back as a PlaybackNotice posted to notifyWindow, a
// recording that stopped capturing by itself (a full take) as a RecordingNotice.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "audio/audio_engine.h"
#include "audio/failure_reporter.h"

class QObject;

namespace voxtar::audio {

enum class WaveState : std::uint32_t { Stopped = 1, Playing = 2, Recording = 4 };

class WaveDevice {
 public:
  static constexpr std::size_t kMaxFileNameLength = 259;

  // Opens the element: the device and its length.
  WaveDevice(std::u16string_view path, QObject* notifyWindow, AudioEngine& engine,
             FailureReporter& reporter);
  WaveDevice(const WaveDevice&) = delete;
  WaveDevice& operator=(const WaveDevice&) = delete;

  void Close();
  void Play(std::uint32_t from, std::uint32_t to);
  void Record(std::uint32_t from);
  void Stop();
  // The sound as it stands, never changed afterwards (see AudioEngine::Content); null when the
  // device did not open.
  std::shared_ptr<const WaveElement> Content() const;
  // Frames the last recording captured.
  std::uint64_t CapturedFrames() const;

  const std::u16string& fileName() const { return fileName_; }
  QObject* notifyWindow() const { return notifyWindow_; }
  std::uint32_t length() const { return length_; }
  WaveState state() const { return state_; }
  DeviceId deviceId() const { return deviceId_; }

 private:
  // The engine's text of an error, whole.
  QString ErrorText(ErrorCode error) const;
  // The general failure box: the error text as message, the operation's caption.
  void Report(ErrorCode error, const QString& caption) const;

  std::u16string fileName_;
  QObject* notifyWindow_ = nullptr;
  std::uint32_t length_ = 0;
  WaveState state_ = WaveState::Stopped;
  DeviceId deviceId_ = 0;
  AudioEngine& engine_;
  FailureReporter& reporter_;
};

}  // namespace voxtar::audio
