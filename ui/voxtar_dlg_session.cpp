// The main dialog's recording session: the take's waveform below the buttons, the capture
// margins, playing each take back and moving on after a good one, and the keys that discard a
// take or play the earlier one. Beside the dialog's established commands, which these leave as
// they are while the settings are at their defaults.
#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QScopedValueRollback>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "ui/voxtar_dlg.h"
#include "ui/waveform_view.h"

namespace voxtar {

namespace {

// Below the row of "<<", ">>", "Play" and "Record", the dialog's width; the window grows by
// kWaveformGrowth for it and no control of the template moves.
constexpr QRect kWaveformUnits{7, 188, 295, 40};
constexpr int kWaveformGrowth = 44;

// Tells a take file apart from the one it replaced, without reading it.
std::int64_t FileStamp(const std::u16string& path) {
  std::error_code error;
  const std::filesystem::path resolved = platform::ResolvePath(path);
  const auto written = std::filesystem::last_write_time(resolved, error);
  if (error) {
    return -1;
  }
  const auto size = std::filesystem::file_size(resolved, error);
  return static_cast<std::int64_t>(written.time_since_epoch().count()) ^
         static_cast<std::int64_t>(error ? 0 : size);
}

}  // namespace

void CVoxtarDlg::PlaceWaveform() {
  const BaseUnits units = TemplateBaseUnits(kMainTemplate);
  waveform_->setGeometry(DialogUnitsToPixels(kWaveformUnits, units));
  waveform_->setVisible(session_.waveform);
  QSize size = kMainTemplate.rect.size();
  if (session_.waveform) {
    size.rheight() += kWaveformGrowth;
  }
  setFixedSize(DialogUnitsToPixels(size, units));
  waveformTake_.clear();
  ShowPromptWaveform();
}

void CVoxtarDlg::ShowPromptWaveform() {
  // While recording it draws the take coming in.
  if (waveform_ == nullptr || !session_.waveform || flow_.mode() == AudioMode::Recording) {
    return;
  }
  const PromptEntry* entry = lesson_.current();
  if (lesson_.state == LessonState::NoLesson || entry == nullptr || !entry->recorded) {
    waveformTake_.clear();
    waveform_->Clear();
    return;
  }
  const std::u16string path = lesson_.PromptFilePath();
  const std::int64_t stamp = FileStamp(path);
  if (path == waveformTake_ && stamp == waveformStamp_) {
    return;
  }
  waveformTake_ = path;
  waveformStamp_ = stamp;
  std::optional<measures::TakeMeasures> measured;
  if (const measures::TakeMeasures* known =
          flow_.judge().Measures(static_cast<std::size_t>(lesson_.prompts.currentIndex))) {
    measured = *known;
  }
  waveform_->ShowTakeFile(path, measured);
  const RecordingFlow::Marks& marks = flow_.lastMarks();
  waveform_->SetMarks(marks.recordMs, marks.stopMs);
}

void CVoxtarDlg::EndTake() {
  // The marker goes with a saved take only: a prompt without one still needs recording.
  const bool saved = flow_.FinishRecording();
  if (saved) {
    lesson_.ClearEditMarker();
  }
  SetControlText(ids::kPlay, QStringLiteral("Play"));
  SetControlText(ids::kRecord, QStringLiteral("Record"));
  // The live trace gives way to the take as saved, or to the prompt's take when none was.
  waveformTake_.clear();
  RefreshDisplay();
  if (!saved) {
    return;
  }
  if (session_.autoPlay) {
    OnPlay();
    // Heard first, then moved on from.
    if (flow_.mode() == AudioMode::Playing) {
      advanceAfterPlayback_ = session_.autoAdvance;
      return;
    }
  }
  if (session_.autoAdvance) {
    AdvanceAfterGoodTake();
  }
}

void CVoxtarDlg::AdvanceAfterGoodTake() {
  if (lesson_.state == LessonState::NoLesson || flow_.mode() != AudioMode::Idle ||
      flow_.unsavedTake()) {
    return;
  }
  const std::optional<measures::Judgement> judgement =
      flow_.judge().Judge(static_cast<std::size_t>(lesson_.prompts.currentIndex));
  // A take that fails its check stays on its prompt, to be heard and recorded again.
  if (!judgement || !judgement->ok()) {
    return;
  }
  flow_.ReleaseDevice();
  CommitBox();
  lesson_.GotoNextPending();
  RefreshDisplay();
}

void CVoxtarDlg::OnDiscardTake() {
  if (flow_.mode() != AudioMode::Recording) {
    return;
  }
  flow_.DiscardRecording();
  SetControlText(ids::kPlay, QStringLiteral("Play"));
  SetControlText(ids::kRecord, QStringLiteral("Record"));
  waveformTake_.clear();
  RefreshDisplay();
}

void CVoxtarDlg::OnPlayEarlierTake() {
  if (!OnUpdatePlayEarlier()) {
    return;
  }
  if (const std::optional<std::u16string> path = flow_.MostRecentEarlierTake()) {
    SetControlText(ids::kPlay, QStringLiteral("<Playing>"));
    flow_.PlayEarlierTake(*path);
  }
}

bool CVoxtarDlg::OnUpdateRecording() const {
  return flow_.mode() == AudioMode::Recording;
}

bool CVoxtarDlg::OnUpdatePlayEarlier() const {
  return lesson_.state != LessonState::NoLesson && flow_.mode() == AudioMode::Idle &&
         flow_.EarlierTakeCount() > 0;
}

void CVoxtarDlg::SetSession(const SessionSettings& session) {
  const bool placed = session.waveform != session_.waveform;
  session_ = session;
  session_.Save(settingsFile_);
  if (placed) {
    PlaceWaveform();
  }
  flow_.SetPreRoll(session_.preRollMs);
}

void CVoxtarDlg::AddSessionMenu(QMenu& menu) {
  menu.addSeparator();
  const auto toggle = [this, &menu](const QString& text, bool SessionSettings::*setting) {
    QAction* item = menu.addAction(text);
    item->setCheckable(true);
    item->setChecked(session_.*setting);
    connect(item, &QAction::triggered, this, [this, setting](bool on) {
      SessionSettings changed = session_;
      changed.*setting = on;
      SetSession(changed);
    });
  };
  toggle(QStringLiteral("Show &waveform"), &SessionSettings::waveform);

  QMenu* margins = menu.addMenu(QStringLiteral("Capture &margins"));
  const auto addMargin = [this, margins](const QString& title,
                                         std::uint32_t SessionSettings::*setting) {
    QMenu* choices = margins->addMenu(title);
    auto* group = new QActionGroup(choices);
    for (const std::uint32_t ms : SessionSettings::kMarginChoices) {
      QAction* item =
          choices->addAction(ms == 0 ? QStringLiteral("Off") : QStringLiteral("%1 ms").arg(ms));
      item->setCheckable(true);
      item->setChecked(session_.*setting == ms);
      group->addAction(item);
      connect(item, &QAction::triggered, this, [this, setting, ms] {
        SessionSettings changed = session_;
        changed.*setting = ms;
        SetSession(changed);
      });
    }
  };
  addMargin(QStringLiteral("&Before Record"), &SessionSettings::preRollMs);
  addMargin(QStringLiteral("&After Stop"), &SessionSettings::postRollMs);

  toggle(QStringLiteral("&Advance after a good take"), &SessionSettings::autoAdvance);
  toggle(QStringLiteral("Play each &take"), &SessionSettings::autoPlay);
}

}  // namespace voxtar
