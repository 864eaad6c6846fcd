// SPDX-License-Identifier: GPL-3.0-or-later
// The strip right of "Goto": while recording (or checking the level) a horizontal input meter on
// a -60..0 dB scale, the RMS as a bar, the peak as a line, the peak of about the last second as a
// tick and a clip mark that stays lit until the next recording; after a take, its judgement
// against the delivery profile as one line in colour. Fed with level summaries from the capture
// side; repaints on its own timer, so a burst of summaries costs one repaint per refresh.
#pragma once

#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "audio/level_meter.h"
#include "measures/judgement.h"

namespace voxtar::ui {

class LevelMeterWidget : public QWidget {
  Q_OBJECT

 public:
  // Where it goes in the main dialog, in dialog units: the template leaves this strip empty.
  static constexpr QRect kStripUnits{165, 7, 137, 14};
  static constexpr int kRefreshMs = 33;
  static constexpr double kScaleFloorDb = -60.0;

  enum class Mode { Empty, Meter, TakeCheck };

  explicit LevelMeterWidget(QWidget* parent = nullptr);

  Mode mode() const { return mode_; }
  // The figures of the last refresh.
  const audio::LevelDisplay& shown() const { return shown_; }
  const QString& takeCheckText() const { return takeCheckText_; }
  measures::Severity takeCheckSeverity() const { return severity_; }
  static QColor SeverityColour(measures::Severity severity);

  // The meter's bar and the x of a level on it (clamped to the scale), for drawing and tests.
  QRect barRect() const;
  // Where the sitting's state is shown (empty without one).
  QRect sittingRect() const;
  const QString& sittingText() const { return sitting_; }
  int XForDb(double db) const;

  QSize sizeHint() const override;

 public slots:
  // A new recording or level check: an empty meter, the clip mark off.
  void StartMeter();
  // One block's summary; ignored unless the meter is shown (a late block after Stop must not
  // replace the take check).
  void ShowLevel(const voxtar::audio::LevelSummary& summary);
  // A take's judgement, or what the strip says instead ("the take is not saved").
  void ShowVerdict(const QString& text, voxtar::measures::Severity severity);
  void ShowJudgement(const voxtar::measures::Judgement& judgement);
  void Clear();
  // What a hands-free sitting is doing, at the strip's right end and first in the accessible
  // description; `endingLeft` (0..1) runs down as a bar under it. Empty: no sitting.
  void ShowSitting(const QString& state, double endingLeft);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Refresh();
  void PaintMeter(QPainter& painter);
  void SetDescription(const QString& text);

  Mode mode_ = Mode::Empty;
  audio::LevelMeterState state_;
  audio::LevelDisplay shown_;
  audio::LevelMeterState::Clock::time_point lastLevel_{};
  QTimer refresh_;
  QString takeCheckText_;
  measures::Severity severity_ = measures::Severity::Ok;
  QString sitting_;
  double endingLeft_ = 0.0;
  QString description_;  // of the level or the take, without the sitting's state
};

}  // namespace voxtar::ui
