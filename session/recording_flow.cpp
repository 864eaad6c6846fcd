// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/recording_flow.h"

#include <QSettings>
#include <algorithm>

#include "audio/wave_element.h"
#include "lesson/lesson_paths.h"
#include "lesson/working_directory.h"
#include "measures/take_measures.h"
#include "platform/file_system.h"
#include "session/failure_texts.h"

namespace voxtar::session {

namespace {

QString SettingsKey(audio::Direction direction) {
  return direction == audio::Direction::Input ? QStringLiteral("sound/inputDevice")
                                              : QStringLiteral("sound/outputDevice");
}

constexpr audio::Direction kDirections[] = {audio::Direction::Input, audio::Direction::Output};

}  // namespace

RecordingFlow::RecordingFlow(lesson::Lesson& lesson, audio::AudioEngine& engine,
                             QObject* notifyWindow, audio::FailureReporter& reporter,
                             QString settingsFile)
    : lesson_(lesson),
      engine_(engine),
      notifyWindow_(notifyWindow),
      reporter_(reporter),
      settingsFile_(std::move(settingsFile)) {
  if (!settingsFile_.isEmpty()) {
    const QSettings settings(settingsFile_, QSettings::IniFormat);
    for (audio::Direction direction : kDirections) {
      // A remembered device that is gone by now is the engine's to replace with the default.
      engine_.ChooseDevice(direction,
                           settings.value(SettingsKey(direction)).toString().toStdString());
    }
  }
  engine_.SetLevelListener(this);
  // The check against its text comes after the take's other judgements: the strip shows it when
  // it is still that take's turn.
  connect(&judge_, &LessonJudge::textChecked, this, [this](std::size_t index) {
    if (mode_ != AudioMode::Recording &&
        index == static_cast<std::size_t>(lesson_.prompts.currentIndex)) {
      ShowCurrentJudgement();
    }
  });
}

RecordingFlow::~RecordingFlow() {
  engine_.SetLevelListener(nullptr);
  if (engine_.levelCheckRunning()) {
    engine_.StopLevelCheck();
  }
  if (engine_.preRollRunning()) {
    engine_.StopPreRoll();
  }
  // Normally the dialog's exit has released the device; a flow destroyed otherwise still closes
  // it so no sound keeps running without a window.
  if (device_) {
    device_->Close();
  }
}

bool RecordingFlow::event(QEvent* event) {
  if (event->type() == audio::LevelNotice::kType) {
    emit levelCaptured(static_cast<audio::LevelNotice*>(event)->summary());
    return true;
  }
  return QObject::event(event);
}

void RecordingFlow::ReleaseDevice() {
  mode_ = AudioMode::Idle;
  playingEarlier_ = false;
  finishing_ = false;
  stopFrame_.reset();
  marks_ = {};
  if (device_) {
    device_->Close();
    device_.reset();
  }
  // The strip spoke of this prompt's take; the level check goes on across prompts.
  if (!engine_.levelCheckRunning()) {
    ClearStrip();
  }
}

void RecordingFlow::ClearStrip() {
  if (engine_.preRollRunning()) {
    emit meterStarted();
  } else {
    emit stripCleared();
  }
}

std::optional<std::u16string> RecordingFlow::CheckedPromptFilePath() {
  const std::u16string path = lesson_.PromptFilePath();
  const std::u16string_view name = lesson_.current()->name;
  // A name that is a directory or leads out of the prompt directory would have a take read
  // from or written to somewhere else.
  const bool invalid = name.empty() || name == u"." || name == u".." ||
                       name.find(platform::kSeparator) != std::u16string_view::npos;
  if (invalid) {
    reporter_.ReportFailure(QString::fromStdU16String(path), tr("Invalid prompt name"));
    return std::nullopt;
  }
  return path;
}

void RecordingFlow::EndLevelCheckFor(bool clearStrip) {
  if (engine_.levelCheckRunning()) {
    engine_.StopLevelCheck();
    if (clearStrip) {
      emit stripCleared();
    }
  }
}

bool RecordingFlow::PrepareToPlay() {
  const std::optional<std::u16string> path = CheckedPromptFilePath();
  if (!path) {
    return false;
  }
  if (!device_) {
    device_ = std::make_unique<audio::WaveDevice>(*path, notifyWindow_, engine_, reporter_);
  }
  return true;
}

void RecordingFlow::StartPlaying() {
  EndLevelCheckFor(true);
  device_->Play(0, 0);
  mode_ = AudioMode::Playing;
}

void RecordingFlow::StopPlaying() {
  device_->Stop();
  mode_ = AudioMode::Idle;
  if (playingEarlier_) {
    ReleaseDevice();
  }
}

void RecordingFlow::PlaybackEnded() {
  if (mode_ != AudioMode::Idle) {
    if (device_) {
      device_->Stop();
    }
    mode_ = AudioMode::Idle;
  }
  if (playingEarlier_) {
    ReleaseDevice();
  }
}

bool RecordingFlow::PrepareToRecord() {
  // Refused before anything is recorded: a take nobody can save is a take spoken for nothing.
  const std::optional<std::u16string> path = CheckedPromptFilePath();
  if (!path) {
    return false;
  }
  const QString cannotRecord = tr("Cannot record");
  // The prompt directory is made if it is missing (as a load makes it), and a file must be
  // creatable there: that also refuses a take that is a link leading outside the working
  // directory, and a take file that is read-only.
  const lesson::LessonLocation location = lesson::LocateLesson(lesson_.IndexPath());
  platform::CreateDirectory(location.promptRoot);
  platform::CreateDirectory(lesson_.paths.promptDirectory);
  {
    platform::SaveFile probe(*path, lesson_.paths.workingDirectory);
    if (!probe.Open()) {
      reporter_.ReportFailure(OperatorText(probe.failure()), cannotRecord);
      return false;
    }
  }
  if (device_) {
    device_->Close();
    device_.reset();
  }
  device_ = std::make_unique<audio::WaveDevice>(lesson::workdir::kTemplateRecording, notifyWindow_,
                                                engine_, reporter_);
  if (device_->deviceId() != 0) {
    if (const std::shared_ptr<const audio::WaveElement> element = device_->Content();
        element && !audio::CanWriteFormat(*element)) {
      device_->Close();
      device_.reset();
      reporter_.ReportFailure(
          tr("Takes are recorded in the format of %1, and no sound file can be "
             "written in that format.")
              .arg(QString::fromStdU16String(std::u16string(lesson::workdir::kTemplateRecording))),
          cannotRecord);
      return false;
    }
    if (const std::shared_ptr<const audio::WaveElement> element = device_->Content()) {
      templateFormat_ = audio::CaptureFormatOf(*element);
    }
    // A desktop shows the take being made, not the template it is recorded into.
    engine_.SetMediaName(device_->deviceId(), lesson_.current()->name);
  }
  return true;
}

void RecordingFlow::StartRecording() {
  EndLevelCheckFor(false);
  emit meterStarted();
  marks_ = {};
  stopFrame_.reset();
  finishing_ = false;
  device_->Record(0);
  mode_ = AudioMode::Recording;
  if (templateFormat_) {
    emit recordingStarted(*templateFormat_);
  }
}

bool RecordingFlow::BeginFinish(std::uint32_t afterMs) {
  if (afterMs == 0 || mode_ != AudioMode::Recording || !device_ || finishing_ ||
      device_->state() != audio::WaveState::Recording) {
    return false;
  }
  stopFrame_ = device_->CapturedFrames();
  if (engine_.FinishRecording(device_->deviceId(), afterMs) != audio::kNoError) {
    stopFrame_.reset();
    return false;
  }
  finishing_ = true;
  return true;
}

void RecordingFlow::DiscardRecording() {
  if (mode_ != AudioMode::Recording) {
    return;
  }
  // Released with what it captured: Play must not play a take that was thrown away.
  device_->Stop();
  ReleaseDevice();
  ApplyPreRoll();
  emit stripMessage(tr("The take was discarded"), measures::Severity::Ok);
}

history::TakeHistory RecordingFlow::History() const {
  return history::TakeHistory(lesson_.paths.promptDirectory, lesson_.paths.workingDirectory);
}

bool RecordingFlow::FinishRecording(SaveEnd end) {
  // A recording that never started leaves the template's own audio in the device: no take.
  const bool neverRecorded =
      mode_ == AudioMode::Recording && device_->state() != audio::WaveState::Recording;
  const std::uint64_t stopFrame = stopFrame_.value_or(device_->CapturedFrames());
  device_->Stop();
  mode_ = AudioMode::Idle;
  finishing_ = false;
  stopFrame_.reset();
  marks_ = {};
  // A kept-open input that was lost meanwhile opens again for the next take.
  ApplyPreRoll();
  if (neverRecorded || !CheckedPromptFilePath()) {
    emit stripCleared();
    return false;
  }
  // Nothing of the operator's in it: a Stop pressed at once, or an input lost at the start.
  // Saved, it would replace a good take with the template's own sound.
  if (device_->CapturedFrames() == 0) {
    emit stripMessage(tr("Nothing was recorded: the take is not saved"),
                      measures::Severity::Warning);
    return false;
  }
  Marks marks;
  if (templateFormat_ && templateFormat_->sampleRate > 0) {
    const auto ms =
        [rate = static_cast<std::uint64_t>(templateFormat_->sampleRate)](std::uint64_t frame) {
          return static_cast<std::uint32_t>((frame * 1000 + rate / 2) / rate);
        };
    marks = {ms(engine_.PressFrame(device_->deviceId())), ms(stopFrame)};
  }
  SaveTake({lesson_.prompts.currentIndex,
            std::u16string(lesson_.current()->name),
            device_->Content(),
            {}},
           marks, std::move(end));
  return true;
}

void RecordingFlow::SaveTake(UnsavedTake take, Marks marks, SaveEnd end) {
  struct Saved {
    history::Result result;
    std::optional<measures::TakeMeasures> measured;
  };
  const auto save = [history = History(), name = take.name, content = take.content,
                     path = lesson_.paths.promptDirectory + take.name] {
    Saved done{history.Save(name, *content), std::nullopt};
    measures::TakeMeasures measured;
    std::string error;
    if (done.result.ok() && measures::MeasureTakeFile(path, &measured, &error)) {
      done.measured = measured;
    }
    return done;
  };
  // Off the GUI thread: a long take takes a while to write and to measure.
  saver_.Run(save, [this, take = std::move(take), marks,
                    end = std::move(end)](const Saved& saved) mutable {
    if (!saved.result.ok()) {
      const QString cause = OperatorText(saved.result);
      take.cause = cause.toStdString();
      unsaved_ = std::move(take);
      reporter_.ReportFailure(cause, tr("Error"));
      emit stripMessage(tr("The take is not saved: Ctrl+S saves it again"),
                        measures::Severity::Bad);
      end(false);
      return;
    }
    unsaved_.reset();
    if (lesson_.prompts.currentIndex == take.index) {
      lesson_.MarkRecorded();
    }
    judge_.TakeSaved(static_cast<std::size_t>(take.index), saved.measured);
    ShowCurrentJudgement();
    marks_ = marks;
    end(true);
  });
}

bool RecordingFlow::SaveUnsavedTake(SaveEnd end) {
  if (!unsaved_) {
    return false;
  }
  UnsavedTake take = *unsaved_;
  // The earlier attempt's marks went with its device.
  SaveTake(std::move(take), {}, std::move(end));
  return true;
}

void RecordingFlow::DiscardUnsavedTake() {
  unsaved_.reset();
  emit stripCleared();
}

void RecordingFlow::ShowCurrentJudgement() {
  const std::int32_t index = lesson_.prompts.currentIndex;
  if (unsaved_ || index < 0) {
    return;
  }
  if (const std::optional<measures::Judgement> judgement =
          judge_.Judge(static_cast<std::size_t>(index))) {
    emit takeJudged(*judgement);
  }
}

std::vector<RecordingFlow::EarlierTake> RecordingFlow::EarlierTakes() {
  std::vector<EarlierTake> earlier;
  const lesson::PromptEntry* entry = lesson_.current();
  if (entry == nullptr) {
    return earlier;
  }
  std::vector<history::EarlierTake> takes;
  History().Earlier(entry->name, &takes, history::Detail::Measures);
  for (history::EarlierTake& take : takes) {
    std::optional<measures::Judgement> judgement;
    if (take.measures) {
      judgement = measures::Judge(*take.measures, judge_.profile(), {});
    }
    earlier.push_back({std::move(take), std::move(judgement)});
  }
  return earlier;
}

int RecordingFlow::EarlierTakeCount() const {
  const lesson::PromptEntry* entry = lesson_.current();
  return entry == nullptr ? 0 : History().CountEarlier(entry->name);
}

bool RecordingFlow::RestoreEarlierTake(int number) {
  const lesson::PromptEntry* entry = lesson_.current();
  if (entry == nullptr) {
    return false;
  }
  // The device may hold the take being replaced; the next Play opens the restored one.
  ReleaseDevice();
  const history::Result result = History().Restore(entry->name, number);
  if (!result.ok()) {
    reporter_.ReportFailure(OperatorText(result), tr("Error"));
    return false;
  }
  measures::TakeMeasures measured;
  std::string error;
  const std::u16string path = lesson_.PromptFilePath();
  judge_.TakeSaved(static_cast<std::size_t>(lesson_.prompts.currentIndex),
                   measures::MeasureTakeFile(path, &measured, &error)
                       ? std::optional<measures::TakeMeasures>(measured)
                       : std::nullopt);
  ShowCurrentJudgement();
  return true;
}

void RecordingFlow::PlayEarlierTake(const std::u16string& path) {
  ReleaseDevice();
  device_ = std::make_unique<audio::WaveDevice>(path, notifyWindow_, engine_, reporter_);
  playingEarlier_ = true;
  StartPlaying();
}

std::optional<std::u16string> RecordingFlow::MostRecentEarlierTake() const {
  const lesson::PromptEntry* entry = lesson_.current();
  std::vector<history::EarlierTake> takes;
  if (entry == nullptr || !History().Earlier(entry->name, &takes, history::Detail::Length).ok() ||
      takes.empty()) {
    return std::nullopt;
  }
  return takes.front().path;
}

bool RecordingFlow::LessonLoaded(std::string* profileError) {
  unsaved_.reset();
  lessonOpen_ = !lesson_.readOnly();
  ApplyPreRoll();
  // The meter shows the input kept open.
  if (mode_ == AudioMode::Idle && engine_.preRollRunning()) {
    emit meterStarted();
  }
  return judge_.Start(lesson_, profileError);
}

void RecordingFlow::LessonUnloaded() {
  unsaved_.reset();
  lessonOpen_ = false;
  ApplyPreRoll();
  judge_.Stop();
}

std::optional<audio::CaptureFormat> RecordingFlow::TemplateFormat(const QString& boxCaption) {
  if (!templateFormat_) {
    // Every take is recorded in the template's format, so the gain is set and the input kept
    // open in it too.
    audio::WaveElement element;
    std::string error;
    if (!audio::ReadWaveFile(lesson::workdir::kTemplateRecording, &element, &error)) {
      reporter_.ReportFailure(QString::fromStdString(error), boxCaption);
      return std::nullopt;
    }
    templateFormat_ = audio::CaptureFormatOf(element);
  }
  return templateFormat_;
}

void RecordingFlow::SetPreRoll(std::uint32_t ms) {
  ms = std::min(ms, audio::kPreRollLimitMs);
  const bool changed = ms != preRollMs_;
  preRollMs_ = ms;
  ApplyPreRoll(changed);
  if (changed && mode_ == AudioMode::Idle && !engine_.levelCheckRunning()) {
    ClearStrip();
  }
}

bool RecordingFlow::preRollRunning() const {
  return engine_.preRollRunning();
}

void RecordingFlow::ApplyPreRoll(bool lengthChanged) {
  if (preRollMs_ == 0 || !lessonOpen_) {
    if (engine_.preRollRunning()) {
      engine_.StopPreRoll();
    }
    return;
  }
  // Started again with another length, the input keeps what it holds.
  if (engine_.preRollRunning() && !lengthChanged) {
    return;
  }
  const std::optional<audio::CaptureFormat> format = TemplateFormat(tr("Error"));
  if (!format) {
    return;
  }
  // Takes are recorded all the same, only without the lead-in: the strip says why.
  if (const audio::ErrorCode error = engine_.StartPreRoll(*format, preRollMs_);
      error != audio::kNoError) {
    emit stripMessage(tr("No capture margin before Record: ") + engine_.ErrorText(error),
                      measures::Severity::Warning);
  }
}

bool RecordingFlow::StartLevelCheck() {
  const std::optional<audio::CaptureFormat> format = TemplateFormat(tr("Level Check Error"));
  if (!format) {
    return false;
  }
  const audio::ErrorCode error = engine_.StartLevelCheck(*format);
  if (error != audio::kNoError) {
    reporter_.ReportFailure(engine_.ErrorText(error), tr("Level Check Error"));
    return false;
  }
  emit meterStarted();
  return true;
}

void RecordingFlow::StopLevelCheck() {
  EndLevelCheckFor(true);
}

bool RecordingFlow::levelCheckRunning() const {
  return engine_.levelCheckRunning();
}

std::vector<audio::SoundDevice> RecordingFlow::Devices(audio::Direction direction) const {
  return engine_.Devices(direction);
}

std::string RecordingFlow::DeviceInUse(audio::Direction direction,
                                       const std::vector<audio::SoundDevice>& devices) const {
  std::string chosen = engine_.ChosenDevice(direction);
  for (const audio::SoundDevice& device : devices) {
    if (device.name == chosen) {
      return chosen;
    }
  }
  return {};
}

void RecordingFlow::ChooseDevice(audio::Direction direction, const std::string& name) {
  engine_.ChooseDevice(direction, name);
  if (!settingsFile_.isEmpty()) {
    QSettings settings(settingsFile_, QSettings::IniFormat);
    settings.setValue(SettingsKey(direction), QString::fromStdString(name));
  }
}

}  // namespace voxtar::session
