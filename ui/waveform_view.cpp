// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/waveform_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

namespace voxtar::ui {

namespace {

using measures::WaveColumn;
using measures::WaveformOverview;

QColor Mix(const QColor& from, const QColor& to, double share) {
  const auto mix = [share](int a, int b) {
    return static_cast<int>(std::lround(a + (b - a) * share));
  };
  return {mix(from.red(), to.red()), mix(from.green(), to.green()), mix(from.blue(), to.blue())};
}

// Drawn from the palette, so that light and dark themes both read; red and green stay what they
// mean.
struct Colours {
  explicit Colours(const QPalette& palette)
      : base(palette.color(QPalette::Base)),
        voice(Mix(base, palette.color(QPalette::Highlight), 0.22)),
        trace(Mix(base, palette.color(QPalette::Text), 0.8)),
        axis(Mix(base, palette.color(QPalette::Text), 0.3)),
        mark(palette.color(QPalette::Highlight)),
        playhead(palette.color(QPalette::Text)) {}

  QColor base;
  QColor voice;
  QColor trace;
  QColor axis;
  QColor mark;
  QColor playhead;
  QColor clipped{230, 30, 30};
  QColor window{40, 170, 70};
};

// Columns [first, end) of `columns` showing the first `span` frames of the overview, each from
// its highest to its lowest sample; a clipped one red, with ticks at both edges to catch the eye.
void PaintTrace(QPainter& painter, const WaveformOverview& overview, int first, int end,
                int columns, int rows, std::uint64_t span, const Colours& colours) {
  const double half = (rows - 1) / 2.0;
  const auto row = [half](float value) {
    return static_cast<int>(
        std::lround(half - std::clamp(static_cast<double>(value), -1.0, 1.0) * half));
  };
  const int tick = std::max(2, rows / 16);
  std::vector<QRect> plain;
  std::vector<QRect> clipped;
  plain.reserve(static_cast<std::size_t>(end - first));
  for (int x = first; x < end; ++x) {
    const auto [from, to] = measures::ColumnFrames(static_cast<std::size_t>(x),
                                                   static_cast<std::size_t>(columns), span);
    const std::optional<WaveColumn> column = overview.Column(from, to);
    if (!column) {
      break;
    }
    if (column->min > column->max) {
      continue;  // nothing but NaN
    }
    const int top = row(column->max);
    const QRect line(x, top, 1, std::max(1, row(column->min) - top + 1));
    if (column->clipped) {
      clipped.insert(clipped.end(), {line, QRect(x, 0, 1, tick), QRect(x, rows - tick, 1, tick)});
    } else {
      plain.push_back(line);
    }
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(colours.trace);
  painter.drawRects(plain.data(), static_cast<int>(plain.size()));
  painter.setBrush(colours.clipped);
  painter.drawRects(clipped.data(), static_cast<int>(clipped.size()));
}

QString Seconds(double ms, int decimals) {
  return QString::number(ms / 1000.0, 'f', decimals);
}

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
  setAccessibleName(tr("Take waveform"));
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &WaveformView::Refresh);
  Describe();
}

WaveformView::~WaveformView() {
  // The reading stops at its next chunk; the thread is joined before the widget goes.
  reader_.Stop();
}

QSize WaveformView::sizeHint() const {
  return {400, 64};
}

QSize WaveformView::minimumSizeHint() const {
  return {64, 24};
}

std::uint64_t WaveformView::spanFrames() const {
  if (mode_ != Mode::Live) {
    return overview_.frames();
  }
  std::uint64_t span = std::max<std::uint64_t>(
      1, std::uint64_t{kLiveSpanMs} * static_cast<std::uint64_t>(overview_.sampleRate()) / 1000u);
  while (span < overview_.frames()) {
    span *= 2;
  }
  return span;
}

double WaveformView::XForMs(double ms) const {
  const std::uint64_t span = spanFrames();
  if (span == 0) {
    return 0.0;
  }
  return ms * overview_.sampleRate() / 1000.0 * width() / static_cast<double>(span);
}

std::optional<std::uint32_t> WaveformView::playheadMs() const {
  if (!playFromMs_) {
    return playheadMs_;
  }
  const auto moved = static_cast<std::uint64_t>(std::max<qint64>(0, playClock_.elapsed()));
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(*playFromMs_ + moved, playToMs_));
}

