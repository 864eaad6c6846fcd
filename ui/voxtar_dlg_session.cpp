// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog's view of the recording session beyond the established commands: the take's
// waveform below the buttons, the session's menu (the waveform, the capture margins, playing each
// take back and moving on after a good one), and the keys that discard a take or play the earlier
// one.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "ui/level_meter_widget.h"
#include "ui/voxtar_dlg.h"
#include "ui/waveform_view.h"

namespace voxtar::ui {

namespace {

// Below the row of "<<", ">>", "Play" and "Record", the dialog's width; the window grows by
// kWaveformGrowth for it and no control of the template moves.
constexpr QRect kWaveformUnits{7, 188, 295, 40};
constexpr int kWaveformGrowth = 44;

// The prompt text's zoom steps, in %.
constexpr std::array<int, 10> kZoomSteps{50, 67, 80, 100, 125, 150, 200, 250, 300, 400};

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
  waveform_->setVisible(session_.settings().waveform);
  QSize size = kMainTemplate.rect.size();
  if (session_.settings().waveform) {
    size.rheight() += kWaveformGrowth;
  }
  setFixedSize(DialogUnitsToPixels(size, units));
  waveformTake_.clear();
  ShowPromptWaveform();
}

void CVoxtarDlg::ShowPromptWaveform() {
  // While recording it draws the take coming in.
  if (waveform_ == nullptr || !session_.settings().waveform ||
      session_.mode() == session::AudioMode::Recording) {
    return;
  }
  const lesson::Lesson& lesson = session_.lesson();
  const lesson::PromptEntry* entry = lesson.current();
  if (lesson.state == lesson::LessonState::NoLesson || entry == nullptr || !entry->recorded) {
    waveformTake_.clear();
    waveform_->Clear();
    return;
  }
  const std::u16string path = lesson.PromptFilePath();
  const std::int64_t stamp = FileStamp(path);
  if (path == waveformTake_ && stamp == waveformStamp_) {
    return;
  }
  waveformTake_ = path;
  waveformStamp_ = stamp;
  std::optional<measures::TakeMeasures> measured;
  if (const measures::TakeMeasures* known =
          session_.flow().judge().Measures(static_cast<std::size_t>(lesson.prompts.currentIndex))) {
    measured = *known;
  }
  waveform_->ShowTakeFile(path, measured);
  const session::RecordingFlow::Marks& marks = session_.flow().lastMarks();
  waveform_->SetMarks(marks.recordMs, marks.stopMs);
}

// The prompt's take plays: the playhead runs over it when it is the one shown.
void CVoxtarDlg::StartPlayhead() {
  if (waveform_->mode() == WaveformView::Mode::Take && waveform_->overview().sampleRate() > 0) {
    const measures::WaveformOverview& shown = waveform_->overview();
    waveform_->StartPlayhead(
        0, static_cast<std::uint32_t>(shown.frames() * 1000 /
                                      static_cast<std::uint64_t>(shown.sampleRate())));
  }
}

void CVoxtarDlg::OnDiscardTake() {
  session_.DiscardTake();
}

void CVoxtarDlg::OnPlayEarlierTake() {
  session_.PlayEarlierTake();
}

bool CVoxtarDlg::OnUpdateRecording() const {
  return session_.recording();
}

bool CVoxtarDlg::OnUpdatePlayEarlier() const {
  return session_.CanPlayEarlierTake();
}

void CVoxtarDlg::SetSessionSettings(const session::SessionSettings& settings) {
  const bool placed = settings.waveform != session_.settings().waveform;
  session_.SetSettings(settings);
  if (placed) {
    PlaceWaveform();
  }
}

void CVoxtarDlg::AddSessionMenu(QMenu& menu) {
  menu.addSeparator();
  const auto toggle = [this, &menu](const QString& text, bool session::SessionSettings::*setting) {
    QAction* item = menu.addAction(text);
    item->setCheckable(true);
    item->setChecked(session_.settings().*setting);
    connect(item, &QAction::triggered, this, [this, setting](bool on) {
      session::SessionSettings changed = session_.settings();
      changed.*setting = on;
      SetSessionSettings(changed);
    });
  };
  toggle(tr("Show &waveform"), &session::SessionSettings::waveform);

  QMenu* margins = menu.addMenu(tr("Capture &margins"));
  const auto addMargin = [this, margins](const QString& title,
                                         std::uint32_t session::SessionSettings::*setting) {
    QMenu* choices = margins->addMenu(title);
    auto* group = new QActionGroup(choices);
    for (const std::uint32_t ms : session::SessionSettings::kMarginChoices) {
      QAction* item = choices->addAction(ms == 0 ? tr("Off") : tr("%1 ms").arg(ms));
      item->setCheckable(true);
      item->setChecked(session_.settings().*setting == ms);
      group->addAction(item);
      connect(item, &QAction::triggered, this, [this, setting, ms] {
        session::SessionSettings changed = session_.settings();
        changed.*setting = ms;
        SetSessionSettings(changed);
      });
    }
  };
  addMargin(tr("&Before Record"), &session::SessionSettings::preRollMs);
  addMargin(tr("&After Stop"), &session::SessionSettings::postRollMs);

  toggle(tr("&Advance after a good take"), &session::SessionSettings::autoAdvance);
  toggle(tr("Play each &take"), &session::SessionSettings::autoPlay);
}

}  // namespace voxtar::ui

