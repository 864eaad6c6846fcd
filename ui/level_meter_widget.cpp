// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/level_meter_widget.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/judgement_texts.h"

namespace voxtar::ui {

namespace {

using Clock = audio::LevelMeterState::Clock;

// The meter stops refreshing once nothing came in for this long and everything has fallen off
// the scale.
constexpr auto kIdleAfter = std::chrono::milliseconds(1500);

// Zones of the bar: green for speech, yellow near the top, red where clipping is close.
constexpr double kYellowFromDb = -18.0;
constexpr double kRedFromDb = -6.0;
constexpr int kScaleStepDb = 12;

const QColor kTrack(32, 32, 32);
const QColor kGreen(40, 190, 70);
const QColor kYellow(230, 200, 40);
const QColor kRed(225, 45, 40);
const QColor kPeakLine(245, 245, 245);
const QColor kHoldTick(255, 160, 30);
const QColor kScaleText(90, 90, 90);

QString Db(double db) {
  return QString::number(static_cast<int>(std::lround(db)));
}

QFont ScaleFont(const QFont& base, int height) {
  QFont font = base;
  font.setPixelSize(std::max(7, height * 3 / 10));
  return font;
}

}  // namespace

LevelMeterWidget::LevelMeterWidget(QWidget* parent) : QWidget(parent) {
  setAccessibleName(tr("Input level"));
  setFocusPolicy(Qt::NoFocus);
  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &LevelMeterWidget::Refresh);
}

QColor LevelMeterWidget::SeverityColour(measures::Severity severity) {
  switch (severity) {
    case measures::Severity::Ok:
      return {20, 120, 30};
    case measures::Severity::Warning:
      return {170, 95, 0};
    case measures::Severity::Bad:
      return {200, 0, 0};
  }
  return Qt::black;
}

QSize LevelMeterWidget::sizeHint() const {
  return {206, 21};
}

QRect LevelMeterWidget::barRect() const {
  const QFontMetrics scale(ScaleFont(font(), height()));
  const int clipWidth = scale.horizontalAdvance(tr("CLIP")) + 6;
  const int barHeight = std::max(4, height() - scale.height());
  const int stateWidth = sitting_.isEmpty() ? 0 : sittingRect().width() + 3;
  return {0, 0, std::max(1, width() - clipWidth - 3 - stateWidth), barHeight};
}

QRect LevelMeterWidget::sittingRect() const {
  if (sitting_.isEmpty()) {
    return {};
  }
  const int textWidth = fontMetrics().horizontalAdvance(tr("Waiting for voice")) + 4;
  const int stateWidth = std::min(textWidth, width() / 2);
  return {width() - stateWidth, 0, stateWidth, height()};
}

void LevelMeterWidget::ShowSitting(const QString& state, double endingLeft) {
  if (state == sitting_ && endingLeft == endingLeft_) {
    return;
  }
  sitting_ = state;
  endingLeft_ = std::clamp(endingLeft, 0.0, 1.0);
  SetDescription(description_);
  update();
}

int LevelMeterWidget::XForDb(double db) const {
  const QRect bar = barRect();
  const double fraction = std::clamp((db - kScaleFloorDb) / -kScaleFloorDb, 0.0, 1.0);
  return bar.left() + static_cast<int>(std::lround(fraction * bar.width()));
}

void LevelMeterWidget::StartMeter() {
  mode_ = Mode::Meter;
  state_.Reset();
  shown_ = {};
  setToolTip({});
  SetDescription(tr("no signal"));
  update();
}

void LevelMeterWidget::ShowLevel(const audio::LevelSummary& summary) {
  if (mode_ != Mode::Meter) {
    return;
  }
  lastLevel_ = Clock::now();
  state_.Feed(summary, lastLevel_);
  if (!refresh_.isActive()) {
    refresh_.start();
  }
}

void LevelMeterWidget::ShowJudgement(const measures::Judgement& judgement) {
  ShowVerdict(JudgementText(judgement), judgement.severity);
}

void LevelMeterWidget::ShowVerdict(const QString& text, measures::Severity severity) {
  refresh_.stop();
  mode_ = Mode::TakeCheck;
  takeCheckText_ = text;
  severity_ = severity;
  setToolTip(takeCheckText_);
  SetDescription(tr("last take: ") + takeCheckText_);
  update();
}

void LevelMeterWidget::Clear() {
  refresh_.stop();
  mode_ = Mode::Empty;
  takeCheckText_.clear();
  setToolTip({});
  SetDescription({});
  update();
}

