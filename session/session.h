// SPDX-License-Identifier: GPL-3.0-or-later
// A recording session without its window: the one Lesson and its file's keeper, the recording
// flow with the one WaveDevice, the session settings, and the commands the operator gives (the
// steps, Play and Record, loading and unloading, saving, the take history). The window forwards
// its commands here and shows what the signals say changed; what happens between commands (a
// take's end, a playback's end) is the policy's to decide.
//
// Commands come in through Submit, one at a time:
// - While a command waits on the operator (a box without owner leaves the window usable), a
//   further command is refused: it would release the device or the lesson from under the one
//   waiting. A recording notice that comes meanwhile is taken once that command is done.
// - While a take is being saved (off the GUI thread), commands of the lesson wait and run in
//   order once the save is over, so nothing is done to a take before it is saved; "Record" means
//   "[STOP]" then, and the take is already stopped, so it is ignored; a command with a window of
//   its own that touches nothing of the lesson runs at once.
// Work a command leaves to a save (a step after "Save again", the write after Ctrl+S) goes on
// when the save is over, as part of that command.
//
// The order of load and unload: an unload first keeps or drops an unsaved take, stores the typed
// text and writes the lesson back (asking when that fails), and only then releases the lesson,
// the device and the lock; a load takes the lock, reads the lesson, finds its takes and starts
// judging them.
//
// Ownership: the window (or a test) owns the Session; the engine, the reporter and the Operator
// outlive it. The Session is the notify object of its devices. Threads: GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "audio/audio_engine.h"
#include "audio/failure_reporter.h"
#include "lesson/lesson.h"
#include "session/lesson_keeper.h"
#include "session/operator.h"
#include "session/recording_flow.h"
#include "session/session_policy.h"
#include "session/session_settings.h"

namespace voxtar::session {

class Session : public QObject {
  Q_OBJECT

 public:
  // What "Play" and "Record" say: "Play" / "<Playing>"; "Record" / "[STOP]" / "<Record>" (set
  // by a recording that ended by itself).
  enum class PlayButton { Play, Playing };
  enum class RecordButton { Record, Stop, Ended };

  // `reporter` tells the devices' failures; `person` is asked and told what the session cannot
  // decide alone; `settingsFile` keeps the settings and the device choice (empty: for this run
  // only); `policy` runs it (null: the one the settings ask for, manual or hands-free, and again
  // whenever SetSettings changes that).
  Session(audio::AudioEngine& engine, audio::FailureReporter& reporter, Operator& person,
          const QString& settingsFile, std::unique_ptr<SessionPolicy> policy);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Another policy runs the session from the next command or notice on (not null). Not from
  // within a call of the policy it replaces.
  void SetPolicy(std::unique_ptr<SessionPolicy> policy);

  // ---- The gate ----
  // Runs `command` now, holds it until the take's save is over, or refuses it (see above).
  void Submit(CommandKind kind, std::function<void()> command);
  // A take's save is running: commands of the lesson wait.
  bool saving() const { return flow_.saving(); }

  // ---- The commands (through Submit) ----
  // "<<" and ">>": the device released, the typed text stored, then the step.
  void Previous();
  void Next();
  // "Goto": the first pending prompt; the typed text is kept as a step keeps it.
  void Goto();
  // "Play": plays the prompt's take, or stops the playback.
  void Play();
  // "Record": stores the typed text, then as the policy says.
  void Record();
  // Ctrl+Shift+R: ends the recording in progress keeping nothing.
  void DiscardTake();
  // Loads the lesson at `chosenPath` (no lesson may be loaded), telling what did not go well.
  void Load(std::u16string_view chosenPath);
  // Unloads the lesson (see above), then runs `then`; at once when none is loaded. Without
  // `then` when the operator kept the lesson (a question about an unsaved take or a failed
  // write was cancelled).
  void UnloadThen(const std::function<void()>& then);
  // Ctrl+S: stores the typed text, saves an unsaved take again, writes a Modified lesson.
  void Save();
  // Ctrl+Alt+Z: the prompt's most recent earlier take becomes its take again (again: back).
  void UndoTake();
  // F3: the next prompt whose take fails its check or is unlike the lesson.
  void NextFlagged();
  // Ctrl+Shift+P: plays the prompt's most recent earlier take; or the earlier take at `path`.
  void PlayEarlierTake();
  void PlayEarlierTake(const std::u16string& path);
  // Earlier take `number` (1: the most recent) becomes the prompt's take.
  void RestoreEarlierTake(int number);
  // The window closes: no sound goes on without it.
  void StopSound();