const measures::TakeMeasures* WaveformView::ShownMeasures() const {
  const bool ofThisTake =
      mode_ == Mode::Take && measures_ && measures_->frames == overview_.frames();
  return ofThisTake ? &*measures_ : nullptr;
}

void WaveformView::ShowTakeFile(const std::u16string& path,
                                std::optional<measures::TakeMeasures> measures) {
  StartReading([path](const std::stop_token& stop,
                      std::string* error) { return measures::OverviewOfFile(path, error, stop); },
               measures);
}

void WaveformView::StartReading(Reader read, std::optional<measures::TakeMeasures> measures) {
  ForgetMarks();
  measures_ = measures;
  unreadable_ = false;
  // A recording's own trace stays, stretched over the whole take, until its overview is there.
  if (mode_ != Mode::Live) {
    overview_ = {};
  }
  mode_ = Mode::Reading;
  RunTimer();
  Describe();
  update();
  // Starting stops the last reading and joins it.
  reader_.Start([this, read = std::move(read)](const std::stop_token& stop,
                                               const session::OffThread::Handover& handover) {
    std::string error;
    std::optional<WaveformOverview> overview;
    try {
      overview = read(stop, &error);
    } catch (const std::bad_alloc&) {
      overview.reset();
    }
    if (stop.stop_requested()) {
      return;
    }
    auto result = std::make_shared<std::optional<WaveformOverview>>(std::move(overview));
    handover([this, result] { Receive(std::move(*result)); });
  });
}

// Not for a take that another replaced while it was read: the reader drops that.
void WaveformView::Receive(std::optional<WaveformOverview> overview) {
  unreadable_ = !overview;
  mode_ = overview ? Mode::Take : Mode::Empty;
  overview_ = overview ? std::move(*overview) : WaveformOverview{};
  Describe();
  update();
  emit takeShown();
}

void WaveformView::SetMeasures(const measures::TakeMeasures& measures) {
  measures_ = measures;
  Describe();
  update();
}

void WaveformView::Clear() {
  reader_.Cancel();
  ForgetMarks();
  measures_.reset();
  overview_ = {};
  mode_ = Mode::Empty;
  unreadable_ = false;
  RunTimer();
  Describe();
  update();
}

void WaveformView::StartLive(const audio::CaptureFormat& format) {
  reader_.Cancel();
  ForgetMarks();
  measures_.reset();
  overview_ = WaveformOverview(format.sampleRate, format.channels, format.kind);
  mode_ = Mode::Live;
  unreadable_ = false;
  drawnFrames_ = 0;
  drawnSpan_ = spanFrames();
  RunTimer();
  Describe();
  update();
}

void WaveformView::AppendLive(std::span<const std::byte> block) {
  if (mode_ == Mode::Live) {
    overview_.Append(block);
  }
}

void WaveformView::AppendLiveLevel(const audio::LevelSummary& summary) {
  if (mode_ == Mode::Live) {
    overview_.Append(summary);
  }
}

void WaveformView::SetMarks(std::optional<std::uint32_t> recordMs,
                            std::optional<std::uint32_t> stopMs) {
  UpdateAtMs(recordMs_);
  UpdateAtMs(stopMs_);
  recordMs_ = recordMs;
  stopMs_ = stopMs;
  UpdateAtMs(recordMs_);
  UpdateAtMs(stopMs_);
}

void WaveformView::SetProfileWindows(const std::optional<measures::DeliveryProfile>& profile) {
  windows_.reset();
  if (profile &&
      (profile->minHeadS || profile->maxHeadS || profile->minTailS || profile->maxTailS)) {
    windows_ = Windows{profile->minHeadS, profile->maxHeadS, profile->minTailS, profile->maxTailS};
  }
  update();
}