void LevelMeterWidget::Refresh() {
  const Clock::time_point now = Clock::now();
  shown_ = state_.Display(now);
  QString text = shown_.peakDb <= kScaleFloorDb
                     ? tr("no signal")
                     : tr("peak %1 dB, RMS %2 dB").arg(Db(shown_.peakDb), Db(shown_.rmsDb));
  if (shown_.clipped) {
    text += tr(", clipped");
  }
  SetDescription(text);
  update();
  if (now - lastLevel_ > kIdleAfter && shown_.holdDb <= kScaleFloorDb) {
    refresh_.stop();
  }
}

void LevelMeterWidget::SetDescription(const QString& text) {
  description_ = text;
  const QString full = sitting_.isEmpty()
                           ? text
                           : (text.isEmpty() ? sitting_ : sitting_ + QStringLiteral(", ") + text);
  // Only on a change: a screen reader hears a change event for every call.
  if (accessibleDescription() != full) {
    setAccessibleDescription(full);
  }
}

void LevelMeterWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (mode_ == Mode::Meter) {
    // What the levels say now, not at the last tick: a paint between ticks is never stale.
    shown_ = state_.Display(Clock::now());
    PaintMeter(painter);
  } else if (mode_ == Mode::TakeCheck) {
    painter.setPen(SeverityColour(severity_));
    const QRect area = rect().adjusted(2, 0, -2 - sittingRect().width(), 0);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(takeCheckText_, Qt::ElideRight, area.width()));
  }
  if (!sitting_.isEmpty()) {
    const QRect state = sittingRect();
    painter.fillRect(state, palette().window());
    painter.setPen(palette().windowText().color());
    painter.drawText(state.adjusted(2, 0, 0, -3), Qt::AlignRight | Qt::AlignVCenter,
                     fontMetrics().elidedText(sitting_, Qt::ElideRight, state.width() - 2));
    const auto left = static_cast<int>(std::lround(endingLeft_ * state.width()));
    painter.fillRect(QRect(state.right() + 1 - left, state.bottom() - 1, left, 2), kHoldTick);
  }
}

void LevelMeterWidget::PaintMeter(QPainter& painter) {
  const QRect bar = barRect();
  painter.fillRect(bar, kTrack);

  // The RMS bar, coloured by zone.
  const int rmsX = XForDb(shown_.rmsDb);
  const int yellowX = XForDb(kYellowFromDb);
  const int redX = XForDb(kRedFromDb);
  const QRect inner = bar.adjusted(0, 2, 0, -2);
  const auto zone = [&](int from, int to, const QColor& colour) {
    if (rmsX > from) {
      painter.fillRect(
          QRect(QPoint(from, inner.top()), QPoint(std::min(rmsX, to) - 1, inner.bottom())), colour);
    }
  };
  zone(bar.left(), yellowX, kGreen);
  zone(yellowX, redX, kYellow);
  zone(redX, bar.right() + 1, kRed);

  // The peak as a line over the whole bar, the held peak as a tick at its top and bottom.
  if (shown_.peakDb > kScaleFloorDb) {
    const int peakX = std::min(XForDb(shown_.peakDb), bar.right() - 1);
    painter.fillRect(QRect(peakX, bar.top(), 2, bar.height()), kPeakLine);
  }
  if (shown_.holdDb > kScaleFloorDb) {
    const int holdX = std::min(XForDb(shown_.holdDb), bar.right() - 2);
    const int tick = std::max(2, bar.height() / 4);
    painter.fillRect(QRect(holdX, bar.top(), 3, tick), kHoldTick);
    painter.fillRect(QRect(holdX, bar.bottom() - tick + 1, 3, tick), kHoldTick);
  }

  // The scale under the bar.
  const QFont scaleFont = ScaleFont(font(), height());
  const QFontMetrics scale(scaleFont);
  painter.setFont(scaleFont);
  painter.setPen(kScaleText);
  for (int db = static_cast<int>(kScaleFloorDb); db <= 0; db += kScaleStepDb) {
    const int x = XForDb(db);
    painter.drawLine(x, bar.bottom() + 1, x, bar.bottom() + 2);
    const QString label = QString::number(db);
    const int labelWidth = scale.horizontalAdvance(label);
    const int left = std::clamp(x - labelWidth / 2, 0, std::max(0, bar.right() + 1 - labelWidth));
    painter.drawText(QPoint(left, bar.bottom() + 2 + scale.ascent()), label);
  }

  // The clip mark.
  const QRect clip(bar.right() + 4, bar.top(), width() - bar.right() - 4, bar.height());
  if (shown_.clipped) {
    painter.fillRect(clip, kRed);
    painter.setPen(Qt::white);
  } else {
    painter.fillRect(clip, kTrack);
    painter.setPen(kScaleText);
  }
  painter.drawText(clip, Qt::AlignCenter, tr("CLIP"));
}

}  // namespace voxtar::ui