  // ---- The notices (also for anyone who handles them in place of the notify object) ----
  void PlaybackDone();
  // A recording ended by itself (`code`; none: it is not known why) or, with Finished, has the
  // margin after "[STOP]" in.
  void RecordingDone(std::optional<audio::RecordingCode> code);

  // ---- What a policy does with the session ----
  // Starts a take of the current prompt (after the question about an unsaved take); nothing when
  // the lesson is read-only or the take could not be saved.
  void StartTake();
  // Ends the take being recorded: after the capture margin when there is one, else at once.
  void StopTake();
  // Ends the take now: it is saved, and the policy hears of it when that is over.
  void EndTake();
  // Moves on to the next pending prompt when the current one's take passed its check (and
  // nothing plays, records or waits to be saved).
  void AdvanceAfterGoodTake();
  // The policy hears what the input captures (Heard), or stops hearing it.
  void ListenToInput(bool on);
  // "Record" reads as the policy says (a sitting keeps "[STOP]" between its takes).
  void SetRecordButton(RecordButton record) { SetButtons(std::nullopt, record); }
  // What the sitting is doing, for the window.
  void ShowSitting(const SittingState& state);
  const SittingState& sitting() const { return sitting_; }

  // ---- The enabling of the commands no control bears ----
  bool hasLesson() const { return lesson_.state != lesson::LessonState::NoLesson; }
  bool recording() const { return mode() == AudioMode::Recording; }
  bool CanUndoTake() const;
  bool CanPlayEarlierTake() const;
  // A Modified lesson, an unsaved take, or a typed correction not yet stored.
  bool NeedsSave() const;

  // ---- What is shown ----
  lesson::Lesson& lesson() { return lesson_; }
  const lesson::Lesson& lesson() const { return lesson_; }
  RecordingFlow& flow() { return flow_; }
  const RecordingFlow& flow() const { return flow_; }
  AudioMode mode() const { return flow_.mode(); }
  PlayButton playButton() const { return playButton_; }
  RecordButton recordButton() const { return recordButton_; }
  const SessionSettings& settings() const { return settings_; }
  // Applies and remembers the settings.
  void SetSettings(const SessionSettings& settings);

 signals:
  // The lesson, its current prompt or its takes changed: the display is to be brought in line.
  void displayChanged();
  // playButton() or recordButton() changed.
  void buttonsChanged();
  // A lesson was loaded (and can be recorded unless read-only), or unloaded.
  void lessonLoaded();
  void lessonUnloaded();
  // The prompt's own take started playing; a playback stopped or ended.
  void takePlaybackStarted();
  void playbackStopped();
  // A take ended (saved or not) or was discarded: what was recorded live gives way.
  void takeEnded();
  // sitting() changed; `takeDone`: a take of the sitting has just ended (for its tick).
  void sittingChanged(bool takeDone);

 protected:
  bool event(QEvent* event) override;

 private:
  // Runs `step` as a command: further commands are refused until it returns, then what waited
  // runs.
  void Execute(const std::function<void()>& step);
  // Runs what waited: the end of a save first, then the held commands and notices in order.
  void RunWaiting();
  // The end of a save, on the GUI thread: run now, or once the command running is done.
  RecordingFlow::SaveEnd AfterSave(std::function<void(bool saved)> then);
  // Stores the typed text into the current prompt (CommitEditedText).
  void StoreTypedText();
  // Before anything drops the unsaved take: saves it again, discards it, or keeps it as the
  // operator chooses; `then` runs once it is saved or discarded.
  void KeepOrDropUnsavedTake(const std::function<void()>& then);
  // Saves the unsaved take again; `then` hears whether it is saved now.
  void SaveUnsavedTake(const std::function<void(bool saved)>& then);
  // Moves as a step does (the device released, the typed text stored), then `then`.
  void StepTo(const std::function<void()>& move, const std::function<void()>& then = {});
  // The end of a take ended by Record.
  void TakeFinished(bool saved);
  void SetButtons(std::optional<PlayButton> play, std::optional<RecordButton> record);

  Operator& operator_;
  audio::AudioEngine& engine_;
  QString settingsFile_;
  lesson::Lesson lesson_;
  LessonKeeper keeper_;
  RecordingFlow flow_;
  SessionSettings settings_;
  std::unique_ptr<SessionPolicy> policy_;
  bool ownPolicy_ = false;  // chosen by the settings
  SittingState sitting_;
  PlayButton playButton_ = PlayButton::Play;
  RecordButton recordButton_ = RecordButton::Record;
  bool commandRunning_ = false;
  // Commands and notices that came while a take was being saved, or notices that came while a
  // command ran.
  std::deque<std::function<void()>> held_;
  // The end of a save that came while a command ran.
  std::function<void()> saveEnded_;
};

}  // namespace voxtar::session
