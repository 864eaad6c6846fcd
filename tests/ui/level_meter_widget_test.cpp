// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/level_meter_widget.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QRegularExpression>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "ui/dialog_template.h"

namespace voxtar::ui {
namespace {

audio::LevelSummary Level(double peakDb, double rmsDb, bool clipped = false) {
  audio::LevelSummary summary;
  summary.peak = std::pow(10.0, peakDb / 20.0);
  summary.peakDb = peakDb;
  summary.rmsDb = rmsDb;
  summary.clipped = clipped;
  summary.frames = 480;
  return summary;
}

class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint ? 1 : 0;
    return false;
  }
  int paints = 0;
};

class LevelMeter : public ::testing::Test {
 protected:
  LevelMeter() {
    // The size it has in the main dialog.
    const QFont font = DialogFont(10);
    meter.setFont(font);
    meter.resize(DialogUnitsToPixels(LevelMeterWidget::kStripUnits, DialogBaseUnits(font)).size());
    meter.show();
  }

  // Feeds `level` every 10 ms, as the capture side does, for `ms`.
  void Feed(const audio::LevelSummary& level, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
      meter.ShowLevel(level);
      QTest::qWait(10);
    }
  }

  void SaveScreenshot(const char* name) {
    if (const char* dir = std::getenv("VOXTAR_SCREENSHOT_DIR")) {
      meter.grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
    }
  }

  LevelMeterWidget meter;
};

TEST_F(LevelMeter, ShowsTheLevelToScreenReadersAndLatchesTheClip) {
  EXPECT_EQ(meter.accessibleName(), "Input level");
  meter.StartMeter();
  EXPECT_EQ(meter.accessibleDescription(), "no signal");

  Feed(Level(-12.0, -20.0), 150);
  const QRegularExpression figures(QStringLiteral("^peak (-\\d+) dB, RMS (-\\d+) dB$"));
  QRegularExpressionMatch match = figures.match(meter.accessibleDescription());
  ASSERT_TRUE(match.hasMatch()) << meter.accessibleDescription().toStdString();
  // A block may have fallen back a little before the refresh.
  EXPECT_LE(match.captured(1).toInt(), -12);
  EXPECT_GE(match.captured(1).toInt(), -15);
  EXPECT_LE(match.captured(2).toInt(), -20);
  EXPECT_GE(match.captured(2).toInt(), -23);

  meter.ShowLevel(Level(0.0, -3.0, true));
  Feed(Level(-30.0, -40.0), 100);
  EXPECT_TRUE(meter.shown().clipped);
  EXPECT_TRUE(meter.accessibleDescription().endsWith(", clipped"));

  meter.StartMeter();  // the next recording
  Feed(Level(-30.0, -40.0), 100);
  EXPECT_FALSE(meter.shown().clipped);
  EXPECT_FALSE(meter.accessibleDescription().contains("clipped"));
}

TEST_F(LevelMeter, RepaintsAtMostThirtyTimesASecondHoweverManyBlocksCome) {
  PaintCounter counter;
  meter.StartMeter();
  QTest::qWait(50);
  meter.installEventFilter(&counter);
  QElapsedTimer timer;
  timer.start();
  int blocks = 0;
  while (timer.elapsed() < 400) {
    for (int i = 0; i < 20; ++i, ++blocks) {
      meter.ShowLevel(Level(-10.0 - (blocks % 20), -20.0));
    }
    QTest::qWait(2);
  }
  const qint64 elapsed = timer.elapsed();
  meter.removeEventFilter(&counter);
  EXPECT_GT(blocks, 1000);
  EXPECT_GE(counter.paints, 3);
  EXPECT_LE(counter.paints, elapsed / LevelMeterWidget::kRefreshMs + 2);
}

TEST_F(LevelMeter, DrawsTheBarsAndTheClipMark) {
  meter.StartMeter();
  Feed(Level(-6.0, -20.0), 30);  // the hold
  Feed(Level(-12.0, -20.0, true), 120);
  SaveScreenshot("level-meter");
  const QImage image = meter.grab().toImage();
  const int middle = meter.barRect().center().y();
  const QColor below = image.pixelColor(meter.XForDb(-30.0), middle);
  // Between the RMS bar and the peak line, which falls back from the earlier -6 dB as time passes.
  const QColor above = image.pixelColor(meter.XForDb(-16.0), middle);
  const QColor clip = image.pixelColor(meter.width() - 3, middle);
  EXPECT_GT(below.green(), 150) << below.name().toStdString();  // RMS bar, green zone
  EXPECT_LT(above.value(), 60) << above.name().toStdString();   // empty track
  EXPECT_GT(clip.red(), 200) << clip.name().toStdString();
  EXPECT_LT(clip.green(), 80);
}

TEST_F(LevelMeter, ShowsTheTakeCheckInColourAndIgnoresLateBlocks) {
  meter.StartMeter();
  Feed(Level(-12.0, -20.0), 50);

  meter.ShowVerdict(QStringLiteral("ok, peak -6.2 dB, 2.4 s"), measures::Severity::Ok);
  SaveScreenshot("take-ok");
  EXPECT_EQ(meter.mode(), LevelMeterWidget::Mode::TakeCheck);
  EXPECT_EQ(meter.takeCheckText(), "ok, peak -6.2 dB, 2.4 s");
  EXPECT_EQ(meter.accessibleDescription(), "last take: ok, peak -6.2 dB, 2.4 s");
  EXPECT_EQ(meter.toolTip(), meter.takeCheckText());

  meter.ShowLevel(Level(-3.0, -9.0));  // a block still under way when the take was saved
  QTest::qWait(2 * LevelMeterWidget::kRefreshMs);
  EXPECT_EQ(meter.mode(), LevelMeterWidget::Mode::TakeCheck);
  EXPECT_EQ(meter.accessibleDescription(), "last take: ok, peak -6.2 dB, 2.4 s");

  meter.ShowVerdict(QStringLiteral("clipped (37 samples), cut at the end"),
                    measures::Severity::Bad);
  SaveScreenshot("take-bad");
  EXPECT_EQ(meter.takeCheckText(), "clipped (37 samples), cut at the end");
  EXPECT_EQ(meter.takeCheckSeverity(), measures::Severity::Bad);
  const QImage image = meter.grab().toImage();
  bool red = false;
  for (int x = 0; x < image.width() && !red; ++x) {
    for (int y = 0; y < image.height() && !red; ++y) {
      const QColor pixel = image.pixelColor(x, y);
      red = pixel.red() > 150 && pixel.green() < 80 && pixel.blue() < 80;
    }
  }
  EXPECT_TRUE(red);

  meter.ShowVerdict(QStringLiteral("cut at the start"), measures::Severity::Warning);
  SaveScreenshot("take-warning");
  EXPECT_EQ(meter.takeCheckSeverity(), measures::Severity::Warning);

  meter.Clear();
  EXPECT_EQ(meter.mode(), LevelMeterWidget::Mode::Empty);
  EXPECT_EQ(meter.accessibleDescription(), "");
}

}  // namespace
}  // namespace voxtar::ui
