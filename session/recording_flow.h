// SPDX-License-Identifier: GPL-3.0-or-later
// What the main dialog does with sound, without its widgets: the AudioMode and the one WaveDevice
// (opened for Play on the prompt file, for Record on the template recording, released on every
// move and unload), stopping a take and saving it as the prompt file with MarkRecorded, the
// judgement of what was saved against the delivery profile, the level check, and the choice of
// input and output device kept in the user's settings. The session sequences these steps; what
// the strip right of "Goto" shows comes out of here as signals.
//
// Nothing recorded is lost: a save keeps the take it replaces in the take history (Undo take,
// Earlier takes); a take whose save failed stays in memory as the unsaved take until it is saved
// again or knowingly discarded (the session asks before anything would drop it); a take that
// captured nothing is not saved over a good one. Writing and measuring a take run off the GUI
// thread; the save's end comes back to whoever asked for it, and until then saving() holds.
//
// Ownership: the session owns the flow and the Lesson it works on; the engine outlives both.
// Threads: GUI thread only (the save's worker touches no member). The flow is the engine's level
// listener while it exists.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_engine.h"
#include "audio/failure_reporter.h"
#include "audio/level_meter.h"
#include "audio/wave_device.h"
#include "history/take_history.h"
#include "lesson/lesson.h"
#include "measures/judgement.h"
#include "session/lesson_judge.h"
#include "session/off_thread.h"

namespace voxtar::session {

// What the dialog's WaveDevice is doing.
enum class AudioMode : std::int32_t { Idle = 0, Playing = 1, Recording = 2 };

class RecordingFlow : public QObject {
  Q_OBJECT