namespace voxtar::ui {

void CVoxtarDlg::InitHandsFree() {
  const auto bind = [this](const QKeySequence& keys, const std::function<void()>& run) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, run);
  };
  bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H), [this] { OnHandsFree(); });
  bind(QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { ZoomText(1); });
  bind(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { ZoomText(1); });
  bind(QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { ZoomText(-1); });
  connect(&session_, &session::Session::sittingChanged, this, &CVoxtarDlg::ShowSitting);
  GetDlgItem(ids::kPromptText)->installEventFilter(this);
  ApplyTextZoom();
}

void CVoxtarDlg::OnHandsFree() {
  session_.Submit(session::CommandKind::Lesson, [this] {
    session::SessionSettings changed = session_.settings();
    changed.handsFree = !changed.handsFree;
    SetSessionSettings(changed);
  });
}

void CVoxtarDlg::ShowSitting(bool takeDone) {
  const session::SittingState& sitting = session_.sitting();
  QString text;
  switch (sitting.phase) {
    case session::SittingState::Phase::Off:
      break;
    case session::SittingState::Phase::Listening:
      text = tr("Listening");
      break;
    case session::SittingState::Phase::Recording:
      text = tr("Recording");
      break;
    case session::SittingState::Phase::Ending:
      text = tr("Ending");
      break;
    case session::SittingState::Phase::WaitingForVoice:
      text = tr("Waiting for voice");
      break;
    case session::SittingState::Phase::LimitReached:
      text = tr("Paused: the take is full");
      break;
  }
  levelMeter_->ShowSitting(text, sitting.endingLeft);
  if (takeDone && session_.settings().endTick) {
    QApplication::beep();
  }
}

bool CVoxtarDlg::eventFilter(QObject* watched, QEvent* event) {
  const session::SittingState::Phase phase = session_.sitting().phase;
  if (event->type() == QEvent::KeyPress &&
      (phase == session::SittingState::Phase::WaitingForVoice ||
       phase == session::SittingState::Phase::LimitReached)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Keys with Ctrl or Alt are commands, which end the sitting as any command does.
    if ((key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0 &&
        key->key() != Qt::Key_Escape && !key->isAutoRepeat()) {
      OnCommand(ids::kRecord);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CVoxtarDlg::ZoomText(int steps) {
  const int now = session_.settings().textZoom;
  const auto at = std::lower_bound(kZoomSteps.begin(), kZoomSteps.end(), now);
  auto index = static_cast<int>(at - kZoomSteps.begin());
  // A zoom between two steps (mended by hand) goes to the next one either way.
  if (steps < 0 || at == kZoomSteps.end() || *at == now) {
    index += steps;
  } else {
    index += steps - 1;
  }
  index = std::clamp(index, 0, static_cast<int>(kZoomSteps.size()) - 1);
  session::SessionSettings changed = session_.settings();
  changed.textZoom = kZoomSteps[static_cast<std::size_t>(index)];
  SetSessionSettings(changed);
  ApplyTextZoom();
}

// Only the text grows: the box keeps its place and size, and scrolls.
void CVoxtarDlg::ApplyTextZoom() {
  QFont zoomed = textFont_;
  const double scale = session_.settings().textZoom / 100.0;
  if (zoomed.pixelSize() > 0) {
    zoomed.setPixelSize(std::max(1, static_cast<int>(std::lround(zoomed.pixelSize() * scale))));
  } else {
    zoomed.setPointSizeF(zoomed.pointSizeF() * scale);
  }
  GetDlgItem(ids::kPromptText)->setFont(zoomed);
}

void CVoxtarDlg::AddHandsFreeMenu(QMenu& menu) {
  QAction* handsFree = menu.addAction(
      tr("&Hands-free") + u'\t' +
      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H).toString(QKeySequence::NativeText));
  handsFree->setCheckable(true);
  handsFree->setChecked(session_.settings().handsFree);
  connect(handsFree, &QAction::triggered, this, [this] { OnHandsFree(); });

  QMenu* endSilence = menu.addMenu(tr("End &silence"));
  auto* group = new QActionGroup(endSilence);
  for (const std::uint32_t ms : session::SessionSettings::kEndSilenceChoices) {
    QAction* item = endSilence->addAction(tr("%1 ms").arg(ms));
    item->setCheckable(true);
    item->setChecked(session_.settings().endSilenceMs == ms);
    group->addAction(item);
    connect(item, &QAction::triggered, this, [this, ms] {
      session::SessionSettings changed = session_.settings();
      changed.endSilenceMs = ms;
      SetSessionSettings(changed);
    });
  }
  QAction* tick = menu.addAction(tr("Tick at each take's &end"));
  tick->setCheckable(true);
  tick->setChecked(session_.settings().endTick);
  connect(tick, &QAction::triggered, this, [this](bool on) {
    session::SessionSettings changed = session_.settings();
    changed.endTick = on;
    SetSessionSettings(changed);
  });
}

}  // namespace voxtar::ui
