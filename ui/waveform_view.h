// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform of the current take: the lowest and highest sample of each pixel column over all
// channels, the voice shaded (the room before and after it left plain), clipped columns in red,
// marks where Record and Stop were pressed, the delivery profile's head window along the top
// (where it wants the voice to start) and its tail window along the bottom (where it wants the
// voice to end), and a playhead while the take plays. While recording it draws the sound as it
// comes in.
//
// A take's overview is computed on a worker thread; until it is there the view shows nothing of
// that take (after a recording, its live trace stays until then). It draws no text: a screen
// reader gets everything from the accessible description. It never takes the focus.
//
// Threads: GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>

#include "audio/audio_engine.h"
#include "audio/level_meter.h"
#include "audio/wave_element.h"
#include "measures/delivery_profile.h"
#include "measures/take_measures.h"
#include "measures/waveform_overview.h"
#include "session/off_thread.h"

namespace voxtar::ui {

class WaveformView : public QWidget {
  Q_OBJECT

 public:
  // The live trace and the playhead move at display rate; nothing runs otherwise.
  static constexpr int kRefreshMs = 16;
  // A recording starts on this span and doubles it whenever the take outgrows it.
  static constexpr std::uint32_t kLiveSpanMs = 10000;

  enum class Mode { Empty, Reading, Take, Live };

  explicit WaveformView(QWidget* parent = nullptr);
  ~WaveformView() override;

  Mode mode() const { return mode_; }
  const measures::WaveformOverview& overview() const { return overview_; }
  // The time shown across the view's width, in frames of the take.
  std::uint64_t spanFrames() const;
  // The x (logical pixels) of the time `ms` into the take.
  double XForMs(double ms) const;
  // The playhead's time now; none when there is none.
  std::optional<std::uint32_t> playheadMs() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 public slots:
  // A take file. `measures` (what MeasureTakeFile found for this take) give the voice, head and
  // tail; without them, or when they are of another length, the view shows the trace alone.
  // Marks and the playhead go.
  void ShowTakeFile(const std::u16string& path,
                    std::optional<voxtar::measures::TakeMeasures> measures = std::nullopt);
  // The measures of the take shown or being read, when they come later than the take.
  void SetMeasures(const voxtar::measures::TakeMeasures& measures);
  // No take: marks and playhead go.
  void Clear();

  // A recording starts in `format`: an empty trace, no marks. Then each captured block, as its
  // samples or as its level summary (its peak both ways: what the capture side posts); blocks
  // while no recording is shown are ignored (a late one after Stop).
  void StartLive(const voxtar::audio::CaptureFormat& format);
  void AppendLive(std::span<const std::byte> block);
  void AppendLiveLevel(const voxtar::audio::LevelSummary& summary);

  // Where Record and Stop were pressed, in ms from the take's start (the take may begin before
  // Record: its pre-roll); none: no mark.
  void SetMarks(std::optional<std::uint32_t> recordMs, std::optional<std::uint32_t> stopMs);
  // The head and tail windows of the profile (minHeadS..maxHeadS, minTailS..maxTailS); none
  // hides them. Kept from take to take.
  void SetProfileWindows(const std::optional<voxtar::measures::DeliveryProfile>& profile);
  // A playhead standing at `ms`, or none.
  void SetPlayhead(std::optional<std::uint32_t> ms);
  // A playhead that moves from `fromMs` in real time and stops at `toMs` (a playback of that
  // stretch); SetPlayhead or StopPlayhead ends it.
  void StartPlayhead(std::uint32_t fromMs, std::uint32_t toMs);
  void StopPlayhead();

 signals:
  // A take's overview is shown (or could not be read: mode Empty).
  void takeShown();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Where a profile wants the voice to start (seconds from the take's start) and to end
  // (seconds before its end); none when it judges neither end.
  struct Windows {
    std::optional<double> minHeadS;
    std::optional<double> maxHeadS;
    std::optional<double> minTailS;
    std::optional<double> maxTailS;
  };
  using Reader = std::function<std::optional<measures::WaveformOverview>(const std::stop_token&,
                                                                         std::string*)>;

  void StartReading(Reader read, std::optional<measures::TakeMeasures> measures);
  void Receive(std::optional<measures::WaveformOverview> overview);
  // The measures when they are of the take shown.
  const measures::TakeMeasures* ShownMeasures() const;
  void ForgetMarks();
  void Refresh();
  void RunTimer();
  void UpdateFrames(std::uint64_t from, std::uint64_t to);
  void UpdateAtMs(std::optional<std::uint32_t> ms);
  void Describe();
  void SetDescription(const QString& text);

  Mode mode_ = Mode::Empty;
  bool unreadable_ = false;  // the last take could not be read
  measures::WaveformOverview overview_;
  std::optional<measures::TakeMeasures> measures_;
  std::optional<Windows> windows_;
  std::optional<std::uint32_t> recordMs_;
  std::optional<std::uint32_t> stopMs_;
  // Of the live trace at the last refresh.
  std::uint64_t drawnFrames_ = 0;
  std::uint64_t drawnSpan_ = 0;

  std::optional<std::uint32_t> playheadMs_;  // standing
  std::optional<std::uint32_t> playFromMs_;  // moving from here to playToMs_
  std::uint32_t playToMs_ = 0;
  QElapsedTimer playClock_;
  std::optional<std::uint32_t> drawnPlayheadMs_;  // as of the last refresh: what paint draws

  QTimer refresh_;
  session::OffThread reader_;  // the last take's reading; a new one stops and joins it
};

}  // namespace voxtar::ui