void WaveformView::SetPlayhead(std::optional<std::uint32_t> ms) {
  UpdateAtMs(drawnPlayheadMs_);
  playFromMs_.reset();
  playheadMs_ = ms;
  drawnPlayheadMs_ = ms;
  UpdateAtMs(ms);
  RunTimer();
}

void WaveformView::StartPlayhead(std::uint32_t fromMs, std::uint32_t toMs) {
  UpdateAtMs(drawnPlayheadMs_);
  playheadMs_.reset();
  playFromMs_ = fromMs;
  playToMs_ = std::max(fromMs, toMs);
  playClock_.start();
  drawnPlayheadMs_ = fromMs;
  UpdateAtMs(fromMs);
  RunTimer();
}

void WaveformView::StopPlayhead() {
  SetPlayhead(std::nullopt);
}

void WaveformView::ForgetMarks() {
  recordMs_.reset();
  stopMs_.reset();
  playFromMs_.reset();
  playheadMs_.reset();
  drawnPlayheadMs_.reset();
}

void WaveformView::RunTimer() {
  if (mode_ == Mode::Live || playFromMs_) {
    if (!refresh_.isActive()) {
      refresh_.start();
    }
  } else {
    refresh_.stop();
  }
}

void WaveformView::Refresh() {
  if (mode_ == Mode::Live && overview_.frames() != drawnFrames_) {
    const std::uint64_t span = spanFrames();
    if (span != drawnSpan_) {
      update();  // the take outgrew the span: everything moves
    } else {
      UpdateFrames(drawnFrames_, overview_.frames());
    }
    drawnFrames_ = overview_.frames();
    drawnSpan_ = span;
    Describe();
  }
  if (playFromMs_) {
    const std::optional<std::uint32_t> now = playheadMs();
    if (now != drawnPlayheadMs_) {
      UpdateAtMs(drawnPlayheadMs_);
      UpdateAtMs(now);
      drawnPlayheadMs_ = now;
    }
    if (now == playToMs_) {
      playheadMs_ = now;  // the playback's end: the playhead stands there
      playFromMs_.reset();
    }
  }
  RunTimer();
}

void WaveformView::UpdateFrames(std::uint64_t from, std::uint64_t to) {
  const double rate = overview_.sampleRate();
  if (rate <= 0) {
    return;
  }
  const double left = XForMs(static_cast<double>(from) * 1000.0 / rate);
  const double right = XForMs(static_cast<double>(to) * 1000.0 / rate);
  const int x = static_cast<int>(std::floor(left)) - 1;
  update(QRect(x, 0, static_cast<int>(std::ceil(right)) + 2 - x, height()));
}

void WaveformView::UpdateAtMs(std::optional<std::uint32_t> ms) {
  if (ms) {
    const int x = static_cast<int>(std::floor(XForMs(*ms)));
    update(QRect(x - 6, 0, 13, height()));  // the mark and its flag
  }
}

void WaveformView::Describe() {
  switch (mode_) {
    case Mode::Empty:
      SetDescription(unreadable_ ? tr("The take cannot be read") : tr("No take"));
      return;
    case Mode::Reading:
      SetDescription(tr("Reading the take"));
      return;
    case Mode::Live:
      SetDescription(tr("Recording, %1 s").arg(overview_.lengthMs() / 1000u));
      return;
    case Mode::Take:
      break;
  }
  QString text = Seconds(overview_.lengthMs(), 1) + tr(" s");
  if (const measures::TakeMeasures* measures = ShownMeasures()) {
    text += measures->voiced ? tr(", voice %1 to %2 s")
                                   .arg(Seconds(measures->headMs, 2),
                                        Seconds(measures->headMs + measures->voicedSpanMs, 2))
                             : tr(", silent");
  }
  text += tr(", peak %1 dB").arg(QString::number(audio::ToDbfs(overview_.peak()), 'f', 1));
  if (overview_.clipped()) {
    text += tr(", clipped");
  }
  SetDescription(text);
}

void WaveformView::SetDescription(const QString& text) {
  // Only on a change: a screen reader hears a change event for every call.
  if (accessibleDescription() != text) {
    setAccessibleDescription(text);
  }
}

