#include "ui/recording_flow.h"

#include <QSettings>

#include "audio/wave_element.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"

namespace voxtar {

namespace {

QString SettingsKey(audio::Direction direction) {
  return direction == audio::Direction::Input ? QStringLiteral("sound/inputDevice")
                                              : QStringLiteral("sound/outputDevice");
}

constexpr audio::Direction kDirections[] = {audio::Direction::Input, audio::Direction::Output};

}  // namespace

RecordingFlow::RecordingFlow(Lesson& lesson, audio::AudioEngine& engine, QObject* notifyWindow,
                             audio::FailureReporter& reporter, QString settingsFile)
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
}

RecordingFlow::~RecordingFlow() {
  engine_.SetLevelListener(nullptr);
  if (engine_.levelCheckRunning()) {
    engine_.StopLevelCheck();
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
  if (device_) {
    device_->Close();
    device_.reset();
  }
  // The strip spoke of this prompt's take; the level check goes on across prompts.
  if (!engine_.levelCheckRunning()) {
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
    reporter_.ReportFailure(QString::fromStdU16String(path), QStringLiteral("Invalid prompt name"));
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
}

void RecordingFlow::PlaybackEnded() {
  if (mode_ != AudioMode::Idle) {
    if (device_) {
      device_->Stop();
    }
    mode_ = AudioMode::Idle;
  }
}

bool RecordingFlow::PrepareToRecord() {
  // Refused before anything is recorded: the take could not be saved.
  if (!CheckedPromptFilePath()) {
    return false;
  }
  if (device_) {
    device_->Close();
    device_.reset();
  }
  device_ = std::make_unique<audio::WaveDevice>(workdir::kTemplateRecording, notifyWindow_, engine_,
                                                reporter_);
  // A desktop shows the take being made, not the template it is recorded into.
  if (device_->deviceId() != 0) {
    engine_.SetMediaName(device_->deviceId(), lesson_.current()->name);
  }
  return true;
}

void RecordingFlow::StartRecording() {
  EndLevelCheckFor(false);
  emit meterStarted();
  device_->Record(0, 0);
  mode_ = AudioMode::Recording;
}

bool RecordingFlow::StopAndSaveTake() {
  // A recording that never started leaves the template's own audio in the device: no take.
  const bool neverRecorded =
      mode_ == AudioMode::Recording && device_->state() != audio::WaveState::Recording;
  device_->Stop();
  if (neverRecorded) {
    return false;
  }
  const std::optional<std::u16string> path = CheckedPromptFilePath();
  if (!path) {
    return false;
  }
  // A take that could not be saved is not marked recorded.
  if (!device_->Save(*path)) {
    return false;
  }
  lesson_.MarkRecorded();
  CheckSavedTake(*path);
  return true;
}

void RecordingFlow::CheckSavedTake(const std::u16string& path) {
  // Checked on the file as saved, so the verdict is about what the lesson now holds.
  audio::TakeCheck check;
  std::string error;
  if (audio::CheckTakeFile(path, &check, nullptr, &error)) {
    emit takeChecked(check);
  } else {
    emit stripCleared();
  }
}

bool RecordingFlow::FinishRecording() {
  const bool saved = StopAndSaveTake();
  mode_ = AudioMode::Idle;
  if (!saved) {
    emit stripCleared();
  }
  return saved;
}

bool RecordingFlow::StartLevelCheck() {
  if (!templateFormat_) {
    // Every take is recorded in the template's format, so the gain is set in it too.
    audio::WaveElement element;
    std::string error;
    if (!audio::ReadWaveFile(workdir::kTemplateRecording, &element, &error)) {
      reporter_.ReportFailure(QString::fromStdString(error), QStringLiteral("Level Check Error"));
      return false;
    }
    templateFormat_ = audio::CaptureFormat{element.kind, element.sampleRate, element.channels};
  }
  const audio::ErrorCode error = engine_.StartLevelCheck(*templateFormat_);
  if (error != audio::kNoError) {
    reporter_.ReportFailure(engine_.ErrorText(error), QStringLiteral("Level Check Error"));
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

}  // namespace voxtar
