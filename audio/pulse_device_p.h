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

#include "audio/capture_ring.h"
#include "audio/pulse_audio_engine.h"
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

  // Recording. A take either has a stream of its own (input) or is fed by the kept-open input.
  enum class RecordState { Idle, Starting, Running };
  RecordState record = RecordState::Idle;
  pa_stream* input = nullptr;
  std::uint64_t recordNext = 0;                        // frame the next captured frame overwrites
  std::uint64_t recordEnd = 0;                         // the take limit: no frame from here on
  std::uint64_t finishAt = UINT64_MAX;                 // the end of a finishing take's last frames
  std::uint64_t pressFrame = 0;                        // where Record was called
  bool takeOpen = false;                               // recorded since the last Stop
  QPointer<QObject> recordNotify;                      // GUI thread only
  std::optional<RecordingCode> notice;                 // on its way to the GUI thread
  bool noticeGiven = false;                            // the take has had its one notice
  std::vector<std::byte> partial;                      // captured bytes short of a whole frame
  std::int64_t lastCapture = 0;                        // when captured data last came in
  std::optional<std::pair<AudioError, QString>> lost;  // told by the next Stop
  bool measureOnly = false;  // the level check: captured blocks are measured, not kept

  // The kept-open input: captured blocks go to the ring and to the take it feeds, if any.
  bool keeps = false;
  CaptureRing ring;
  Device* feeds = nullptr;
  Device* fedBy = nullptr;  // the take's side of `feeds`

  bool finishing() const { return finishAt != UINT64_MAX; }
  // Takes in captured bytes; false once the take is full or finished. Throws std::bad_alloc when
  // there is no memory for them.
  bool Capture(const std::byte* data, std::size_t size);
  // Writes whole captured frames into the take, as many as it has room for; false once it is
  // full or finished. Throws std::bad_alloc.
  bool Store(std::span<const std::byte> frames);
};

}  // namespace voxtar::audio