 public:
  // `notifyWindow` receives the devices' playback notices; `reporter` shows the devices' failures
  // and the flow's own refusals (a prompt name it will not use); `settingsFile` keeps the device
  // choice (empty: the choice lasts for this run only). The remembered choice goes to the engine
  // at once.
  RecordingFlow(lesson::Lesson& lesson, audio::AudioEngine& engine, QObject* notifyWindow,
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
  // take could not be saved (a refused prompt name, a prompt directory that cannot be made or
  // written, a take linked outside the working directory, a template format no file can hold),
  // so that nobody speaks a take that is lost; otherwise a new device on the template recording
  // replaces the old one. Then the recording, on an empty meter.
  bool PrepareToRecord();
  void StartRecording();
  // The press of "[STOP]" with a capture margin after it: the recording goes on for `afterMs`
  // more, and its RecordingNotice (Finished) comes when it has them, for FinishRecording. False
  // when there is no margin or the take cannot run on: FinishRecording now.
  bool BeginFinish(std::uint32_t afterMs);
  bool finishing() const { return finishing_; }
  // Ends the recording in progress keeping nothing: the prompt's take stays as it was; Idle.
  void DiscardRecording();
  // What comes of a save, on the GUI thread: true when the take is saved.
  using SaveEnd = std::function<void(bool saved)>;
  // Stops the recording (Idle) and saves it as the prompt file (the take it replaces kept in the
  // history), marks the prompt recorded and judges the take. False when there is nothing to save:
  // a recording that never started, or a take that captured nothing (the strip says so). Else
  // the save runs off the GUI thread and `end` comes when it is over; a take whose save failed
  // (its box tells why) becomes the unsaved take.
  bool FinishRecording(SaveEnd end);
  // A take's save is running.
  bool saving() const { return saver_.running(); }

  // Where Record and Stop were pressed in the last take saved, in ms from its start (a take with
  // a lead-in begins before Record); none when unknown.
  struct Marks {
    std::optional<std::uint32_t> recordMs;
    std::optional<std::uint32_t> stopMs;
  };
  const Marks& lastMarks() const { return marks_; }

  // A take whose save failed, kept until it is saved or discarded.
  struct UnsavedTake {
    std::int32_t index = 0;  // of its prompt
    std::u16string name;
    std::shared_ptr<const audio::WaveElement> content;
    std::string cause;  // why, worded for the operator (UTF-8)
  };
  const std::optional<UnsavedTake>& unsavedTake() const { return unsaved_; }
  // Saves the unsaved take again, off the GUI thread; `end` says whether it is saved now (else
  // its box told why again). False, and no `end`, when there is no unsaved take.
  bool SaveUnsavedTake(SaveEnd end);
  void DiscardUnsavedTake();

  // The current prompt's earlier takes, most recent first, each with its judgement by the
  // profile (alone); how many there are, cheaply.
  struct EarlierTake {
    history::EarlierTake take;
    std::optional<measures::Judgement> judgement;
  };
  std::vector<EarlierTake> EarlierTakes();
  int EarlierTakeCount() const;
  // Earlier take `number` (1: the most recent) becomes the current prompt's take; the take it
  // replaces joins the history, so restoring 1 twice swaps back. False after its box.
  bool RestoreEarlierTake(int number);
  // Plays an earlier take of the current prompt; the device is released when it ends, so "Play"
  // plays the prompt's own take again.
  void PlayEarlierTake(const std::u16string& path);
  // The current prompt's most recent earlier take; none without one.
  std::optional<std::u16string> MostRecentEarlierTake() const;

  // The lesson was loaded or unloaded: the judgement of its takes starts (false, with the profile
  // file's error, when the delivery profile cannot be read) or stops.
  bool LessonLoaded(std::string* profileError);
  void LessonUnloaded();
  LessonJudge& judge() { return judge_; }
  // The current prompt's take judged again (after a restore, or when measures came in).
  void ShowCurrentJudgement();

  // The level check in the template recording's format; false (after its box) when it could not
  // start. Ended by StopLevelCheck, a recording, a playback and the flow's end.
  bool StartLevelCheck();
  void StopLevelCheck();
  bool levelCheckRunning() const;

  // The capture margin before Record: while a lesson that can be recorded is loaded, the input
  // stays open keeping the last `ms` (0: off) for the next take, and the meter shows it.
  void SetPreRoll(std::uint32_t ms);
  bool preRollRunning() const;

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
  // A recording starts in this format.
  void recordingStarted(const voxtar::audio::CaptureFormat& format);
  void levelCaptured(const voxtar::audio::LevelSummary& summary);
  // The take just saved, as judged against the profile (alone and within the lesson).
  void takeJudged(const voxtar::measures::Judgement& judgement);
  // Something to say in the strip instead of a judgement ("the take is not saved").
  void stripMessage(const QString& text, voxtar::measures::Severity severity);
  // Nothing to show: the level check ended, or the device was released.
  void stripCleared();

 protected:
  bool event(QEvent* event) override;

 private:
  // The current prompt's file path, or nothing (after its box) when the name would lead out of
  // the prompt directory.
  std::optional<std::u16string> CheckedPromptFilePath();
  // Saves `take` as its prompt's file off the GUI thread and judges it, with `marks` for the
  // take saved; an unsaved take on failure.
  void SaveTake(UnsavedTake take, Marks marks, SaveEnd end);
  history::TakeHistory History() const;
  // Ends the level check before a device plays or records.
  void EndLevelCheckFor(bool clearStrip);
  // The template recording's format, read once; none (after its box) when it cannot be read.
  std::optional<audio::CaptureFormat> TemplateFormat(const QString& boxCaption);
  // Keeps the input open, or closes it, as the setting and the lesson ask.
  void ApplyPreRoll(bool lengthChanged = false);
  // The strip with nothing of a take to say: the input while it is kept open, else empty.
  void ClearStrip();

  lesson::Lesson& lesson_;
  audio::AudioEngine& engine_;
  QObject* notifyWindow_;
  audio::FailureReporter& reporter_;
  QString settingsFile_;
  AudioMode mode_ = AudioMode::Idle;
  std::unique_ptr<audio::WaveDevice> device_;
  std::optional<audio::CaptureFormat> templateFormat_;
  std::optional<UnsavedTake> unsaved_;
  bool playingEarlier_ = false;  // the device holds an earlier take, not the prompt's own
  bool finishing_ = false;       // recording on after "[STOP]" for the margin
  std::optional<std::uint64_t> stopFrame_;  // where "[STOP]" was pressed in the take
  Marks marks_;
  std::uint32_t preRollMs_ = 0;
  bool lessonOpen_ = false;  // a lesson that can be recorded is loaded
  LessonJudge judge_;
  OffThread saver_;  // the take being saved; its end outlives no member
};

}  // namespace voxtar::session
