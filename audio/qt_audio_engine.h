// The real audio engine: Qt Multimedia on the default audio devices (QAudioSink to play,
// QAudioSource to record), libsndfile for the WAV files.
//
// An open device holds its element in memory (the file's exact format and its frames); the file
// itself is only ever read. Playing streams the element's frames to a sink; the completion notice
// is posted only once the sink reports that the last frame has been played (its processed time
// reaches the played length), never at the sink's idle state, which comes while the tail is
// still buffered. Recording captures in the element's own format and overwrites the element from
// the start position on, extending it; a small capture buffer and a stream opened inside Record
// keep the first syllable. Saving writes the element atomically in its own format.
//
// Ownership: one engine per process (Engine()); it owns its devices, and each device owns its
// element, its sink or source and its timers. Sinks and sources are stopped at once and deleted
// later from the event loop, since deleting a Qt audio stream may process events. Threads: GUI
// thread only. The sound system's own threads never call into this class: Qt hands their
// results over through the GUI thread's event loop (timers, readyRead, stateChanged), so
// playback and recording only progress while that loop runs. Every wait is bounded.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "audio/audio_engine.h"
#include "audio/audio_errors.h"

namespace voxtar::audio {

class QtAudioEngine final : public QObject, public AudioEngine {
  Q_OBJECT

 public:
  explicit QtAudioEngine(QObject* parent = nullptr);
  ~QtAudioEngine() override;

  ErrorCode Open(std::u16string_view element, DeviceId* device) override;
  ErrorCode SetTimeFormatMilliseconds(DeviceId device) override;
  ErrorCode QueryLength(DeviceId device, std::uint32_t* lengthMs) override;
  ErrorCode Play(DeviceId device, std::uint32_t fromMs, std::optional<std::uint32_t> toMs,
                 QObject* notify) override;
  ErrorCode Record(DeviceId device, std::uint32_t fromMs) override;
  ErrorCode Stop(DeviceId device) override;
  ErrorCode Save(DeviceId device, std::u16string_view path) override;
  ErrorCode Close(DeviceId device) override;
  QString ErrorText(ErrorCode error) override;

  // When things happened on a device, for measuring latency (steady clock, nanoseconds; 0 when
  // it has not happened yet). Reset by each Play and each Record.
  struct Timings {
    std::int64_t recordCalled = 0;
    std::int64_t firstCapture = 0;         // the first captured bytes arrived
    std::uint64_t firstCaptureFrames = 0;  // how many frames they held
    std::uint64_t capturedFrames = 0;      // frames captured by the current or last recording
    std::int64_t playCalled = 0;
    std::int64_t soundStarted = 0;     // estimated instant the first frame was played
    std::int64_t lastFramePlayed = 0;  // the sink's processed time reached the played length
    std::int64_t noticePosted = 0;
    std::uint64_t playedFrames = 0;  // frames in the played range
  };
  Timings timings(DeviceId device) const;

 private:
  struct Device;

  Device* Find(DeviceId device);
  void Tick(DeviceId id);     // playback: feed the sink, detect the end
  void Pull(Device& device);  // recording: take what the source has captured
  void FinishPlayback(DeviceId id, Device& device, NotifyCode code);
  void EndRecording(Device& device);
  void OnSourceStateChanged(DeviceId id);

  std::map<DeviceId, std::unique_ptr<Device>> devices_;
  ErrorBook errors_;
  DeviceId nextId_ = 1;
};

}  // namespace voxtar::audio