void WaveformView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const Colours colours(palette());
  painter.fillRect(event->rect(), colours.base);
  const std::uint64_t span = spanFrames();
  if (span == 0) {
    return;
  }
  // Drawn in device pixels: one column of the trace is one pixel of the screen.
  const double dpr = devicePixelRatioF();
  const int columns = std::max(1, static_cast<int>(std::lround(width() * dpr)));
  const int rows = std::max(1, static_cast<int>(std::lround(height() * dpr)));
  painter.scale(1.0 / dpr, 1.0 / dpr);
  const int first =
      std::clamp(static_cast<int>(std::floor(event->rect().left() * dpr)), 0, columns);
  const int end =
      std::clamp(static_cast<int>(std::ceil((event->rect().right() + 1) * dpr)), first, columns);
  painter.setClipRect(QRect(first, 0, end - first, rows));

  const double framesPerMs = overview_.sampleRate() / 1000.0;
  const auto xOfFrame = [&](double frame) { return frame * columns / static_cast<double>(span); };
  const auto band = [&](double fromFrame, double toFrame, int top, int bandRows,
                        const QColor& colour) {
    const double left = xOfFrame(std::max(0.0, fromFrame));
    const double right = xOfFrame(std::min(static_cast<double>(span), toFrame));
    if (right > left) {
      painter.fillRect(QRectF(left, top, std::max(1.0, right - left), bandRows), colour);
    }
  };

  if (const measures::TakeMeasures* measures = ShownMeasures(); measures && measures->voiced) {
    band(measures->headMs * framesPerMs, (measures->headMs + measures->voicedSpanMs) * framesPerMs,
         0, rows, colours.voice);
  }
  const int middle = static_cast<int>(std::lround((rows - 1) / 2.0));
  painter.fillRect(QRect(first, middle, end - first, 1), colours.axis);

  PaintTrace(painter, overview_, first, end, columns, rows, span, colours);

  // The profile's windows: along the top where the voice may start, along the bottom where it
  // may end.
  const int bandRows = std::max(2, static_cast<int>(std::lround(3 * dpr)));
  if (windows_ && (windows_->minHeadS || windows_->maxHeadS)) {
    band(
        windows_->minHeadS.value_or(0.0) * 1000.0 * framesPerMs,
        windows_->maxHeadS ? *windows_->maxHeadS * 1000.0 * framesPerMs : static_cast<double>(span),
        0, bandRows, colours.window);
  }
  if (windows_ && mode_ == Mode::Take && (windows_->minTailS || windows_->maxTailS)) {
    const auto takeEnd = static_cast<double>(overview_.frames());
    band(windows_->maxTailS ? takeEnd - *windows_->maxTailS * 1000.0 * framesPerMs : 0.0,
         takeEnd - windows_->minTailS.value_or(0.0) * 1000.0 * framesPerMs, rows - bandRows,
         bandRows, colours.window);
  }

  // Record (a flag), Stop (a square) and the playhead, each a line one logical pixel wide.
  const int lineWidth = std::max(1, static_cast<int>(std::lround(dpr)));
  const double flag = 5.0 * dpr;
  const auto line = [&](std::optional<std::uint32_t> ms, const QColor& colour) {
    const double x = ms ? std::floor(xOfFrame(*ms * framesPerMs)) : 0.0;
    if (ms) {
      painter.fillRect(QRectF(x, 0, lineWidth, rows), colour);
    }
    return x;
  };
  painter.setBrush(colours.mark);
  if (recordMs_) {
    const double x = line(recordMs_, colours.mark);
    painter.drawPolygon(QPolygonF({{x, 0}, {x + flag, flag / 2}, {x, flag}}));
  }
  if (stopMs_) {
    const double x = line(stopMs_, colours.mark);
    painter.fillRect(QRectF(x - flag / 2, 0, flag, flag), colours.mark);
  }
  line(drawnPlayheadMs_, colours.playhead);
}

}  // namespace voxtar::ui
