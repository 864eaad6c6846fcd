// SPDX-License-Identifier: GPL-3.0-or-later
// What the PulseAudio engine keeps for each open device, for the level check and for the kept-open
// input: the element in memory, its playback and its recording with their streams. Touched only
// under the main loop's lock, from either thread.
#pragma once

#include <pulse/pulseaudio.h>

#include <QPointer>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "audio/pulse_audio_engine.h"
#include "audio/take_recorder.h"
#include "audio/wave_element.h"

namespace voxtar::audio {

namespace pulse {

// An input that delivers nothing, or an output that asks for nothing, for this long is lost.
inline constexpr std::int64_t kStalledNs = 2'000'000'000;

}  // namespace pulse

struct PulseAudioEngine::Device {
  PulseAudioEngine* engine = nullptr;
  DeviceId id = 0;
  std::u16string path;
  std::string mediaName;  // UTF-8, what the streams are named after
  WaveElement element;
  Timings timings;

  // Playback. Starting: the stream is being set up (it may already take data); Running: the
  // sound plays; Finished: it ended and its notice is on its way to the GUI thread.
  enum class PlayState { Idle, Starting, Running, Finished };
  PlayState play = PlayState::Idle;
  pa_stream* output = nullptr;
  pa_operation* drain = nullptr;
  pa_operation* timing = nullptr;
  pa_time_event* tail = nullptr;  // waits out the output's latency after the drain
  QPointer<QObject> notify;       // GUI thread only
  NotifyCode finished = NotifyCode::Successful;
  std::uint64_t playSerial = 0;  // tells a late notice of an earlier playback apart
  std::uint64_t playNext = 0;    // next frame to hand to the server
  std::uint64_t playEnd = 0;     // frame after the last one to play
  bool draining = false;
  std::int64_t lastRequest = 0;  // when the server last asked for data
  std::int64_t deadline = 0;     // a playback still running then has failed

  // Recording: the stream the device captures with, for its own take, the level check or the
  // kept-open input; a take fed by the kept-open input has none until the input hands it over.
  enum class Role { Take, LevelCheck, KeptInput };
  enum class RecordState { Idle, Starting, Running };
  Role role = Role::Take;
  RecordState record = RecordState::Idle;  // of `input`
  pa_stream* input = nullptr;
  Take take;
  QPointer<QObject> recordNotify;       // GUI thread only
  std::optional<RecordingCode> notice;  // on its way to the GUI thread
};

}  // namespace voxtar::audio
