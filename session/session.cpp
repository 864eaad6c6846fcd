// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/session.h"

#include <QScopedValueRollback>
#include <memory>
#include <utility>

#include "session/handsfree_policy.h"
#include "session/manual_policy.h"

namespace voxtar::session {

namespace {

std::unique_ptr<SessionPolicy> PolicyFor(const SessionSettings& settings) {
  if (settings.handsFree) {
    return std::make_unique<HandsFreePolicy>();
  }
  return std::make_unique<ManualPolicy>();
}

}  // namespace

Session::Session(audio::AudioEngine& engine, audio::FailureReporter& reporter, Operator& person,
                 const QString& settingsFile, std::unique_ptr<SessionPolicy> policy)
    : operator_(person),
      engine_(engine),
      settingsFile_(settingsFile),
      keeper_(lesson_, person),
      flow_(lesson_, engine, this, reporter, settingsFile),
      settings_(SessionSettings::Load(settingsFile)),
      policy_(std::move(policy)),
      ownPolicy_(policy_ == nullptr) {
  if (ownPolicy_) {
    policy_ = PolicyFor(settings_);
  }
  lesson_.Reset();
  flow_.SetPreRoll(settings_.preRollMs);
}

// The flow closes a device still open and waits for a save still running.
Session::~Session() {
  engine_.SetCaptureListener(nullptr);
}

void Session::SetPolicy(std::unique_ptr<SessionPolicy> policy) {
  policy_ = std::move(policy);
}

// ---- The gate -------------------------------------------------------------------------------

void Session::Submit(CommandKind kind, std::function<void()> command) {
  if (saving()) {
    switch (kind) {
      case CommandKind::Record:
        return;  // "[STOP]" of a take that is stopped and being saved
      case CommandKind::Discard:
      case CommandKind::Lesson:
        held_.emplace_back([this, kind, command = std::move(command)] {
          policy_->OperatorTookOver(*this, kind);
          command();
        });
        return;
      case CommandKind::Window:
        break;
    }
  }
  if (commandRunning_) {
    return;
  }
  Execute([this, kind, &command] {
    policy_->OperatorTookOver(*this, kind);
    // The policy ended a take for it: the command waits for its save, as any command would.
    if (saving() && kind != CommandKind::Window) {
      held_.emplace_back(std::move(command));
      return;
    }
    command();
  });
}

void Session::Execute(const std::function<void()>& step) {
  {
    const QScopedValueRollback<bool> running(commandRunning_, true);
    step();
  }
  RunWaiting();
}

void Session::RunWaiting() {
  while (!commandRunning_) {
    std::function<void()> next;
    if (saveEnded_) {
      next = std::exchange(saveEnded_, {});
    } else if (!held_.empty() && !saving()) {
      next = std::move(held_.front());
      held_.pop_front();
    } else {
      return;
    }
    const QScopedValueRollback<bool> running(commandRunning_, true);
    next();
  }
}

RecordingFlow::SaveEnd Session::AfterSave(std::function<void(bool)> then) {
  return [this, then = std::move(then)](bool saved) {
    saveEnded_ = [then, saved] { then(saved); };
    RunWaiting();
  };
}

bool Session::event(QEvent* event) {
  if (event->type() == audio::PlaybackNotice::kType) {
    PlaybackDone();
    return true;
  }
  if (event->type() == audio::RecordingNotice::kType) {
    // It saves: not beside a command that waits on a box (that one may release the device), nor
    // before the commands that came before it.
    const audio::RecordingCode code = static_cast<const audio::RecordingNotice*>(event)->code();
    const auto handle = [this, code] { RecordingDone(code); };
    if (commandRunning_ || saving() || !held_.empty()) {
      held_.emplace_back(handle);
    } else {
      Execute(handle);
    }
    return true;
  }
  if (event->type() == audio::CaptureNotice::kType) {
    const auto& block = *static_cast<const audio::CaptureNotice*>(event);
    if (commandRunning_) {
      policy_->Heard(*this, block, false);
    } else {
      Execute([this, &block] { policy_->Heard(*this, block, !saving()); });
    }
    return true;
  }
  return QObject::event(event);
}

// ---- The commands ---------------------------------------------------------------------------

void Session::StoreTypedText() {
  if (lesson_.state == lesson::LessonState::NoLesson) {
    return;
  }
  if (!lesson_.CommitEditedText(operator_.TypedText())) {
    operator_.TellNoCurrentPrompt();
  }
  if (const lesson::PromptEntry* entry = lesson_.current()) {
    flow_.judge().TextChanged(static_cast<std::size_t>(lesson_.prompts.currentIndex),
                              std::u16string(entry->text));
  }
}

void Session::KeepOrDropUnsavedTake(const std::function<void()>& then) {
  const std::optional<RecordingFlow::UnsavedTake>& unsaved = flow_.unsavedTake();
  if (!unsaved) {
    then();
    return;
  }
  switch (operator_.AskAboutUnsavedTake(unsaved->name, unsaved->cause)) {
    case Operator::UnsavedTake::SaveAgain:
      SaveUnsavedTake([then](bool saved) {
        if (saved) {
          then();
        }
      });
      return;
    case Operator::UnsavedTake::Discard:
      flow_.DiscardUnsavedTake();
      then();
      return;
    case Operator::UnsavedTake::Cancel:
      return;
  }
}

void Session::SaveUnsavedTake(const std::function<void(bool)>& then) {
  const bool started = flow_.SaveUnsavedTake(AfterSave([this, then](bool saved) {
    if (saved) {
      lesson_.ClearEditMarker();
      emit displayChanged();
    }
    then(saved);
  }));
  if (!started) {
    then(true);  // nothing was left unsaved
  }
}

void Session::StepTo(const std::function<void()>& move, const std::function<void()>& then) {
  if (lesson_.state == lesson::LessonState::NoLesson) {
    return;
  }
  KeepOrDropUnsavedTake([this, move, then] {
    flow_.ReleaseDevice();
    StoreTypedText();
    move();
    emit displayChanged();
    if (then) {
      then();
    }
  });
}

void Session::Previous() {
  StepTo([this] { lesson_.StepBack(); });
}

void Session::Next() {
  StepTo([this] { lesson_.StepForward(); });
}

void Session::Goto() {
  // No lesson: the jump finds nothing and the empty display is shown again.
  KeepOrDropUnsavedTake([this] {
    flow_.ReleaseDevice();
    // What was typed is kept, as a step keeps it: a jump must not lose a correction.
    StoreTypedText();
    lesson_.GotoFirstPending();
    emit displayChanged();
  });
}

void Session::Play() {
  if (lesson_.state == lesson::LessonState::NoLesson) {
    return;
  }
  switch (flow_.mode()) {
    case AudioMode::Idle:
      if (!flow_.PrepareToPlay()) {
        return;
      }
      SetButtons(PlayButton::Playing, std::nullopt);
      flow_.StartPlaying();
      emit takePlaybackStarted();
      break;
    case AudioMode::Playing:
      SetButtons(PlayButton::Play, std::nullopt);
      flow_.StopPlaying();
      emit playbackStopped();
      break;
    case AudioMode::Recording:
      break;
  }
}

void Session::Record() {
  if (lesson_.state == lesson::LessonState::NoLesson) {
    return;
  }
  // Stored with the marker: the prompt still needs a take until one is saved, and a correction
  // survives a take that is abandoned or fails.
  StoreTypedText();
  policy_->Record(*this);
}

void Session::StartTake() {
  if (lesson_.readOnly() || flow_.mode() != AudioMode::Idle) {
    return;
  }
  // A new take would replace the unsaved one in the device.
  KeepOrDropUnsavedTake([this] {
    if (!flow_.PrepareToRecord()) {
      return;
    }
    SetButtons(std::nullopt, RecordButton::Stop);
    flow_.StartRecording();
  });
}

void Session::StopTake() {
  // With a margin after the stop, the take ends when its notice says it has it; a second press
  // ends it at once.
  if (flow_.finishing() || !flow_.BeginFinish(settings_.postRollMs)) {
    EndTake();
  }
}

void Session::EndTake() {
  if (!flow_.FinishRecording(AfterSave([this](bool saved) { TakeFinished(saved); }))) {
    TakeFinished(false);
  }
}

void Session::TakeFinished(bool saved) {
  // The marker goes with a saved take only: a prompt without one still needs recording.
  if (saved) {
    lesson_.ClearEditMarker();
  }
  SetButtons(PlayButton::Play, RecordButton::Record);
  emit takeEnded();
  emit displayChanged();
  policy_->TakeEnded(*this, {.saved = saved});
}

void Session::AdvanceAfterGoodTake() {
  if (lesson_.state == lesson::LessonState::NoLesson || flow_.mode() != AudioMode::Idle ||
      flow_.unsavedTake() || saving()) {
    return;
  }
  const std::optional<measures::Judgement> judgement =
      flow_.judge().Judge(static_cast<std::size_t>(lesson_.prompts.currentIndex));
  // A take that fails its check stays on its prompt, to be heard and recorded again.
  if (!judgement || !judgement->ok()) {
    return;
  }
  flow_.ReleaseDevice();
  StoreTypedText();
  lesson_.GotoNextPending();
  emit displayChanged();
}

void Session::ListenToInput(bool on) {
  engine_.SetCaptureListener(on ? this : nullptr);
}

void Session::ShowSitting(const SittingState& state) {
  if (state == sitting_) {
    return;
  }
  const bool takeDone = (sitting_.phase == SittingState::Phase::Recording ||
                         sitting_.phase == SittingState::Phase::Ending) &&
                        state.phase != SittingState::Phase::Recording &&
                        state.phase != SittingState::Phase::Ending;
  sitting_ = state;
  emit sittingChanged(takeDone);
}

void Session::DiscardTake() {
  if (flow_.mode() != AudioMode::Recording) {
    return;
  }
  flow_.DiscardRecording();
  SetButtons(PlayButton::Play, RecordButton::Record);
  emit takeEnded();
  emit displayChanged();
  policy_->TakeDiscarded(*this);
}

void Session::PlaybackDone() {
  SetButtons(PlayButton::Play, std::nullopt);
  flow_.PlaybackEnded();
  emit playbackStopped();
  // Not beside a command that waits on a box: that one decides where the window goes.
  if (!commandRunning_ && !saving()) {
    Execute([this] { policy_->PlaybackEnded(*this); });
  }
}

void Session::RecordingDone(std::optional<audio::RecordingCode> code) {
  if (code == audio::RecordingCode::Finished) {
    // The margin after "[STOP]" is in: the take ends as a stop ends it.
    if (flow_.mode() == AudioMode::Recording && lesson_.state != lesson::LessonState::NoLesson) {
      EndTake();
    }
    return;
  }
  SetButtons(std::nullopt, RecordButton::Ended);
  if (flow_.mode() == AudioMode::Idle || !flow_.device() ||
      lesson_.state == lesson::LessonState::NoLesson) {
    return;
  }
  const std::u16string name(lesson_.current()->name);
  const bool limitReached = code == audio::RecordingCode::LimitReached;
  const auto ended = [this, name, limitReached](bool saved) {
    // The marker stays on a prompt whose take was not saved: it still needs recording.
    if (saved && lesson_.ClearEditMarker()) {
      emit displayChanged();
    }
    if (saved && limitReached) {
      operator_.TellTakeFilledItsFile(name);
    }
    policy_->TakeEnded(*this, {.saved = saved, .byItself = true, .limitReached = limitReached});
  };
  if (!flow_.FinishRecording(AfterSave(ended))) {
    ended(false);
  }
}

void Session::Load(std::u16string_view chosenPath) {
  const std::optional<lesson::LoadOutcome> loaded = keeper_.Load(chosenPath);
  if (!loaded) {
    return;  // the operator left a lesson open elsewhere alone
  }
  if (loaded->result != lesson::LoadResult::Loaded) {
    operator_.TellNotLoaded(loaded->result, chosenPath, lesson_.IndexPath());
    return;
  }
  // Not for a lesson that may not be written: its own box said why.
  if (!loaded->saved && !lesson_.readOnly()) {
    operator_.TellIndexNotWritten(lesson_.IndexPath());
  }
  lesson_.ScanRecordedPrompts();
  std::string profileError;
  if (!flow_.LessonLoaded(&profileError)) {
    operator_.TellProfileUnreadable(profileError);
  }
  emit lessonLoaded();
  emit displayChanged();
}

void Session::UnloadThen(const std::function<void()>& then) {
  if (lesson_.state == lesson::LessonState::NoLesson) {
    then();
    return;
  }
  KeepOrDropUnsavedTake([this, then] {
    StoreTypedText();
    // Written before anything is released: a write that fails keeps the lesson, and the operator
    // decides (retry, discard the changes, or keep working).
    switch (keeper_.Save(true)) {
      case LessonKeeper::WriteBack::Written:
        break;
      case LessonKeeper::WriteBack::Discarded:
        lesson_.DiscardLesson();
        break;
      case LessonKeeper::WriteBack::Cancelled:
        return;
    }
    if (lesson_.state != lesson::LessonState::NoLesson) {
      lesson_.UnloadLesson();
    }
    flow_.ReleaseDevice();
    flow_.LessonUnloaded();
    keeper_.Released();
    emit lessonUnloaded();
    emit displayChanged();
    then();
  });
}

void Session::Save() {
  if (lesson_.state == lesson::LessonState::NoLesson) {
    return;
  }
  StoreTypedText();
  SaveUnsavedTake([this](bool) { keeper_.Save(false); });
}

void Session::UndoTake() {
  if (lesson_.state == lesson::LessonState::NoLesson || flow_.mode() != AudioMode::Idle) {
    return;
  }
  KeepOrDropUnsavedTake([this] { flow_.RestoreEarlierTake(1); });
}

void Session::NextFlagged() {
  if (lesson_.state == lesson::LessonState::NoLesson) {
    return;
  }
  const auto from = static_cast<std::size_t>(lesson_.prompts.currentIndex);
  if (const std::optional<std::size_t> next = flow_.judge().NextFlagged(from)) {
    StepTo([this, index = static_cast<std::int32_t>(*next)] { lesson_.MoveTo(index); },
           [this] { flow_.ShowCurrentJudgement(); });
  }
}

void Session::PlayEarlierTake() {
  if (!CanPlayEarlierTake()) {
    return;
  }
  if (const std::optional<std::u16string> path = flow_.MostRecentEarlierTake()) {
    PlayEarlierTake(*path);
  }
}

void Session::PlayEarlierTake(const std::u16string& path) {
  SetButtons(PlayButton::Playing, std::nullopt);
  flow_.PlayEarlierTake(path);
}

void Session::RestoreEarlierTake(int number) {
  KeepOrDropUnsavedTake([this, number] { flow_.RestoreEarlierTake(number); });
}

void Session::StopSound() {
  flow_.ReleaseDevice();
  flow_.StopLevelCheck();
}

// ---- State ----------------------------------------------------------------------------------

bool Session::CanUndoTake() const {
  return CanPlayEarlierTake() && !lesson_.readOnly();
}

bool Session::CanPlayEarlierTake() const {
  return lesson_.state != lesson::LessonState::NoLesson && flow_.mode() == AudioMode::Idle &&
         flow_.EarlierTakeCount() > 0;
}

bool Session::NeedsSave() const {
  // A correction still typed counts: Ctrl+S stores it first; so does an unsaved take.
  if (lesson_.readOnly()) {
    return false;
  }
  return lesson_.state == lesson::LessonState::Modified || flow_.unsavedTake().has_value() ||
         (lesson_.state != lesson::LessonState::NoLesson &&
          lesson_.CommitWouldChange(operator_.TypedText()));
}

void Session::SetSettings(const SessionSettings& settings) {
  const bool policyChanges = ownPolicy_ && settings.handsFree != settings_.handsFree;
  settings_ = settings;
  settings_.Save(settingsFile_);
  if (policyChanges) {
    // A command ends a sitting before it runs; this is for a change made otherwise.
    ListenToInput(false);
    ShowSitting({});
    if (mode() != AudioMode::Recording) {
      SetRecordButton(RecordButton::Record);
    }
    policy_ = PolicyFor(settings_);
  }
  if (sitting_.phase == SittingState::Phase::Off) {
    flow_.SetPreRoll(settings_.preRollMs);
  }
}

void Session::SetButtons(std::optional<PlayButton> play, std::optional<RecordButton> record) {
  if (play) {
    playButton_ = *play;
  }
  if (record) {
    recordButton_ = *record;
  }
  emit buttonsChanged();
}

}  // namespace voxtar::session
