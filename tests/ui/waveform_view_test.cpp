// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/waveform_view.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QImage>
#include <QPaintEvent>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>

#include "platform/utf8.h"
#include "testing/synthetic_take.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/accessibility_test_support.h"

namespace voxtar::ui {
namespace {

using audio::WaveElement;
using measures::TakeMeasures;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// 3 s at 8 kHz: a tone at half scale from 0.5 to 1.5 s and an overdriven burst from 2.5 to 2.6 s.
WaveElement ClippedTake() {
  WaveElement take = audio::SilentTake(kWav16, 8000, 1, 3.0);
  audio::AddTone(&take, 0.5, 1.5, 0.5, 200.0);
  audio::AddTone(&take, 2.5, 2.6, 1.5, 200.0);
  return take;
}

// A view that counts its paints.
class CountingView : public ui::WaveformView {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    ui::WaveformView::paintEvent(event);
  }
};

class Waveform : public ::testing::Test {
 protected:
  Waveform() {
    view.resize(600, 80);
    view.show();
  }

  std::u16string Save(const WaveElement& take, const char* name = "take.wav") {
    std::string error;
    EXPECT_TRUE(audio::WriteWaveFile(take, platform::FromUtf8((tmp / name).string()), &error));
    return platform::FromUtf8((tmp / name).string());
  }
  TakeMeasures Measure(const WaveElement& take) {
    TakeMeasures measures;
    std::string error;
    EXPECT_TRUE(measures::MeasureTakeFile(Save(take, "measured.wav"), &measures, &error));
    return measures;
  }
  // Shows the take and waits for its overview.
  void Show(const WaveElement& take, std::optional<TakeMeasures> measures = std::nullopt) {
    QSignalSpy shown(&view, &ui::WaveformView::takeShown);
    view.ShowTakeFile(Save(take, "shown.wav"), measures);
    ASSERT_TRUE(shown.wait(5000));
  }
  std::string Description() {
    return testing::AccessibleText(&view, QAccessible::Description).toStdString();
  }
  QColor Pixel(const QImage& image, double ms, double fromTop) {
    return image.pixelColor(static_cast<int>(std::lround(view.XForMs(ms))),
                            static_cast<int>(std::lround(fromTop * (view.height() - 1))));
  }

