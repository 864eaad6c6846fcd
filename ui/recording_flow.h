// What the main dialog does with sound, without its widgets: the AudioMode and the one WaveDevice
// (opened for Play on the prompt file, for Record on the template recording, released on every
// move and unload), stopping a take and saving it as the prompt file with MarkRecorded, the take
// check of what was saved, the level check, and the choice of input and output device kept in
// the user's settings. The dialog sequences these steps with its own texts and refreshes; what
// the strip right of "Goto" shows comes out of here as signals.
//
// Ownership: the dialog owns the flow and the Lesson it works on; the engine outlives both.
// Threads: GUI thread only. The flow is the engine's level listener while it exists.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_engine.h"
#include "audio/failure_reporter.h"
#include "audio/level_meter.h"
#include "audio/take_check.h"
#include "audio/wave_device.h"
#include "lesson/lesson.h"

namespace voxtar {

// What the dialog's WaveDevice is doing.
enum class AudioMode : std::int32_t { Idle = 0, Playing = 1, Recording = 2 };

class RecordingFlow : public QObject {
  Q_OBJECT

 public:
  // `notifyWindow` receives the devices' playback notices; `reporter` shows the devices' failures
  // and the flow's own refusals (a prompt name it will not use); `settingsFile` keeps the device
  // choice (empty: the choice lasts for this run only). The remembered choice goes to the engine
  // at once.
  RecordingFlow(Lesson& lesson, audio::AudioEngine& engine, QObject* notifyWindow,
                audio::FailureReporter& reporter, QString settingsFile);
  ~RecordingFlow() override;

  AudioMode mode() const { return mode_; }
  audio::WaveDevice* device() const { return device_.get(); }

  // Closes and deletes the device; AudioMode Idle. A recording in progress is dropped.
  void ReleaseDevice();

  // "Play" while idle, in two steps around the button text: the prompt file's device (kept when
  // one exists); false (after its box) when the prompt name is refused. Then the playback.
  bool PrepareToPlay();
  void StartPlaying();
  // "Play" while playing: stops the device, keeps it; Idle.
  void StopPlaying();
  // The end of a playback: a running device stops (kept); Idle.
  void PlaybackEnded();

  // "Record" while idle, in two steps around the button text: false (after its box) when the
  // take could not be saved under the prompt's name; otherwise a new device on the template
  // recording replaces the old one. Then the recording, on an empty meter.
  bool PrepareToRecord();
  void StartRecording();
  // Stops the recording and saves it as the prompt file, marks the prompt recorded and checks
  // the take; Idle. True when a take was saved.
  bool FinishRecording();

  // The level check in the template recording's format; false (after its box) when it could not
  // start. Ended by StopLevelCheck, a recording, a playback and the flow's end.
  bool StartLevelCheck();
  void StopLevelCheck();
  bool levelCheckRunning() const;

  // The sound system's inputs or outputs, and the one in use: the remembered choice when the
  // sound system has it, else empty (the system default).
  std::vector<audio::SoundDevice> Devices(audio::Direction direction) const;
  std::string DeviceInUse(audio::Direction direction,
                          const std::vector<audio::SoundDevice>& devices) const;
  // Chooses a device by the sound system's name (empty: the system default) from the next
  // stream on, and remembers it in the settings.
  void ChooseDevice(audio::Direction direction, const std::string& name);

 signals:
  // A recording or the level check starts: an empty meter, the clip mark off.
  void meterStarted();
  void levelCaptured(const voxtar::audio::LevelSummary& summary);
  // The take just saved was checked.
  void takeChecked(const voxtar::audio::TakeCheck& check);
  // Nothing to show: the level check ended, or the device was released.
  void stripCleared();

 protected:
  bool event(QEvent* event) override;

 private:
  // The current prompt's file path, or nothing (after its box) when the name would lead out of
  // the prompt directory.
  std::optional<std::u16string> CheckedPromptFilePath();
  bool StopAndSaveTake();
  void CheckSavedTake(const std::u16string& path);
  // Ends the level check before a device plays or records.
  void EndLevelCheckFor(bool clearStrip);

  Lesson& lesson_;
  audio::AudioEngine& engine_;
  QObject* notifyWindow_;
  audio::FailureReporter& reporter_;
  QString settingsFile_;
  AudioMode mode_ = AudioMode::Idle;
  std::unique_ptr<audio::WaveDevice> device_;
  std::optional<audio::CaptureFormat> templateFormat_;
};

}  // namespace voxtar