  testing::TempDir tmp;
  CountingView view;
};

TEST_F(Waveform, TellsAScreenReaderWhatItShows) {
  EXPECT_EQ(testing::AccessibleText(&view), "Take waveform");
  EXPECT_EQ(view.focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(Description(), "No take");

  const WaveElement spoken = audio::SpokenTake(kWav16);
  const WaveElement silent = audio::SilentTake(kWav16, 44100, 1, 2.0);
  const WaveElement loud = audio::SpokenTake(kWav16, 44100, 1, 1.2);
  const struct {
    const WaveElement& take;
    std::optional<TakeMeasures> measures;
    const char* description;
  } cases[] = {
      {spoken, Measure(spoken), "2.4 s, voice 0.30 to 1.90 s, peak -6.0 dB"},
      {spoken, std::nullopt, "2.4 s, peak -6.0 dB"},
      {spoken, Measure(silent), "2.4 s, peak -6.0 dB"},  // another take's measures
      {silent, Measure(silent), "2.0 s, silent, peak -120.0 dB"},
      {loud, Measure(loud), "2.4 s, voice 0.30 to 1.90 s, peak 0.0 dB, clipped"},
  };
  for (const auto& c : cases) {
    Show(c.take, c.measures);
    EXPECT_EQ(Description(), c.description);
  }
  view.Clear();
  EXPECT_EQ(Description(), "No take");

  testing::WriteBytes(tmp / "notes.wav", "not a sound file");
  QSignalSpy shown(&view, &ui::WaveformView::takeShown);
  view.ShowTakeFile(platform::FromUtf8((tmp / "notes.wav").string()));
  ASSERT_TRUE(shown.wait(5000));
  EXPECT_EQ(view.mode(), ui::WaveformView::Mode::Empty);
  EXPECT_EQ(Description(), "The take cannot be read");

  view.StartLive({audio::SampleKind::Int16, 8000, 1});
  EXPECT_EQ(Description(), "Recording, 0 s");
  view.AppendLiveLevel(audio::LevelSummary{0.5, -6.0, -9.0, false, 12000});
  QTest::qWait(3 * ui::WaveformView::kRefreshMs);
  EXPECT_EQ(Description(), "Recording, 1 s");
}

TEST_F(Waveform, DrawsVoiceClippingMarksAndWindowsReadablyInLightAndDarkPalettes) {
  const WaveElement take = ClippedTake();
  QPalette dark;
  for (const auto& [role, colour] : {std::pair{QPalette::Base, QColor(30, 30, 30)},
                                     {QPalette::Text, QColor(230, 230, 230)},
                                     {QPalette::Highlight, QColor(60, 110, 200)}}) {
    dark.setColor(role, colour);
  }
  for (const QPalette& palette : {QPalette(), dark}) {
    view.setPalette(palette);
    Show(take, Measure(take));
    view.SetMarks(400, 2800);
    view.SetPlayhead(2000);
    view.SetProfileWindows(measures::BuiltInProfile("acx"));  // head 0.5 to 1 s, tail 1 to 5 s
    const QImage image = view.grab().toImage();
    if (const char* dir = std::getenv("VOXTAR_SCREENSHOT_DIR")) {
      image.save(QString::fromUtf8(dir) +
                 (palette == dark ? "/waveform-dark.png" : "/waveform.png"));
    }
    const QColor base = palette.color(QPalette::Base);
    const auto contrast = [&](const QColor& colour) {
      return std::abs(colour.lightness() - base.lightness());
    };
    EXPECT_EQ(Pixel(image, 250, 0.1), base);                           // room before the voice
    EXPECT_GT(contrast(Pixel(image, 1000, 0.1)), 10);                  // the voice, shaded
    EXPECT_GT(contrast(Pixel(image, 1000, 0.35)), 100);                // its trace
    EXPECT_EQ(Pixel(image, 1000, 0.1), Pixel(image, 2000 - 30, 0.1));  // silence inside the voice
    for (const double row : {0.0, 0.5, 1.0}) {
      const QColor clip = Pixel(image, 2550, row);
      EXPECT_TRUE(clip.red() > 200 && clip.green() < 80) << clip.name().toStdString();
    }
    EXPECT_EQ(Pixel(image, 400, 0.5), palette.color(QPalette::Highlight));
    EXPECT_EQ(Pixel(image, 2000, 0.5), palette.color(QPalette::Text));
    EXPECT_GT(Pixel(image, 750, 0.0).green(), 150);  // the profile's windows for the voice's
    EXPECT_EQ(Pixel(image, 250, 0.0), base);         // start (0.5 to 1 s) and end (up to 2 s)
    EXPECT_GT(Pixel(image, 1500, 1.0).green(), 150);
    EXPECT_EQ(Pixel(image, 2200, 1.0), Pixel(image, 1000, 0.1));
  }
}

TEST_F(Waveform, DrawsARecordingAsItComesAndIgnoresBlocksAfterIt) {
  const WaveElement take = ClippedTake();
  view.StartLive({audio::SampleKind::Int16, 8000, 1});
  std::vector<std::byte> block(80 * take.bytesPerFrame());
  for (std::uint64_t at = 0; at < take.frames(); at += 80) {
    take.samples.CopyOut(at, block);
    view.AppendLive(block);
  }
  QTest::qWait(3 * ui::WaveformView::kRefreshMs);
  EXPECT_EQ(view.spanFrames(), 80000u);  // 10 s, the take's 3 s on its left
  QImage image = view.grab().toImage();
  const QColor base = view.palette().color(QPalette::Base);
  EXPECT_NE(Pixel(image, 1000, 0.3), base);
  EXPECT_GT(Pixel(image, 2550, 0.0).red(), 200);
  EXPECT_EQ(Pixel(image, 5000, 0.3), base);

  const audio::LevelSummary summary{0.25, -12.0, -15.0, false, 8000};
  for (int second = 3; second < 12; ++second) {
    view.AppendLiveLevel(summary);
  }
  QTest::qWait(3 * ui::WaveformView::kRefreshMs);
  EXPECT_EQ(view.spanFrames(), 160000u);  // outgrown: 20 s
  image = view.grab().toImage();
  EXPECT_NE(Pixel(image, 11000, 0.4), base);

  view.ShowTakeFile(Save(take, "stopped.wav"));
  const std::uint64_t frames = view.overview().frames();
  view.AppendLiveLevel(summary);  // a block still under way at Stop
  EXPECT_EQ(view.overview().frames(), frames);
}

TEST_F(Waveform, APlayheadMovesWhilePlayingAndNothingRepaintsOtherwise) {
  Show(ClippedTake());
  QTest::qWait(50);
  view.paints = 0;
  view.StartPlayhead(100, 400);
  QTest::qWait(500);
  EXPECT_EQ(view.playheadMs(), 400u);
  EXPECT_GE(view.paints, 5);
  view.paints = 0;
  QTest::qWait(200);
  EXPECT_EQ(view.paints, 0);
  view.StopPlayhead();
  EXPECT_EQ(view.playheadMs(), std::nullopt);
}

TEST_F(Waveform, ATakeReplacedOrClearedWhileReadIsNeverShown) {
  WaveElement longTake = audio::SilentTake(kWav16, 48000, 2, 20.0);
  audio::FillHiss(&longTake, 0.01);
  const std::u16string longFile = Save(longTake, "long.wav");
  const WaveElement shortTake = audio::SpokenTake(kWav16);

  QSignalSpy shown(&view, &ui::WaveformView::takeShown);
  view.ShowTakeFile(longFile);
  view.ShowTakeFile(Save(shortTake, "short.wav"));
  ASSERT_TRUE(shown.wait(5000));
  view.ShowTakeFile(longFile);
  view.Clear();
  QTest::qWait(300);
  EXPECT_EQ(shown.size(), 1);
  EXPECT_EQ(view.mode(), ui::WaveformView::Mode::Empty);

  // A view closed while it reads: the reading stops and nothing lands on it.
  auto closing = std::make_unique<ui::WaveformView>();
  closing->ShowTakeFile(longFile);
  closing.reset();
  QTest::qWait(100);
}

}  // namespace
}  // namespace voxtar::ui
